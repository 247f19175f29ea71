// Materials read back from the GL state, and the GL error check.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <string>

#include "arch/opengl/material.h"
#include "arch/opengl/trace.h"
#include "display_fixture.h"

namespace {

struct Materials : testing::Test {
  DisplayWindow* window = nullptr;
  GLuint texture = 0;
  void SetUp() override {
    testing::internal::CaptureStdout();
    window = new DisplayWindow();
    captured_stdout();
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    while (glGetError() != GL_NO_ERROR) {}
  }
  void TearDown() override {
    glDeleteTextures(1, &texture);
    delete window;
  }
};

GLint integer(GLenum name) {
  GLint value = -1;
  glGetIntegerv(name, &value);
  return value;
}

GLint texture_parameter(GLenum name) {
  GLint value = -1;
  glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
  return value;
}

}  // namespace

TEST_F(Materials, GlStateFollowsTheFlags) {
  // flags -> blend destination (0: no blending), depth, filter, wrap, multisampling
  const struct { uint32_t flags; GLint dst, depth, filter, wrap, multisample; } cases[] = {
      {MATERIAL_BLEND, GL_ONE_MINUS_SRC_ALPHA, 0, GL_LINEAR, GL_CLAMP_TO_EDGE, 1},
      {MATERIAL_BLEND | MATERIAL_ADDITIVE, GL_ONE, 0, GL_LINEAR, GL_CLAMP_TO_EDGE, 1},  // additive wins
      {MATERIAL_KEEP_COLOUR, 0, 1, GL_LINEAR, GL_CLAMP_TO_EDGE, 1},
      {MATERIAL_NEAREST | MATERIAL_REPEAT | MATERIAL_NO_MULTISAMPLE, 0, 1, GL_NEAREST, GL_REPEAT, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    glEnable(GL_CULL_FACE);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    material m{c.flags, {1.0f, 0.5f, 0.25f, 0.75f}, 0};
    material_on(&m);
    EXPECT_EQ(glIsEnabled(GL_BLEND), c.dst != 0);
    if (c.dst != 0) {
      EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
      EXPECT_EQ(integer(GL_BLEND_DST), c.dst);
    }
    EXPECT_EQ(m.flags, c.dst != 0 ? c.flags | MATERIAL_NO_DEPTH : c.flags);  // blending: 2 becomes 10
    EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), c.depth);
    EXPECT_EQ(integer(GL_DEPTH_WRITEMASK), c.depth);
    if (c.depth) {
      EXPECT_EQ(integer(GL_DEPTH_FUNC), GL_LESS);
    }
    for (GLenum name : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER}) EXPECT_EQ(texture_parameter(name), c.filter);
    for (GLenum name : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
      EXPECT_EQ(texture_parameter(name), c.wrap);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(glIsEnabled(GL_MULTISAMPLE), c.multisample);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[1], c.flags & MATERIAL_KEEP_COLOUR ? 0.2f : 0.5f);
    EXPECT_FLOAT_EQ(colour[3], c.flags & MATERIAL_KEEP_COLOUR ? 0.4f : 0.75f);
    // Bit 3 stays once set: without blending still no depth.
    m.flags &= ~MATERIAL_BLEND;
    material_on(&m);
    EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), c.depth);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Materials, AMissingProgramIsSwitchedOff) {
  material m{MATERIAL_PROGRAM, {1, 1, 1, 1}, 4242};
  testing::internal::CaptureStdout();
  material_on(&m);
  EXPECT_EQ(captured_stdout(), "ERROR: Shader not loaded, deactivating\n");
  EXPECT_EQ(m.flags & MATERIAL_PROGRAM, 0u);
  EXPECT_EQ(integer(GL_CURRENT_PROGRAM), 0);
}

TEST_F(Materials, TracePrintsOnlyAPendingError) {
  testing::internal::CaptureStdout();
  opengl_trace("library/arch/opengl/test", 7, "never %d\n", 1);
  EXPECT_EQ(captured_stdout(), "");
  glEnable(0x7FFF);  // not a capability
  testing::internal::CaptureStdout();
  opengl_trace("library/arch/opengl/test", 7, "then %d\n", 5);
  EXPECT_EQ(captured_stdout(),
            "ERROR: library/arch/opengl/test:7 GL_INVALID_ENUM: GLenum argument out of range.\n"
            "then 5\n");
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
