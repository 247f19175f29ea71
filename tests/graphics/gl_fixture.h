// A real window under the virtual X server for GL tests, with stdout
// captured while it opens and pending GL errors drained.
#pragma once
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdint>
#include <vector>

#include "display/display_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// One window for the whole test program: display devices are never freed,
// so a window per test would run out of them. It goes when the tests end.
inline DisplayWindow* gl_shared_window;

struct GlWindowEnvironment : testing::Environment {
  void TearDown() override {
    if (gl_shared_window == nullptr) return;
    delete gl_shared_window;
    gl_shared_window = nullptr;
    glutMainLoopEvent();  // freeglut destroys windows here, not at once
#if defined(__SANITIZE_ADDRESS__)
    // Check for leaks now, while the GL driver is loaded: at exit freeglut
    // unloads it and its own allocations could no longer be told from ours.
    __lsan_do_leak_check();
#endif
  }
};
inline testing::Environment* const gl_window_environment =
    testing::AddGlobalTestEnvironment(new GlWindowEnvironment);

inline DisplayWindow* gl_test_window() {
  DisplayWindow*& window = gl_shared_window;
  if (window == nullptr) {
    testing::internal::CaptureStdout();
    window = new DisplayWindow();
    captured_stdout();
    // freeglut destroys its windows at exit and calls the close callback,
    // which would end the process with status 0 and hide failures.
    glutSetWindow(window->io->window);
    glutCloseFunc(nullptr);
  }
  return window;
}

struct GlTest : testing::Test {
  DisplayWindow* window = nullptr;
  void SetUp() override {
    window = gl_test_window();
    glViewport(0, 0, 1280, 720);
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    while (glGetError() != GL_NO_ERROR) {}
  }
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
