// Keyboard, mouse and joystick input: six-word events (device id, 0, code,
// value, second code, second value) handed to the handlers registered on the
// display device. The window's platform turns its callbacks into them.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

struct display_device;

enum : uint32_t {
  INPUT_MOUSE_ID = 0x40203ABE,
  INPUT_JOYSTICK_ID = 0x2ED69833,
  INPUT_KEYBOARD_ID = 0x388A56DB,
};
constexpr int32_t INPUT_EVENT_WORDS = 6;

using event_handler_fn = void (*)(void* user, const int32_t* event, int32_t words);

struct event_handler {
  uint32_t active;
  event_handler_fn fn;
  void* user;
};

struct input_slot {
  uint32_t id;
  array handlers;  // of event_handler; records are never removed
};

// Slots in order: mouse, joystick, keyboard.
void display_input_init(input_slot slots[3]);
void display_input_add_handler(input_slot slots[3], uint32_t id, event_handler_fn fn, void* user);
void event_add_handler(display_device* device, uint32_t id, event_handler_fn fn, void* user);
void event_rem_handler(display_device* device, event_handler_fn fn, void* user);
// 0 when the event is not for this slot; else calls every active handler.
int event_hooks_send(input_slot* slot, const int32_t* event, int32_t words);
