#include <zeal/arch/opengl/ui.h>

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/arch/opengl/trace.h>
#include <zeal/base/log.h>

static const char* const SOURCE = "library/arch/opengl/ui";


static ui_anchor_record* anchor_at(const ui* u, int32_t index) {
  return static_cast<ui_anchor_record*>(array_element(&u->anchors, sizeof(ui_anchor_record), index));
}

void ui_make(ui** handle) {
  auto* u = static_cast<ui*>(calloc(1, sizeof(ui)));
  *handle = u;
  if (u == nullptr) return;
  u->multisample = 1;
  u->dots_per_inch = 72.0f;
  u->pixel_ratio = 4.0f / 3.0f;
  u->keep_aspect = 1;
  const int32_t heights[5] = {5, 8, 13, 21, 35};
  for (int k = 0; k < 5; ++k) u->font_heights[k] = heights[k];
  u->text_color[3] = 1.0f;
  int32_t root_path[1] = {0};
  ui_anchor_record root{};
  root.id = hid_make(root_path, 1);
  array_append(&u->anchors, &root, sizeof(root));
}

void ui_destroy(ui** handle) {
  ui* u = *handle;
  if (u == nullptr) return;
  array_reset(&u->anchors);
  array_reset(&u->layout_stack);
  array_reset(&u->clip_stack);
  free(u);
  *handle = nullptr;
}

void ui_attach(ui* u, display_context* context) {
  display_device* device = display_context_get_device(context);
  if (device == nullptr) return;
  event_add_handler(device, INPUT_MOUSE_ID, ui_mouse_handler, u);
  event_add_handler(device, INPUT_KEYBOARD_ID, ui_keyboard_handler, u);
  // A device without a view yet has no ratio; keep the one we have.
  float ratio = display_device_pixel_ratio(device);
  if (std::isfinite(ratio) && ratio > 0.0f) u->pixel_ratio = ratio;
}

void ui_detach(ui* u, display_context* context) {
  display_device* device = display_context_get_device(context);
  if (device == nullptr) return;
  event_rem_handler(device, ui_mouse_handler, u);
  event_rem_handler(device, ui_keyboard_handler, u);
}

void get_viewport(float out[4]) {
  GLint v[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, v);
  opengl_trace(SOURCE, 292, nullptr);
  out[0] = static_cast<float>(v[0]);
  out[1] = static_cast<float>(v[0] + v[2]);
  out[2] = static_cast<float>(v[1]);
  out[3] = static_cast<float>(v[1] + v[3]);
}

// Width and height of the viewport.
static void viewport_size(float* width, float* height) {
  float v[4];
  get_viewport(v);
  *width = v[1] - v[0];
  *height = v[3] - v[2];
}

static float aspect(uint32_t keep_aspect) {
  if (!keep_aspect) return 1.0f;
  float w, h;
  viewport_size(&w, &h);
  return std::fabs(w) / std::fabs(h);
}

void ui_define(ui* u, display_frame* frame) {
  opengl_trace(SOURCE, 456, nullptr);
  u->current_anchor = 0;
  array_reset(&u->layout_stack);
  array_reset(&u->clip_stack);
  opengl_trace(SOURCE, 463, nullptr);
  u->frame = frame;
  ui_anchor_record* root = anchor_at(u, 0);
  if (root != nullptr) root->child_counter = 0;
  float r = aspect(u->keep_aspect);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  opengl_trace(SOURCE, 482, nullptr);
  glOrtho(-r, r, -1.0, 1.0, -1.0, 1.0);
  opengl_trace(SOURCE, 485, nullptr);
  glMatrixMode(GL_MODELVIEW);
  if (root != nullptr) {
    root->position[0] = -r;
    root->position[1] = 1.0f;
  }
  if (u->multisample) {
    glEnable(GL_MULTISAMPLE);
    GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
      log_error("%s:%d %s", SOURCE, 496, opengl_error_text(error));
      u->multisample = 0;
    }
  }
}

void ui_commit(ui* u) {
  if (u->multisample) glDisable(GL_MULTISAMPLE);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  u->frame = nullptr;
  ui_keys_clear(u);
}

display_frame* ui_frame(ui* u) { return u->frame; }

// Ids

int hid_is_none(hid id) { return id.den == 0 && id.num == 0; }
int hid_equal(hid a, hid b) { return a.den == b.den && a.num == b.num; }

static hid proper(int64_t den, int64_t num) {
  if (num < 0 || num > den || den > UINT32_MAX) return hid{0, 0};
  return hid{static_cast<uint32_t>(den), static_cast<uint32_t>(num)};
}

hid hid_make(const int32_t* path, int32_t length) {
  int64_t last = 1, before = 0;
  for (int32_t i = length - 1; i >= 0; --i) {
    int64_t a = static_cast<int64_t>(path[i]) + 2;
    if (a < (i == 0 ? 0 : 1)) return hid{0, 0};
    int64_t next = a * last + before;
    if (next > UINT32_MAX) return hid{0, 0};
    before = last;
    last = next;
  }
  return proper(last, before);
}

void hid_to_mobius(uint32_t den, uint32_t num, uint32_t out[4]) {
  int64_t old_r = den, r = num;
  int64_t old_s = 1, s = 0;
  int64_t old_t = 0, t = 1;
  while (r != 0) {
    int64_t q = old_r / r;
    int64_t next = old_r - q * r;
    old_r = r;
    r = next;
    next = old_s - q * s;
    old_s = s;
    s = next;
    next = old_t - q * t;
    old_t = t;
    t = next;
  }
  out[0] = den;
  out[1] = static_cast<uint32_t>(old_t < 0 ? -old_t : old_t);
  out[2] = num;
  out[3] = static_cast<uint32_t>(old_s < 0 ? -old_s : old_s);
}

hid ui_id(ui* u) {
  ui_anchor_record* anchor = anchor_at(u, u->current_anchor);
  if (anchor == nullptr) return hid{0, 0};
  int64_t k = anchor->child_counter++;
  uint32_t m[4];
  hid_to_mobius(anchor->id.den, anchor->id.num, m);
  return proper(static_cast<int64_t>(m[0]) * (k + 2) + m[1], static_cast<int64_t>(m[2]) * (k + 2) + m[3]);
}

int ui_is_hot(const ui* u, hid id) { return hid_equal(u->hot, id); }
int ui_is_active(const ui* u, hid id) { return hid_equal(u->active, id); }
int ui_is_none_active(const ui* u) { return hid_is_none(u->active); }

void ui_highlight(ui* u, hid id) {
  if (ui_is_none_active(u) || ui_is_active(u, id)) u->hot = id;
}

void ui_away(ui* u, hid id) {
  if (ui_is_hot(u, id)) u->hot = hid{0, 0};
}

void ui_activate(ui* u, hid id) { u->active = id; }
void ui_deactivate(ui* u) { u->active = hid{0, 0}; }

// Layout

int32_t ui_layout_begin(ui* u, hid id, void* data, ui_layout_fn fn) {
  int32_t previous = u->current_anchor;
  array_append(&u->layout_stack, &previous, sizeof(previous));
  ui_anchor_record* was = anchor_at(u, previous);
  float position[2] = {was ? was->position[0] : 0.0f, was ? was->position[1] : 0.0f};
  int32_t n = array_count(&u->anchors, sizeof(ui_anchor_record));
  int32_t index = -1;
  for (int32_t i = 0; i < n && index < 0; ++i)
    if (hid_equal(anchor_at(u, i)->id, id)) index = i;
  if (index < 0) {
    ui_anchor_record record{};
    record.index = n;
    record.id = id;
    array_append(&u->anchors, &record, sizeof(record));
    if (anchor_at(u, n) == nullptr) return previous;  // out of memory: stay where we are
    index = n;
  }
  ui_anchor_record* anchor = anchor_at(u, index);
  anchor->layout_data = data;
  anchor->layout = fn;
  anchor->child_counter = 0;
  anchor->position[0] = position[0];
  anchor->position[1] = position[1];
  u->current_anchor = index;
  return index;
}

void ui_layout_end(ui* u) {
  int32_t n = array_count(&u->layout_stack, sizeof(int32_t));
  if (n <= 0) return;
  ui_anchor_record* anchor = anchor_at(u, u->current_anchor);
  if (anchor != nullptr) {
    anchor->layout = nullptr;
    anchor->layout_data = nullptr;
  }
  u->current_anchor = *static_cast<int32_t*>(array_element(&u->layout_stack, sizeof(int32_t), n - 1));
  array_truncate(&u->layout_stack, sizeof(int32_t), n - 1);
}

int32_t ui_add(ui* u, uint32_t a, uint32_t b, uint32_t c) {
  ui_anchor_record* anchor = anchor_at(u, u->current_anchor);
  if (anchor == nullptr || anchor->layout == nullptr) return 0;
  return anchor->layout(u, a, b, c, anchor->layout_data);
}

void ui_anchor(const ui* u, float position[2]) {
  ui_anchor_record* anchor = anchor_at(u, u->current_anchor);
  position[0] = anchor ? anchor->position[0] : 0.0f;
  position[1] = anchor ? anchor->position[1] : 0.0f;
}

void ui_set_anchor(ui* u, const float position[2]) {
  ui_anchor_record* anchor = anchor_at(u, u->current_anchor);
  if (anchor == nullptr) return;
  anchor->position[0] = position[0];
  anchor->position[1] = position[1];
}

// Clip areas

static void scissor(const ui_pixel_rect& r) {
  glScissor(r.x, r.y, r.width, r.height);
  opengl_trace(SOURCE, 721, nullptr);
  glEnable(GL_SCISSOR_TEST);
  opengl_trace(SOURCE, 723, nullptr);
}

void ui_cliparea_begin(ui* u, const float rect[4]) {
  const float top_left[2] = {rect[0], rect[2]};
  const float bottom_right[2] = {rect[1], rect[3]};
  int32_t a[2], b[2];
  in_pixels(u->keep_aspect, a, top_left);
  in_pixels(u->keep_aspect, b, bottom_right);
  ui_pixel_rect r{a[0], b[1], std::abs(b[0] - a[0]), std::abs(a[1] - b[1])};
  scissor(r);
  array_append(&u->clip_stack, &r, sizeof(r));
}

void ui_cliparea_end(ui* u) {
  int32_t n = array_count(&u->clip_stack, sizeof(ui_pixel_rect));
  if (n > 0) array_truncate(&u->clip_stack, sizeof(ui_pixel_rect), n - 1);
  if (n > 1) {
    scissor(*static_cast<ui_pixel_rect*>(array_element(&u->clip_stack, sizeof(ui_pixel_rect), n - 2)));
  } else {
    glDisable(GL_SCISSOR_TEST);
    opengl_trace(SOURCE, 718, nullptr);
  }
}

// Mouse and keys

ui_mouse* ui_mouse_state(ui* u) { return &u->mouse; }

void ui_mouse_handler(void* user, const int32_t* event, int32_t words) {
  if (words < INPUT_EVENT_WORDS || static_cast<uint32_t>(event[0]) != INPUT_MOUSE_ID) return;
  auto* u = static_cast<ui*>(user);
  if (event[2] == 4) ui_input_mouse_motion(u, event[3], event[5]);
  else if (event[2] == 1 || event[2] == 2) ui_input_mouse_action(u, event[3], event[2] == 1);
}

void ui_input_mouse_action(ui* u, int32_t, int32_t pressed) {
  ui_mouse& mouse = u->mouse;
  mouse.previous = mouse.state;
  mouse.state = pressed;
  if (mouse.state != mouse.previous) {
    mouse.origin_x = mouse.x;
    mouse.origin_y = mouse.y;
    mouse.distance = 0.0f;
  }
}

void ui_input_mouse_motion(ui* u, int32_t x, int32_t y) {
  ui_mouse& mouse = u->mouse;
  float dx = static_cast<float>(x - mouse.x), dy = static_cast<float>(y - mouse.y);
  mouse.distance += std::sqrt(dx * dx + dy * dy);
  mouse.x = x;
  mouse.y = y;
}

int ui_mouse_action_started(ui* u) {
  ui_mouse& mouse = u->mouse;
  if (mouse.previous == 0 && mouse.state == 1) {
    mouse.previous = 1;
    return 1;
  }
  return 0;
}

int ui_mouse_action_ended(ui* u) {
  ui_mouse& mouse = u->mouse;
  if (mouse.previous == 1 && mouse.state == 0) {
    mouse.previous = 0;
    return 1;
  }
  return 0;
}

void ui_mouse_action_get_motion(const ui* u, float out[2]) {
  const ui_mouse& mouse = u->mouse;
  const int32_t pixels[2] = {mouse.x - mouse.origin_x, mouse.origin_y - mouse.y};
  ui_pixels_into_coordinates(u, out, pixels);
}

float ui_mouse_action_aggregate_distance(const ui* u) {
  const int32_t pixels[2] = {static_cast<int32_t>(u->mouse.distance), 0};
  float out[2];
  ui_pixels_into_coordinates(u, out, pixels);
  return out[0];
}

int ui_mouse_inside(const ui* u, const float rect[4]) {
  const ui_mouse& mouse = u->mouse;
  float v[4];
  get_viewport(v);
  float width = v[1] - v[0], height = v[3] - v[2];
  float x = 2.0f * (static_cast<float>(mouse.x) - v[0]) / width - 1.0f;
  if (u->keep_aspect) x *= std::fabs(width) / std::fabs(height);
  float y = 1.0f - 2.0f * (static_cast<float>(mouse.y) - v[2]) / height;
  return rect[0] <= x && x <= rect[1] && rect[3] <= y && y <= rect[2];
}

void ui_keyboard_handler(void* user, const int32_t* event, int32_t words) {
  if (words < INPUT_EVENT_WORDS || static_cast<uint32_t>(event[0]) != INPUT_KEYBOARD_ID) return;
  auto* u = static_cast<ui*>(user);
  if (event[2] != 1 || u->key_count >= UI_MAX_KEYS) return;
  u->keys[u->key_count++] = event[3];
}

const int32_t* ui_keys(const ui* u, int32_t* count) {
  *count = u->key_count;
  return u->keys;
}

void ui_keys_clear(ui* u) { u->key_count = 0; }

// Measures

void ui_pixels_into_coordinates(const ui* u, float out[2], const int32_t pixels[2]) {
  float width, height;
  viewport_size(&width, &height);
  out[0] = 2.0f * static_cast<float>(pixels[0]) / width;
  out[1] = 2.0f * static_cast<float>(pixels[1]) / height;
  if (u->keep_aspect) out[0] *= std::fabs(width) / std::fabs(height);
}

void ui_coordinates_into_pixels(const ui* u, int32_t out[2], const float length[2]) {
  float width, height;
  viewport_size(&width, &height);
  out[0] = static_cast<int32_t>(width * 0.5f * length[0]);
  out[1] = static_cast<int32_t>(height * 0.5f * length[1]);
  if (u->keep_aspect)
    out[0] = static_cast<int32_t>(static_cast<float>(out[0]) / (std::fabs(width) / std::fabs(height)));
}

void in_pixels(uint32_t keep_aspect, int32_t out[2], const float point[2]) {
  float width, height;
  viewport_size(&width, &height);
  float s = keep_aspect ? std::fabs(width) / std::fabs(height) : 1.0f;
  out[0] = static_cast<int32_t>(std::fabs(width) * 0.5f * (point[0] / s + 1.0f));
  out[1] = static_cast<int32_t>(std::fabs(height) * 0.5f * (point[1] + 1.0f));
}

void ui_extent(const ui* u, float out[4]) {
  float s = aspect(u->keep_aspect);
  out[0] = -s;
  out[1] = s;
  out[2] = 1.0f;
  out[3] = -1.0f;
}

static int32_t size_index(int32_t size) { return size < 0 ? 0 : size > 4 ? 4 : size; }

int32_t ui_font_height_in_pixels(const ui* u, int32_t size) { return u->font_heights[size_index(size)]; }

float ui_font_height(const ui* u, int32_t size) {
  const int32_t pixels[2] = {0, ui_font_height_in_pixels(u, size)};
  float out[2];
  ui_pixels_into_coordinates(u, out, pixels);
  return out[1];
}

float ui_vertical_period(const ui* u) { return ui_font_height(u, 2); }
float ui_horizontal_period(const ui* u) { return ui_font_height(u, 2) / u->pixel_ratio; }
float* ui_text_color(ui* u) { return u->text_color; }

float ui_reg_f0(const ui* u) { return u->f0; }
void ui_reg_set_f0(ui* u, float value) { u->f0 = value; }
float ui_reg_f1(const ui* u) { return u->f1; }
void ui_reg_set_f1(ui* u, float value) { u->f1 = value; }
int32_t ui_reg_i0(const ui* u) { return u->i0; }
void ui_reg_set_i0(ui* u, int32_t value) { u->i0 = value; }
