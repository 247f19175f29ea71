#include <zeal/arch/opengl/ui_widgets.h>

#include <GL/glew.h>

#include <cstring>

#include <zeal/arch/opengl/ui.h>
#include <zeal/arch/opengl/ui_text.h>

namespace {

constexpr int32_t TEXT_SIZE = 3;
constexpr int32_t KEY_BACKSPACE = 8;
constexpr int32_t KEY_DELETE = 127;

// `primitive`: GL_QUADS fills the rectangle, GL_LINE_LOOP outlines it.
void draw_rect(const float r[4], float grey, GLenum primitive) {
  glColor4f(grey, grey, grey, 1.0f);
  glBegin(primitive);
  glVertex2f(r[0], r[3]);
  glVertex2f(r[1], r[3]);
  glVertex2f(r[1], r[2]);
  glVertex2f(r[0], r[2]);
  glEnd();
}

void fill_rect(const float r[4], float grey) { draw_rect(r, grey, GL_QUADS); }
void outline_rect(const float r[4], float grey) { draw_rect(r, grey, GL_LINE_LOOP); }

// Draws `text` with its top left at (x, y), in a grey that says whether the
// widget is enabled, clipped with "..." at `right`.
void label(ui* u, float x, float y, float right, const char* text, int enabled) {
  float* colour = ui_text_color(u);
  float saved[4];
  memcpy(saved, colour, sizeof(saved));
  float grey = enabled ? 0.0f : 0.55f;
  colour[0] = colour[1] = colour[2] = grey;
  const float at[2] = {x, y};
  const float box[4] = {x, right, 0.0f, 0.0f};
  ui_text_draw(u, at, TEXT_SIZE, box, "%s", text);
  memcpy(colour, saved, sizeof(saved));
}

float text_height(ui* u) {
  float box[4];
  const float origin[2] = {0.0f, 0.0f};
  ui_text_bb(u, origin, TEXT_SIZE, box, "%s", "");
  return box[2] - box[3];
}

float text_width(ui* u, const char* text) {
  float box[4];
  const float origin[2] = {0.0f, 0.0f};
  ui_text_bb(u, origin, TEXT_SIZE, box, "%s", text);
  return box[1] - box[0];
}

// The hot/active protocol shared by the widgets: 1 for a press and a
// release that both happened over the widget.
int clicked(ui* u, hid id, const float rect[4], int enabled) {
  if (!enabled) {
    ui_away(u, id);
    if (ui_is_active(u, id)) ui_deactivate(u);
    return 0;
  }
  int inside = ui_mouse_inside(u, rect);
  if (inside) ui_highlight(u, id);
  else ui_away(u, id);
  if (ui_is_hot(u, id) && ui_is_none_active(u) && ui_mouse_action_started(u)) ui_activate(u, id);
  if (ui_is_active(u, id) && ui_mouse_action_ended(u)) {
    ui_deactivate(u);
    return inside;
  }
  return 0;
}

float shade(const ui* u, hid id, int enabled) {
  if (!enabled) return 0.85f;
  if (ui_is_active(u, id)) return 0.6f;
  if (ui_is_hot(u, id)) return 0.95f;
  return 0.88f;
}

}  // namespace

int ui_button(ui* u, const float rect[4], const char* text, int enabled) {
  hid id = ui_id(u);
  int result = clicked(u, id, rect, enabled);
  fill_rect(rect, shade(u, id, enabled));
  outline_rect(rect, enabled ? 0.3f : 0.6f);
  float w = text_width(u, text), h = text_height(u);
  float x = 0.5f * (rect[0] + rect[1] - w);
  float y = 0.5f * (rect[2] + rect[3] + h);
  label(u, x < rect[0] ? rect[0] : x, y, rect[1], text, enabled);
  return result;
}

int ui_checkbox(ui* u, const float rect[4], const char* text, int32_t* value, int enabled) {
  hid id = ui_id(u);
  int result = clicked(u, id, rect, enabled);
  if (result) *value = !*value;
  float side = rect[2] - rect[3];
  const float box[4] = {rect[0], rect[0] + side, rect[2], rect[3]};
  fill_rect(box, shade(u, id, enabled) + 0.1f);
  outline_rect(box, enabled ? 0.3f : 0.6f);
  if (*value) {
    float inset = side * 0.25f;
    const float mark[4] = {box[0] + inset, box[1] - inset, box[2] - inset, box[3] + inset};
    fill_rect(mark, enabled ? 0.15f : 0.6f);
  }
  float h = text_height(u);
  label(u, box[1] + side * 0.4f, 0.5f * (rect[2] + rect[3] + h), rect[1], text, enabled);
  return result;
}

int ui_textfield(ui* u, const float rect[4], char* text, int32_t capacity, int enabled) {
  hid id = ui_id(u);
  // The first enabled field takes the keys until another one is clicked.
  if (clicked(u, id, rect, enabled) || (enabled && hid_is_none(u->focus))) u->focus = id;
  int focused = enabled && hid_equal(u->focus, id);
  int changed = 0;
  if (focused && capacity > 0) {
    int32_t count = 0;
    const int32_t* keys = ui_keys(u, &count);
    int32_t length = static_cast<int32_t>(strnlen(text, capacity - 1));
    for (int32_t i = 0; i < count; ++i) {
      int32_t key = keys[i] & 0xFF;
      if ((key == KEY_BACKSPACE || key == KEY_DELETE) && length > 0) {
        text[--length] = 0;
        changed = 1;
      } else if (key >= 32 && key < 127 && length < capacity - 1) {
        text[length++] = static_cast<char>(key);
        text[length] = 0;
        changed = 1;
      }
    }
  }
  fill_rect(rect, enabled ? 1.0f : 0.9f);
  outline_rect(rect, focused ? 0.1f : enabled ? 0.4f : 0.7f);
  // Show the end of a long text: that is where typing happens.
  float pad = 0.25f * (rect[2] - rect[3]);
  float room = rect[1] - rect[0] - 2.0f * pad;
  const char* shown = text;
  while (*shown && text_width(u, shown) > room) ++shown;
  float h = text_height(u);
  float y = 0.5f * (rect[2] + rect[3] + h);
  label(u, rect[0] + pad, y, rect[1] - pad, shown, enabled);
  if (focused) {
    float x = rect[0] + pad + text_width(u, shown);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glBegin(GL_LINES);
    glVertex2f(x, y);
    glVertex2f(x, y - h);
    glEnd();
  }
  return changed;
}
