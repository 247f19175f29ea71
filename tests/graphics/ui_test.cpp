// The immediate-mode interface: ids, hot and active, the mouse state from
// real input events, measures at 1280 x 720, clip areas read back from GL,
// and widgets driven through the real input path (GLUT callbacks, the display
// device's handlers, the interface's mouse state and key queue).
#include <GL/glew.h>
#include <GL/freeglut.h>

#include <functional>
#include <utility>
#include <vector>

#include <zeal/arch/opengl/ui.h>
#include <zeal/arch/opengl/ui_widgets.h>
#include "gl_fixture.h"

namespace {

struct Ui : GlTest {
  ui* u = nullptr;
  display_context context{};
  void SetUp() override {
    GlTest::SetUp();
    ui_make(&u);
    context.device = window->device;
    ui_attach(u, &context);
  }
  void TearDown() override {
    ui_detach(u, &context);
    ui_destroy(&u);
  }
  // One frame of the interface with the given widgets.
  void frame(const std::function<void()>& widgets) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ui_define(u, nullptr);
    widgets();
    ui_commit(u);
  }
};
using Widgets = Ui;

hid id(uint32_t den, uint32_t num) { return hid{den, num}; }

// Left half and right half of the middle band; their centres in pixels.
const float LEFT[4] = {-1.0f, -0.2f, 0.1f, -0.1f};
const float RIGHT[4] = {0.2f, 1.0f, 0.1f, -0.1f};
constexpr int32_t LEFT_X = 640 - 216, RIGHT_X = 640 + 216, MIDDLE_Y = 360;

void click_at(int x, int y) {
  do_mouse_move(x, y);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, x, y);
}

void type(const char* keys) {
  for (const char* k = keys; *k; ++k) do_keyboard(static_cast<unsigned char>(*k), 0, 0);
}

}  // namespace

TEST(UiIds, PathsBecomeContinuedFractions) {
  // path -> den/num; 0/0 is none: (-2) gives 1/0, the others leave the range
  const struct { std::vector<int32_t> path; uint32_t den, num; } cases[] = {
      {{0}, 2, 1},     {{1}, 3, 1},  {{0, 0}, 5, 2},  {{0, 1}, 7, 3},
      {{0, 0, 0}, 12, 5}, {{-3}, 0, 0}, {{0, -2}, 0, 0}, {{-2}, 0, 0},
      {{2000000000, 2000000000, 2000000000}, 0, 0}};
  for (const auto& c : cases) {
    hid made = hid_make(c.path.data(), static_cast<int32_t>(c.path.size()));
    EXPECT_TRUE(c.den ? hid_equal(made, id(c.den, c.num)) : hid_is_none(made)) << c.path[0] << " " << c.path.size();
  }
}

TEST_F(Ui, ChildIdsRepeatEveryFrameFromTheTopLeftCorner) {
  for (int frame = 0; frame < 2; ++frame) {
    ui_define(u, nullptr);
    EXPECT_TRUE(hid_equal(ui_id(u), id(5, 2)));
    EXPECT_TRUE(hid_equal(ui_id(u), id(7, 3)));
    EXPECT_TRUE(hid_equal(ui_id(u), id(9, 4)));
    float corner[2];
    ui_anchor(u, corner);
    EXPECT_EQ(std::pair(corner[0], corner[1]), std::pair(-1280.0f / 720.0f, 1.0f));
    ui_commit(u);
  }
}

TEST_F(Ui, MeasuresAtHdSize) {
  const int32_t px[2] = {72, 72};
  float units[2];
  ui_pixels_into_coordinates(u, units, px);
  EXPECT_EQ(std::pair(units[0], units[1]), std::pair(0.2f, 0.2f));
  const float corner[2] = {1.7777778f, 1.0f};
  int32_t back[2];
  in_pixels(1, back, corner);
  EXPECT_EQ(std::pair(back[0], back[1]), std::pair(1280, 720));
}

TEST_F(Widgets, ButtonClicksOnPressAndReleaseInside) {
  int clicks = 0;
  auto widgets = [&] { clicks += ui_button(u, LEFT, "Run", 1); };
  frame(widgets);
  EXPECT_TRUE(hid_is_none(u->hot));
  do_mouse_move(LEFT_X, MIDDLE_Y);
  frame(widgets);
  EXPECT_TRUE(ui_is_hot(u, hid{5, 2}));
  uint32_t hot_colour = read_pixel(LEFT_X, MIDDLE_Y - 15);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, LEFT_X, MIDDLE_Y);
  frame(widgets);
  EXPECT_TRUE(ui_is_active(u, hid{5, 2}));
  EXPECT_NE(read_pixel(LEFT_X, MIDDLE_Y - 15), hot_colour);  // pressed looks different
  EXPECT_EQ(clicks, 0);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_UP, LEFT_X, MIDDLE_Y);
  frame(widgets);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(ui_is_none_active(u));
  frame(widgets);
  EXPECT_EQ(clicks, 1);

  // Pressed inside, released outside: no click.
  click_at(LEFT_X, MIDDLE_Y);
  frame(widgets);
  do_mouse_move(RIGHT_X, MIDDLE_Y);
  frame(widgets);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_UP, RIGHT_X, MIDDLE_Y);
  frame(widgets);
  EXPECT_EQ(clicks, 1);
  // Disabled: nothing.
  click_at(LEFT_X, MIDDLE_Y);
  frame([&] { clicks += ui_button(u, LEFT, "Run", 0); });
  do_mouse(GLUT_LEFT_BUTTON, GLUT_UP, LEFT_X, MIDDLE_Y);
  frame([&] { clicks += ui_button(u, LEFT, "Run", 0); });
  EXPECT_EQ(clicks, 1);
}

TEST_F(Widgets, TextFieldTakesTypedKeys) {
  char first[8] = "ab";
  char second[16] = "";
  int enabled = 1;
  auto widgets = [&] {
    ui_textfield(u, LEFT, first, sizeof(first), 1);
    ui_textfield(u, RIGHT, second, sizeof(second), enabled);
  };
  frame(widgets);  // the first field takes the keys
  type("cd");
  do_keyboard(8, 0, 0);  // backspace
  type("efghij");
  frame(widgets);
  EXPECT_STREQ(first, "abcefgh");  // full at 7 characters
  do_keyboard_up('x', 0, 0);  // releases are not typing
  frame(widgets);
  EXPECT_STREQ(first, "abcefgh");

  click_at(RIGHT_X, MIDDLE_Y);
  frame(widgets);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_UP, RIGHT_X, MIDDLE_Y);
  frame(widgets);
  type("/tmp");
  frame(widgets);
  EXPECT_STREQ(second, "/tmp");
  EXPECT_STREQ(first, "abcefgh");
  enabled = 0;
  type("/x");
  frame(widgets);
  EXPECT_STREQ(second, "/tmp");
  // The text is drawn: something dark inside the white field.
  bool ink = false;
  for (int32_t x = LEFT_X - 150; x < LEFT_X; ++x)
    for (int32_t y = MIDDLE_Y - 8; y < MIDDLE_Y + 8; ++y)
      ink = ink || (read_pixel(x, y) & 0xFFu) < 0x80u;
  EXPECT_TRUE(ink);
}
