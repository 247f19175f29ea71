// Frames, hooks and raster mode in a real window.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <string>
#include <utility>
#include <vector>

#include "arch/opengl/display.h"
#include "display_fixture.h"

namespace {

std::vector<std::string> calls;
int allocations;
int frees;

void* hook_allocate() {
  ++allocations;
  return new int(allocations);
}
void hook_free(void* instance) {
  ++frees;
  delete static_cast<int*>(instance);
}
void hook_define(void* instance, display_frame*) {
  calls.push_back("define " + std::to_string(*static_cast<int*>(instance)));
}
void hook_commit(void* instance, display_frame*) {
  calls.push_back("commit " + std::to_string(*static_cast<int*>(instance)));
}

struct FrameHooks : testing::Test {
  array hooks{};
  display_stats stats{};
  display_frame frame{};
  void SetUp() override {
    calls.clear();
    allocations = frees = 0;
    frame_make(&frame, 5.0, &stats, &hooks);
  }
  void TearDown() override {
    for (int32_t i = count() - 1; i >= 0; --i) display_frame_remove_hooks(&frame, i);
    frame_delete(&frame);
    array_reset(&hooks);
  }
  int32_t add() { return display_frame_add_hooks(&frame, hook_allocate, hook_free, hook_define, hook_commit); }
  int32_t count() { return array_count(&hooks, sizeof(frame_hook)); }
};

}  // namespace

TEST_F(FrameHooks, RunInOrderWithLazyInstancesAndAtOnceDuringADefine) {
  EXPECT_EQ(add(), 0);
  EXPECT_EQ(add(), 1);
  EXPECT_EQ(allocations, 0);
  display_context* context = reinterpret_cast<display_context*>(1);
  display_frame_define(&frame, &context);
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(frame.none, 0u);
  EXPECT_TRUE(display_frame_is_being_defined(&frame));
  EXPECT_EQ(add(), 2);  // added during a define: its define runs at once
  display_frame_commit(&frame);
  EXPECT_FALSE(display_frame_is_being_defined(&frame));
  EXPECT_EQ(calls, (std::vector<std::string>{"define 1", "define 2", "define 3", "commit 1", "commit 2",
                                             "commit 3"}));
  EXPECT_EQ(allocations, 3);
  add();  // outside a define nothing runs at once
  EXPECT_EQ(calls.size(), 6u);

  // Commit-none runs no hooks and marks the frame none.
  display_frame_define(&frame, nullptr);
  calls.clear();
  display_frame_commit_none(&frame);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(frame.none, 1u);
  EXPECT_EQ(frame.define_time, frame.commit_time);
}

TEST_F(FrameHooks, RemovedHooksFreeTheirInstancesAndNoLongerRun) {
  for (int i = 0; i < 3; ++i) add();
  display_frame_define(&frame, nullptr);
  display_frame_commit(&frame);
  calls.clear();
  display_frame_remove_hooks(&frame, 1);
  display_frame_remove_hooks(&frame, 1);  // already removed: nothing more
  display_frame_remove_hooks(&frame, 7);
  display_frame_remove_hooks(&frame, -1);
  EXPECT_EQ(frees, 1);
  EXPECT_EQ(add(), 3);  // the last never had an instance: removed, nothing to free
  display_frame_remove_hooks(&frame, 3);
  display_frame_remove_hooks(&frame, 2);
  EXPECT_EQ(std::pair(count(), frees), std::pair(2, 2));
  display_frame_define(&frame, nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"define 1"}));
  display_frame_remove_hooks(&frame, 0);
  EXPECT_EQ(frees, 3);
}

TEST_F(FrameHooks, AFailedAllocationWaitsForTheNextPass) {
  static int tries;
  tries = 0;
  auto fail_once = []() -> void* { return ++tries == 1 ? nullptr : hook_allocate(); };
  display_frame_add_hooks(&frame, fail_once, hook_free, hook_define, hook_commit);
  display_frame_define(&frame, nullptr);
  EXPECT_TRUE(calls.empty());
  display_frame_commit(&frame);
  EXPECT_EQ(calls, (std::vector<std::string>{"commit 1"}));
}

namespace {

// Pixel (x, y) of the back buffer, counted from the top, as 0xRRGGBB.
uint32_t screen_pixel(const DisplayWindow& w, int x, int y) {
  unsigned char rgba[4] = {};
  glReadBuffer(GL_BACK);
  glReadPixels(x, w.io->view_height - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return static_cast<uint32_t>(rgba[0]) << 16 | static_cast<uint32_t>(rgba[1]) << 8 | rgba[2];
}

}  // namespace

TEST(Raster, ReusesBuffersOfTheSameKindAndShowsTheClientPixels) {
  testing::internal::CaptureStdout();
  DisplayWindow w;
  captured_stdout();
  glViewport(0, 0, w.io->view_width, w.io->view_height);
  display_frame* frame = &w.io->frames[1];
  uint32_t* pixels = nullptr;
  int32_t width = 0, height = 0, stride = 0;
  display_frame_define_raster_i32(frame, &pixels, &width, &height, &stride);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ((std::vector<int32_t>{width, height, stride}), (std::vector<int32_t>{1280, 720, 1280}));
  // Top half red, bottom half blue, with a green left quarter.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[y * stride + x] = x < width / 4 ? 0x00FF00 : (y < height / 2 ? 0xFF0000 : 0x0000FF);
  display_frame_commit(frame);
  EXPECT_EQ((std::vector<uint32_t>{screen_pixel(w, 900, 100), screen_pixel(w, 900, 600), screen_pixel(w, 100, 100),
                                   screen_pixel(w, 100, 600)}),
            (std::vector<uint32_t>{0xFF0000u, 0x0000FFu, 0x00FF00u, 0x00FF00u}));

  uint32_t* again = nullptr;
  display_frame_define_raster_i32(frame, &again, &width, &height, &stride);
  EXPECT_EQ(again, pixels);
  display_frame_commit(frame);

  float* floats = nullptr;
  display_frame_define_raster_float96(frame, &floats, &width, &height, &stride);
  ASSERT_NE(floats, nullptr);
  for (int i = 0; i < width * height; ++i) {
    floats[3 * i] = 2.0f;  // clamped to 1
    floats[3 * i + 1] = 0.5f;
    floats[3 * i + 2] = -1.0f;
  }
  display_frame_commit(frame);
  EXPECT_EQ(screen_pixel(w, 640, 360), 0xFF7F00u);
}
