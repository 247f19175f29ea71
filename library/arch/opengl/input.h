// Keyboard, mouse and joystick input: GLUT callbacks turned into six-word
// events (device id, 0, code, value, second code, second value) and handed to
// the handlers registered on the display device.
#pragma once
#include <cstdint>

#include "base/array.h"

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

// GLUT callbacks; they deliver to the device of the open display.
void do_keyboard(unsigned char key, int x, int y);
void do_keyboard_up(unsigned char key, int x, int y);
void do_mouse(int button, int state, int x, int y);
void do_mouse_move(int x, int y);
void do_joystick(unsigned int mask, int x, int y, int z);
// The position sent for a GLUT axis value (-1000 .. 1000).
int32_t input_joystick_position(int value);

void attach_input_devices(display_device* device, int force);
// Escape quits (leaving game mode first); Alt+Return flips the full-screen wish.
void core_keyboard_handler(void* user, const int32_t* event, int32_t words);
// What core_keyboard_handler does for a pressed key, with the Alt state given.
void core_keyboard_key(display_device* device, int32_t key, int alt);
