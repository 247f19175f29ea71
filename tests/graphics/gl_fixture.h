// A real window under the virtual X server for GL tests, with stdout
// captured while it opens and pending GL errors drained.
#pragma once
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cstdint>
#include <vector>

#include "display/display_fixture.h"

struct GlTest : testing::Test {
  DisplayWindow* window = nullptr;
  void SetUp() override {
    testing::internal::CaptureStdout();
    window = new DisplayWindow();
    captured_stdout();
    glViewport(0, 0, 1280, 720);
    while (glGetError() != GL_NO_ERROR) {}
  }
  void TearDown() override { delete window; }
};

// The RGBA words of a bound 2D texture's level 0.
inline std::vector<uint32_t> texture_words(uint32_t name, int32_t* width, int32_t* height) {
  glBindTexture(GL_TEXTURE_2D, name);
  GLint w = 0, h = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  std::vector<uint32_t> words(static_cast<size_t>(w) * h);
  if (!words.empty()) glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, words.data());
  *width = w;
  *height = h;
  return words;
}

inline uint32_t read_pixel(int32_t x, int32_t y) {
  uint32_t word = 0;
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, &word);
  return word;
}
