// UI text: font choice, measures, and what is drawn, read back from the
// framebuffer (the rightmost lit column tells how much text was drawn).
#include <GL/glew.h>
#include <GL/freeglut.h>

#include <string>
#include <vector>

#include <zeal/arch/opengl/ui.h>
#include <zeal/arch/opengl/ui_text.h>
#include "gl_fixture.h"

namespace {

struct UiText : GlTest {
  ui* u = nullptr;
  void SetUp() override {
    GlTest::SetUp();
    ui_make(&u);
    u->multisample = 0;
    float* colour = ui_text_color(u);
    colour[0] = colour[1] = colour[2] = colour[3] = 1.0f;
    ui_define(u, nullptr);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  void TearDown() override {
    ui_commit(u);
    ui_destroy(&u);
  }
  float units(int32_t px) {
    const int32_t pixels[2] = {px, 0};
    float out[2];
    ui_pixels_into_coordinates(u, out, pixels);
    return out[0];
  }
};

constexpr int32_t SIZE = 3;  // Helvetica 18
const float AT[2] = {-1.5f, 0.5f};  // 100 px from the left, 540 px up
constexpr int32_t X0 = 100;

int32_t pixels_of(const char* text) {
  return glutBitmapLength(GLUT_BITMAP_HELVETICA_18, reinterpret_cast<const unsigned char*>(text));
}

// The rightmost column with a lit pixel in the rows of the text; -1 if none.
int32_t rightmost_lit() {
  std::vector<uint32_t> rows(1280 * 40);
  glReadPixels(0, 505, 1280, 40, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
  int32_t right = -1;
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 1280; ++x)
      if ((rows[y * 1280 + x] & 0xFFFFFFu) != 0 && x > right) right = x;
  return right;
}

}  // namespace

TEST_F(UiText, TooWideTextIsCutWithDots) {
  // text, the text whose width the box has (plus `extra` pixels), what is
  // drawn; box left; the longest fitting prefix
  const struct { const char *text, *width_of, *drawn; float extra, left; int32_t fit; } cases[] = {
      {"Hello, wide world", "Hello...", "Hello...", 0.25f, AT[0], 5},
      {"Hello", "..", "...", 0.0f, AT[0], 0},        // narrower than the dots: only the dots
      {"Exactly", "Exactly", "Exactly", 0.0f, 0.0f, 7},  // from 0 the width is exact
  };
  for (const auto& c : cases) {
    glClear(GL_COLOR_BUFFER_BIT);
    const float box[4] = {c.left, c.left + units(pixels_of(c.width_of)) + units(1) * c.extra, 0, 0};
    EXPECT_EQ(ui_text_fit(u, 4, c.text, box[1] - box[0]), c.fit) << c.text;
    ui_text_draw(u, AT, SIZE, box, "%s", c.text);
    int32_t right = rightmost_lit();
    EXPECT_LT(right, X0 + pixels_of(c.drawn)) << c.text;
    EXPECT_GE(right, X0 + pixels_of(c.drawn) - 4) << c.text;
  }
  // Drawn in the text colour.
  std::vector<uint32_t> rows(1280 * 40);
  glReadPixels(0, 505, 1280, 40, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
  bool white = false;
  for (uint32_t word : rows) white = white || (word & 0xFFFFFFu) == 0xFFFFFFu;
  EXPECT_TRUE(white);
}
