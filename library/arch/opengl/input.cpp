#include "arch/opengl/input.h"

#include <GL/freeglut.h>

#include <cmath>

#include "arch/opengl/display.h"
#include "arch/opengl/glut_state.h"
#include "base/thread.h"

namespace {

// The device whose window is open: GLUT callbacks deliver to it.
display_device* open_device() {
  if (glut_io() == nullptr || glut_io()->io == nullptr) return nullptr;
  return glut_io()->io->device;
}

void send(int32_t code, int32_t value, int32_t code2, int32_t value2, uint32_t id) {
  display_device* device = open_device();
  if (device == nullptr) return;
  int32_t event[INPUT_EVENT_WORDS] = {static_cast<int32_t>(id), 0, code, value, code2, value2};
  for (input_slot& slot : device->slots)
    if (event_hooks_send(&slot, event, INPUT_EVENT_WORDS)) return;
}

void send_key(int32_t code, unsigned char key) {
  send(code, key, 4, static_cast<signed char>(key), INPUT_KEYBOARD_ID);
}

}  // namespace

void display_input_init(input_slot slots[3]) {
  slots[0] = input_slot{INPUT_MOUSE_ID, {}};
  slots[1] = input_slot{INPUT_JOYSTICK_ID, {}};
  slots[2] = input_slot{INPUT_KEYBOARD_ID, {}};
}

void display_input_add_handler(input_slot slots[3], uint32_t id, event_handler_fn fn, void* user) {
  if (fn == nullptr) return;
  for (int s = 0; s < 3; ++s) {
    input_slot* slot = &slots[s];
    if (slot->id != id) continue;
    int32_t n = array_count(&slot->handlers, sizeof(event_handler));
    for (int32_t i = 0; i < n; ++i) {
      auto* h = static_cast<event_handler*>(array_element(&slot->handlers, sizeof(event_handler), i));
      if (h->fn == fn && h->user == user) {
        h->active = 1;
        return;
      }
    }
    event_handler record{1, fn, user};
    array_append(&slot->handlers, &record, sizeof(record));
    return;
  }
}

void event_add_handler(display_device* device, uint32_t id, event_handler_fn fn, void* user) {
  display_input_add_handler(device->slots, id, fn, user);
}

void event_rem_handler(display_device* device, event_handler_fn fn, void* user) {
  for (input_slot& slot : device->slots) {
    int32_t n = array_count(&slot.handlers, sizeof(event_handler));
    for (int32_t i = 0; i < n; ++i) {
      auto* h = static_cast<event_handler*>(array_element(&slot.handlers, sizeof(event_handler), i));
      if (h->fn == fn && h->user == user) {
        h->active = 0;
        break;
      }
    }
  }
}

int event_hooks_send(input_slot* slot, const int32_t* event, int32_t words) {
  if (words < 1 || slot->id != static_cast<uint32_t>(event[0])) return 0;
  // Counted on every turn: a handler may register another.
  for (int32_t i = 0; i < array_count(&slot->handlers, sizeof(event_handler)); ++i) {
    auto* h = static_cast<event_handler*>(array_element(&slot->handlers, sizeof(event_handler), i));
    if (h->active) h->fn(h->user, event, words);
  }
  return 1;
}

void do_keyboard(unsigned char key, int, int) {
  send_key(1, key);
  send_key(2, key);
}

void do_keyboard_up(unsigned char key, int, int) { send_key(3, key); }

void do_mouse(int button, int state, int, int) {
  if (display_device* device = open_device()) device->last_mouse_button = button;
  int32_t code = button == GLUT_RIGHT_BUTTON ? 1 : button == GLUT_MIDDLE_BUTTON ? 2 : 0;
  if (state == GLUT_DOWN) send(1, code, 0, 0, INPUT_MOUSE_ID);
  else if (state == GLUT_UP) send(2, code, 0, 0, INPUT_MOUSE_ID);
}

void do_mouse_move(int x, int y) { send(4, x, 5, y, INPUT_MOUSE_ID); }

int32_t input_joystick_position(int value) {
  float f = static_cast<float>(value) * 0.001f;
  float m = std::fabs(f) < 1.0f ? std::fabs(f) : 1.0f;
  return static_cast<int32_t>(f > 0.0f ? std::lrint(m * 100000.0f) : std::lrint(m * -100000.0f));
}

// Buttons 12 to 15 are the directional pad.
static int32_t joystick_direction(int button) {
  static const int32_t directions[4] = {7, 10, 8, 9};
  return button >= 12 && button <= 15 ? directions[button - 12] : -1;
}

void do_joystick(unsigned int mask, int x, int y, int z) {
  display_device* device = open_device();
  if (device == nullptr) return;
  for (int b = 0; b < 24; ++b) {
    uint32_t bit = 1u << b;
    if (((mask ^ device->last_joystick_mask) & bit) == 0) continue;
    int pressed = (mask & bit) != 0;
    int32_t direction = joystick_direction(b);
    if (direction < 0) send(pressed ? 1 : 2, b, 0, 0, INPUT_JOYSTICK_ID);
    else send(pressed ? 4 : 5, direction, 0, 0, INPUT_JOYSTICK_ID);
  }
  for (int b = 0; b < 24; ++b) {
    if ((mask & (1u << b)) == 0) continue;
    int32_t direction = joystick_direction(b);
    if (direction < 0) send(3, b, 0, 0, INPUT_JOYSTICK_ID);
    else send(6, direction, 0, 0, INPUT_JOYSTICK_ID);
  }
  const int axes[3] = {x, y, z};
  for (int a = 0; a < 3; ++a) send(11, a, 12, input_joystick_position(axes[a]), INPUT_JOYSTICK_ID);
  device->last_joystick_mask = mask;
}

void attach_input_devices(display_device* device, int force) {
  if (force) device->need_mouse = device->need_keyboard = device->need_joystick = 1;
  double now = get_milliseconds();
  if (now - device->last_device_check <= 1500.0) return;
  device->last_device_check = now;
  if (device->need_joystick && glutDeviceGet(GLUT_HAS_JOYSTICK)) {
    glutJoystickFunc(do_joystick, 15);
    device->need_joystick = 0;
  }
  if (device->need_keyboard && glutDeviceGet(GLUT_HAS_KEYBOARD)) {
    glutIgnoreKeyRepeat(0);
    glutKeyboardUpFunc(do_keyboard_up);
    glutKeyboardFunc(do_keyboard);
    device->need_keyboard = 0;
  }
  if (device->need_mouse && glutDeviceGet(GLUT_HAS_MOUSE)) {
    glutMouseFunc(do_mouse);
    glutMotionFunc(do_mouse_move);
    glutPassiveMotionFunc(do_mouse_move);
    device->need_mouse = 0;
  }
}

void core_keyboard_key(display_device* device, int32_t key, int alt) {
  if (key == 27) {
    if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE) && glut_io() != nullptr) glut_toggle_fullscreen(glut_io());
    my_exit(device->io);
  }
  if (key == 13 && alt) device->fullscreen_wanted = !device->fullscreen_wanted;
}

void core_keyboard_handler(void* user, const int32_t* event, int32_t words) {
  if (words < INPUT_EVENT_WORDS || event[2] != 1) return;
  int alt = event[3] == 13 && (glutGetModifiers() & GLUT_ACTIVE_ALT) != 0;
  core_keyboard_key(static_cast<display_device*>(user), event[3], alt);
}
