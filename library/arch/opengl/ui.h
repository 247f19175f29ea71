// The immediate-mode user interface: widgets are calls made while a frame is
// drawn; the record keeps only what lasts between frames (hot and active
// widgets, anchors, the mouse). Widget ids are fractions built from the path
// of ordinals below the root anchor, so they repeat from frame to frame.
//
// Interface coordinates: y from -1 (bottom) to 1 (top); x from -r to r with
// r = width / height under keep aspect. Rectangles: left, right, top, bottom.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

struct display_context;
struct display_frame;

struct hid {
  uint32_t den;
  uint32_t num;
};

struct ui;
using ui_layout_fn = int32_t (*)(ui* u, uint32_t a, uint32_t b, uint32_t c, void* data);

struct ui_anchor_record {
  int32_t index;
  hid id;
  int32_t child_counter;
  void* layout_data;
  ui_layout_fn layout;
  float position[2];
};

struct ui_pixel_rect {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// The mouse as the interface's input handler last saw it.
struct ui_mouse {
  int32_t x;  // window pixels from the top left
  int32_t y;
  int32_t state;
  int32_t previous;
  int32_t origin_x;
  int32_t origin_y;
  float distance;
};

constexpr int32_t UI_MAX_KEYS = 64;

struct ui {
  display_frame* frame;
  hid hot;
  hid active;
  array anchors;       // of ui_anchor_record
  array layout_stack;  // of int32_t
  uint32_t multisample;
  int32_t current_anchor;
  array clip_stack;    // of ui_pixel_rect
  float dots_per_inch;
  float pixel_ratio;
  uint32_t keep_aspect;
  int32_t font_heights[5];
  float text_color[4];
  float f0;
  float f1;
  int32_t i0;
  hid focus;  // the widget that takes typed keys
  ui_mouse mouse;
  int32_t keys[UI_MAX_KEYS];  // typed since the last commit
  int32_t key_count;
};

void ui_make(ui** handle);
void ui_destroy(ui** handle);
void ui_attach(ui* u, display_context* context);
void ui_detach(ui* u, display_context* context);
void ui_define(ui* u, display_frame* frame);
void ui_commit(ui* u);
display_frame* ui_frame(ui* u);

hid hid_make(const int32_t* path, int32_t length);
void hid_to_mobius(uint32_t den, uint32_t num, uint32_t out[4]);
int hid_is_none(hid id);
int hid_equal(hid a, hid b);
hid ui_id(ui* u);
int ui_is_hot(const ui* u, hid id);
int ui_is_active(const ui* u, hid id);
int ui_is_none_active(const ui* u);
void ui_highlight(ui* u, hid id);
void ui_away(ui* u, hid id);
void ui_activate(ui* u, hid id);
void ui_deactivate(ui* u);

int32_t ui_layout_begin(ui* u, hid id, void* data, ui_layout_fn fn);
void ui_layout_end(ui* u);
int32_t ui_add(ui* u, uint32_t a, uint32_t b, uint32_t c);
void ui_anchor(const ui* u, float position[2]);
void ui_set_anchor(ui* u, const float position[2]);

void ui_cliparea_begin(ui* u, const float rect[4]);
void ui_cliparea_end(ui* u);

void ui_mouse_handler(void* user, const int32_t* event, int32_t words);
void ui_input_mouse_action(ui* u, int32_t button, int32_t pressed);
void ui_input_mouse_motion(ui* u, int32_t x, int32_t y);
int ui_mouse_action_started(ui* u);
int ui_mouse_action_ended(ui* u);
void ui_mouse_action_get_motion(const ui* u, float out[2]);
float ui_mouse_action_aggregate_distance(const ui* u);
int ui_mouse_inside(const ui* u, const float rect[4]);
ui_mouse* ui_mouse_state(ui* u);

// Typed keys: gathered by the keyboard handler between frames, readable by
// every widget during a frame, dropped at ui_commit.
void ui_keyboard_handler(void* user, const int32_t* event, int32_t words);
const int32_t* ui_keys(const ui* u, int32_t* count);
void ui_keys_clear(ui* u);

void get_viewport(float out[4]);
void ui_pixels_into_coordinates(const ui* u, float out[2], const int32_t pixels[2]);
void ui_coordinates_into_pixels(const ui* u, int32_t out[2], const float length[2]);
void in_pixels(uint32_t keep_aspect, int32_t out[2], const float point[2]);
void ui_extent(const ui* u, float out[4]);
int32_t ui_font_height_in_pixels(const ui* u, int32_t size);
float ui_font_height(const ui* u, int32_t size);
float ui_vertical_period(const ui* u);
float ui_horizontal_period(const ui* u);
float* ui_text_color(ui* u);

float ui_reg_f0(const ui* u);
void ui_reg_set_f0(ui* u, float value);
float ui_reg_f1(const ui* u);
void ui_reg_set_f1(ui* u, float value);
int32_t ui_reg_i0(const ui* u);
void ui_reg_set_i0(ui* u, int32_t value);
