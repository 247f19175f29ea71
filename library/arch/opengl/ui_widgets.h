// A few widgets on the hot/active protocol: each takes the next id of the
// current anchor (also when disabled, so later ids stay put), reacts to the
// mouse and keys gathered since the last frame, and draws itself with plain GL.
#pragma once
#include <cstdint>

struct ui;

// 1 when pressed and released inside.
int ui_button(ui* u, const float rect[4], const char* label, int enabled);
// A box at the left of `rect` and the label beside it; 1 when toggled.
int ui_checkbox(ui* u, const float rect[4], const char* label, int32_t* value, int enabled);
// A one-line text field of `capacity` bytes (with the terminator); a click
// gives it the keys (the first enabled field has them until then). 1 when
// the text changed.
int ui_textfield(ui* u, const float rect[4], char* text, int32_t capacity, int enabled);
