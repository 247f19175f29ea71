#include <zeal/arch/opengl/input.h>

#include <zeal/arch/opengl/display.h>

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
