// Frames, hooks and raster mode in a real window.
#include <gtest/gtest.h>


#include <string>
#include <utility>
#include <vector>

#include <zeal/arch/opengl/display.h>
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
