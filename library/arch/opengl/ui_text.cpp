#include <zeal/arch/opengl/ui_text.h>

#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/arch/opengl/platform_glut.h>
#include <zeal/arch/opengl/ui.h>

const ui_font* ui_font_table() {
  static const ui_font table[UI_FONT_COUNT] = {
      {GLUT_FONT_9_BY_15, 15, 3},      {GLUT_FONT_8_BY_13, 13, 2},   {GLUT_FONT_HELVETICA_10, 10, 2},
      {GLUT_FONT_HELVETICA_12, 12, 3}, {GLUT_FONT_HELVETICA_18, 18, 4},
  };
  return table;
}

int32_t ui_text_font(const ui* u, int32_t size) {
  int32_t target = ui_font_height_in_pixels(u, size);
  const ui_font* table = ui_font_table();
  int32_t best = 0;
  for (int32_t i = 1; i < UI_FONT_COUNT; ++i)
    if (abs(table[i].height - target) < abs(table[best].height - target)) best = i;
  return best;
}

static float length_x(const ui* u, int32_t px) {
  const int32_t pixels[2] = {px, 0};
  float out[2];
  ui_pixels_into_coordinates(u, out, pixels);
  return out[0];
}

static float length_y(const ui* u, int32_t px) {
  const int32_t pixels[2] = {0, px};
  float out[2];
  ui_pixels_into_coordinates(u, out, pixels);
  return out[1];
}

void get_geometry(const ui* u, int32_t font, float* ascent, float* descent) {
  const ui_font& f = ui_font_table()[font];
  *ascent = length_y(u, f.height - f.baseline);
  *descent = length_y(u, f.baseline);
}

static void start_position(const ui* u, const float* position, float out[2]) {
  if (position != nullptr) {
    out[0] = position[0];
    out[1] = position[1];
  } else {
    ui_anchor(u, out);
  }
}

static int32_t text_pixels(int32_t font, const char* text) {
  return glut_bitmap_length(ui_font_table()[font].bitmap, text);
}

int32_t ui_text_fit(const ui* u, int32_t font, const char* text, float available) {
  int32_t n = static_cast<int32_t>(strlen(text));
  if (available >= length_x(u, text_pixels(font, text))) return n;
  float ellipsis = length_x(u, text_pixels(font, "..."));
  int32_t bitmap = ui_font_table()[font].bitmap;
  float sum = 0.0f;
  int32_t count = 0;
  while (count < n) {
    float next = sum + length_x(u, glut_bitmap_width(bitmap, static_cast<unsigned char>(text[count])));
    if (next + ellipsis > available) break;
    sum = next;
    ++count;
  }
  return count;
}

void ui_text_bb_va(ui* u, const float* position, int32_t size, float box[4], const char* format,
                   va_list arguments) {
  int32_t font = ui_text_font(u, size);
  float ascent, descent;
  get_geometry(u, font, &ascent, &descent);
  char text[UI_TEXT_MAX + 1];
  vsnprintf(text, sizeof(text), format, arguments);
  float at[2];
  start_position(u, position, at);
  float baseline = at[1] - ascent;
  box[0] = at[0];
  box[1] = at[0] + length_x(u, text_pixels(font, text));
  box[2] = baseline + ascent;
  box[3] = baseline - descent;
}

void ui_text_draw_va(ui* u, const float* position, int32_t size, const float box[4],
                     const char* format, va_list arguments) {
  int32_t font = ui_text_font(u, size);
  float ascent, descent;
  get_geometry(u, font, &ascent, &descent);
  char text[UI_TEXT_MAX + 1];
  vsnprintf(text, sizeof(text), format, arguments);
  int32_t count = ui_text_fit(u, font, text, box[1] - box[0]);
  float at[2];
  start_position(u, position, at);
  glColor4fv(u->text_color);
  glRasterPos2f(at[0], at[1] - ascent);
  int32_t bitmap = ui_font_table()[font].bitmap;
  glut_bitmap_draw(bitmap, text, count);
  if (count < static_cast<int32_t>(strlen(text))) glut_bitmap_draw(bitmap, "...", 3);
}

void ui_text_bb(ui* u, const float* position, int32_t size, float box[4], const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  ui_text_bb_va(u, position, size, box, format, arguments);
  va_end(arguments);
}

void ui_text_draw(ui* u, const float* position, int32_t size, const float box[4],
                  const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  ui_text_draw_va(u, position, size, box, format, arguments);
  va_end(arguments);
}
