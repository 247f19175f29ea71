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

TEST_F(Materials, AlphaBlendingTurnsDepthOffForGood) {
  material m{MATERIAL_BLEND, {1.0f, 0.5f, 0.25f, 0.75f}, 0};
  material_on(&m);
  EXPECT_EQ(m.flags, 10u);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(integer(GL_DEPTH_WRITEMASK), GL_FALSE);
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_FLOAT_EQ(colour[1], 0.5f);
  EXPECT_FLOAT_EQ(colour[3], 0.75f);

  // Bit 3 stays once set: no blending, still no depth.
  m.flags &= ~MATERIAL_BLEND;
  material_on(&m);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Materials, AdditiveWinsOverAlpha) {
  material m{MATERIAL_BLEND | MATERIAL_ADDITIVE, {1, 1, 1, 1}, 0};
  material_on(&m);
  EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE);
  EXPECT_EQ(m.flags & MATERIAL_NO_DEPTH, MATERIAL_NO_DEPTH);
}

TEST_F(Materials, PlainMaterialDepthTestsWithLinearClampedTextures) {
  glEnable(GL_CULL_FACE);
  glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
  material m{MATERIAL_KEEP_COLOUR, {1, 1, 1, 1}, 0};
  material_on(&m);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(integer(GL_DEPTH_WRITEMASK), GL_TRUE);
  EXPECT_EQ(integer(GL_DEPTH_FUNC), GL_LESS);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_R), GL_CLAMP_TO_EDGE);
  EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
  EXPECT_TRUE(glIsEnabled(GL_MULTISAMPLE));
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_FLOAT_EQ(colour[0], 0.1f);  // left alone
  EXPECT_EQ(m.flags, static_cast<uint32_t>(MATERIAL_KEEP_COLOUR));
}

TEST_F(Materials, NearestRepeatAndNoMultisampling) {
  material m{MATERIAL_NEAREST | MATERIAL_REPEAT | MATERIAL_NO_MULTISAMPLE, {1, 1, 1, 1}, 0};
  material_on(&m);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_R), GL_REPEAT);
  EXPECT_FALSE(glIsEnabled(GL_MULTISAMPLE));
}

TEST_F(Materials, AMissingProgramIsSwitchedOff) {
  material m{MATERIAL_PROGRAM, {1, 1, 1, 1}, 4242};
  testing::internal::CaptureStdout();
  material_on(&m);
  std::string out = captured_stdout();
  EXPECT_EQ(out, "ERROR: Shader not loaded, deactivating\n");
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
