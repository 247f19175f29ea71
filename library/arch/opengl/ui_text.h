// Text in the user interface: the window platform's bitmap fonts at the
// raster position, in the interface's text colour, shortened with "..." when
// it does not fit.
#pragma once
#include <cstdarg>
#include <cstdint>

struct ui;

constexpr int32_t UI_TEXT_MAX = 1023;  // longer formatted texts are cut
constexpr int32_t UI_FONT_COUNT = 5;

struct ui_font {
  int32_t bitmap;    // the platform's bitmap font (glut_bitmap_*)
  int32_t height;    // px
  int32_t baseline;  // px below the baseline
};
const ui_font* ui_font_table();

// Index into the font table for a text size 0-4 of the interface.
int32_t ui_text_font(const ui* u, int32_t size);
void get_geometry(const ui* u, int32_t font, float* ascent, float* descent);
// How many characters of `text` ui_text_draw_va shows in `available`
// interface units: the whole length when it fits, else the prefix that
// leaves room for "...".
int32_t ui_text_fit(const ui* u, int32_t font, const char* text, float available);

// `position` is the text's top left; null means the current anchor.
// Box: left, right, top, bottom.
void ui_text_bb_va(ui* u, const float* position, int32_t size, float box[4], const char* format,
                   va_list arguments);
void ui_text_draw_va(ui* u, const float* position, int32_t size, const float box[4],
                     const char* format, va_list arguments);
void ui_text_bb(ui* u, const float* position, int32_t size, float box[4], const char* format, ...)
    __attribute__((format(printf, 5, 6)));
void ui_text_draw(ui* u, const float* position, int32_t size, const float box[4],
                  const char* format, ...) __attribute__((format(printf, 5, 6)));
