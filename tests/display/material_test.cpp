// A material whose program is missing, and the GL error check.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <string>

#include <zeal/arch/opengl/material.h>
#include <zeal/arch/opengl/trace.h>
#include "display_fixture.h"

namespace {

struct Materials : testing::Test {
  DisplayWindow* window = nullptr;
  void SetUp() override {
    testing::internal::CaptureStdout();
    window = new DisplayWindow();
    captured_stdout();
    while (glGetError() != GL_NO_ERROR) {}
  }
  void TearDown() override { delete window; }
};

GLint integer(GLenum name) {
  GLint value = -1;
  glGetIntegerv(name, &value);
  return value;
}

}  // namespace

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
