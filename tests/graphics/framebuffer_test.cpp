// Framebuffers: drawing lands in the texture, and nesting hands rendering
// back to the outer one.
#include <GL/glew.h>

#include <string>
#include <vector>

#include <zeal/arch/opengl/framebuffer.h>
#include "gl_fixture.h"

namespace {

struct Framebuffers : GlTest {
  display_stats stats{};
  array screen_hooks{};
  display_frame screen{};
  void SetUp() override {
    GlTest::SetUp();
    frame_make(&screen, 40.0, &stats, &screen_hooks);
  }
  void TearDown() override {
    frame_delete(&screen);
    array_reset(&screen_hooks);
  }
};

// A framebuffer the way its owner sets one up: a frame with hooks first.
struct Layer {
  array hooks{};
  display_stats stats{};
  opengl_framebuffer fb{};
  Layer(display_device* device, uint32_t flags, int32_t divisor) {
    frame_make(&fb.frame, 0.0, &stats, &hooks);
    fb.device = device;
    fb.flags = flags;
    fb.divisor = divisor;
    opengl_framebuffer_make(&fb);
  }
  ~Layer() {
    opengl_framebuffer_destroy(&fb);
    texture_delete(&fb.tex);
    frame_delete(&fb.frame);
    array_reset(&hooks);
  }
};

GLint integer(GLenum name) {
  GLint value = -1;
  glGetIntegerv(name, &value);
  return value;
}

std::vector<GLint> viewport_size() {
  GLint box[4] = {};
  glGetIntegerv(GL_VIEWPORT, box);
  return {box[2], box[3]};
}

void fill(float r, float g, float b) {
  glClearColor(r, g, b, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
}

void left_half_green() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor4f(0, 1, 0, 1);
  glRectf(-1, -1, 0, 1);
}

}  // namespace

// Drawing lands in the texture (a quarter of the screen's power-of-two
// size for divisor 4), and an inner framebuffer hands rendering back to the
// outer one, which hands it back to the screen.
TEST_F(Framebuffers, DrawingLandsInTheTextureAndNestingGivesRenderingBack) {
  Layer outer(window->device, 0, 4);
  Layer inner(window->device, 0, 8);
  ASSERT_EQ(outer.fb.available, 1u);
  display_frame* outer_frame = opengl_framebuffer_addf(&outer.fb, &screen);
  EXPECT_EQ(outer_frame->time, 40.0);  // the screen frame's
  display_frame_define(outer_frame, nullptr);
  EXPECT_EQ(viewport_size(), (std::vector<GLint>{512, 256}));
  fill(0, 0, 1);
  display_frame* inner_frame = opengl_framebuffer_addf(&inner.fb, outer_frame);
  EXPECT_EQ(inner.fb.outer, &outer.fb);
  display_frame_define(inner_frame, nullptr);
  EXPECT_EQ(static_cast<uint32_t>(integer(GL_FRAMEBUFFER_BINDING)), inner.fb.object);
  EXPECT_EQ(outer.fb.active, 0u);
  fill(1, 1, 0);
  display_frame_commit(inner_frame);
  EXPECT_EQ(static_cast<uint32_t>(integer(GL_FRAMEBUFFER_BINDING)), outer.fb.object);
  EXPECT_EQ(outer.fb.active, 1u);
  EXPECT_EQ(viewport_size(), (std::vector<GLint>{512, 256}));
  left_half_green();  // goes to the outer again
  display_frame_commit(outer_frame);
  EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(viewport_size(), (std::vector<GLint>{1280, 720}));

  int32_t w = 0, h = 0;
  std::vector<uint32_t> words = texture_words(outer.fb.tex.name, &w, &h);
  ASSERT_EQ(std::pair(w, h), std::pair(512, 256));
  EXPECT_EQ(words[10 * 512 + 10], 0xFF00FF00u);
  EXPECT_EQ(words[10 * 512 + 500], 0xFFFF0000u);
  words = texture_words(inner.fb.tex.name, &w, &h);
  EXPECT_EQ(w, 256);
  EXPECT_EQ(words[0], 0xFF00FFFFu);
}

