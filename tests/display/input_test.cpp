// GLUT input callbacks turned into six-word events, and the handler slots.
#include <gtest/gtest.h>

#include <GL/freeglut.h>

#include <array>
#include <vector>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/platform_glut.h>
#include "display_fixture.h"

namespace {

using Event = std::array<int32_t, 6>;
std::vector<Event> events;
int other_calls;

void record(void*, const int32_t* event, int32_t words) {
  ASSERT_EQ(words, 6);
  events.push_back({event[0], event[1], event[2], event[3], event[4], event[5]});
}
void other(void*, const int32_t*, int32_t) { ++other_calls; }

constexpr int32_t kKeyboard = static_cast<int32_t>(INPUT_KEYBOARD_ID);
constexpr int32_t kMouse = static_cast<int32_t>(INPUT_MOUSE_ID);

// A committed display that receives the GLUT callbacks, without a window.
struct Input : testing::Test {
  display_io_handle handle{};
  display_device* device = nullptr;
  void SetUp() override {
    events.clear();
    other_calls = 0;
    device = display_test_commit(&handle, 0);
    glut_set_io(&handle);
    for (uint32_t id : {INPUT_MOUSE_ID, INPUT_KEYBOARD_ID}) event_add_handler(device, id, record, nullptr);
  }
  void TearDown() override { display_io_teardown(&handle); }
};

}  // namespace

TEST_F(Input, GlutCallbacksGiveTheExactEvents) {
  do_keyboard('a', 10, 20);
  do_keyboard_up('a', 10, 20);
  do_keyboard(200, 0, 0);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 5, 6);
  do_mouse(GLUT_RIGHT_BUTTON, GLUT_UP, 5, 6);
  do_mouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 5, 6);
  do_mouse(7, GLUT_DOWN, 5, 6);  // a wheel step counts as the left button
  do_mouse_move(320, 17);
  std::vector<Event> expected = {
      {kKeyboard, 0, 1, 'a', 4, 'a'},       {kKeyboard, 0, 2, 'a', 4, 'a'},
      {kKeyboard, 0, 3, 'a', 4, 'a'},       {kKeyboard, 0, 1, 200, 4, -56},
      {kKeyboard, 0, 2, 200, 4, -56},       {kMouse, 0, 1, 0, 0, 0},
      {kMouse, 0, 2, 1, 0, 0},              {kMouse, 0, 1, 2, 0, 0},
      {kMouse, 0, 1, 0, 0, 0},              {kMouse, 0, 4, 320, 5, 17},
  };
  EXPECT_EQ(events, expected);
}

TEST_F(Input, RegisteringTwiceKeepsOneRecord) {
  event_add_handler(device, INPUT_KEYBOARD_ID, other, this);
  event_add_handler(device, INPUT_KEYBOARD_ID, other, this);
  do_keyboard('x', 0, 0);
  EXPECT_EQ(other_calls, 2);  // press and its second event, once each
  event_rem_handler(device, other, this);
  do_keyboard('x', 0, 0);
  EXPECT_EQ(other_calls, 2);
  // A null function or an unknown id is ignored.
  event_add_handler(device, 12345, other, nullptr);
  event_add_handler(device, INPUT_MOUSE_ID, nullptr, nullptr);
  do_keyboard('x', 0, 0);
  do_mouse_move(1, 1);
  EXPECT_EQ(other_calls, 2);
}

