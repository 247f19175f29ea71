// Whole processes: a real window run by app_run in a child, ended by Escape
// or by the window manager's close, the display's own end, and no X display.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glx.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/app.h"
#include "base/perf.h"
#include "arch/opengl/display.h"
#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

struct Shared {
  std::atomic<int> frames;
  std::atomic<int> attached;
  std::atomic<unsigned long> window;  // the child's X window
  int end_with_none;  // answer display steps with nothing to show
  char log[256];
};
Shared* shared;

int32_t handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) {
      perf_logfile(shared->log[0] ? shared->log : nullptr);
      perf_logenable(shared->log[0] != 0);
    }
    return APP_STEP;
  }
  if (phase == APP_BEGIN) shared->attached.fetch_add(1);
  if (phase != APP_STEP) return APP_STEP;
  display_frame* frame = app->display_frame;
  if (shared->end_with_none) {
    display_frame_commit_none(frame);
    return APP_STEP;
  }
  display_frame_define(frame, nullptr);
  shared->window.store(glXGetCurrentDrawable());
  float level = static_cast<float>(shared->frames.load() % 30) / 30.0f;
  glClearColor(level, 0.2f, 0.4f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  display_frame_commit(frame);
  shared->frames.fetch_add(1);
  return APP_STEP;
}

struct Child : testing::Test {
  Program child;
  void SetUp() override { ASSERT_NE(shared = shared_page<Shared>(), nullptr); }
  void TearDown() override {
    child.stop();
    release_page(shared);
  }
  void start() {
    ASSERT_TRUE(child.run([] {
      static char name[] = "display-test";
      static char* argv[] = {name, nullptr};
      exit_child(app_run(1, argv, APP_STREAM_DISPLAY, handler));
    }));
  }
  bool wait_frames(int count, double seconds) {
    double end = get_milliseconds() + seconds * 1000.0;
    while (shared->frames.load() < count && get_milliseconds() < end) child.read_for(20.0);
    return shared->frames.load() >= count;
  }
};

}  // namespace

TEST_F(Child, PresentsThirtyFramesASecondAndEscapeEnds) {
  start();
  ASSERT_TRUE(wait_frames(1, 15.0)) << "no frame drawn" << child.output;
  EXPECT_EQ(shared->attached.load(), 1);
  child.read_for(500.0);
  double t0 = get_milliseconds();
  int f0 = shared->frames.load();
  child.read_for(3000.0);
  double rate = (shared->frames.load() - f0) * 1000.0 / (get_milliseconds() - t0);
  printf("frames per second: %.2f\n", rate);
  // Paced at 0.95 of a period: never much above 30. The software renderer
  // on a shared, loaded machine may fall somewhat short of it.
  EXPECT_GT(rate, 20.0);
  EXPECT_LT(rate, 33.0);
  ASSERT_TRUE(XInput().key(shared->window.load(), "Escape"));
  EXPECT_EQ(child.wait_exit(10000), 0) << child.output;
}

TEST_F(Child, ClosingTheWindowEndsTheProcessNormally) {
  start();
  ASSERT_TRUE(wait_frames(1, 15.0)) << "no frame drawn" << child.output;
  ASSERT_TRUE(XInput().close(shared->window.load()));
  EXPECT_EQ(child.wait_exit(10000), 0) << child.output;
}

TEST_F(Child, ADisplayWithNothingToShowEndsThroughMyExit) {
  TempDir dir;
  std::string log = dir.path + "/perf.log";
  snprintf(shared->log, sizeof(shared->log), "%s", log.c_str());
  shared->end_with_none = 1;
  start();
  EXPECT_EQ(child.wait_exit(15000), 0) << child.output;
  std::string text = read_file(log);
  EXPECT_GE(text.size(), 5u);
  EXPECT_EQ(text.substr(text.size() - 5), "quit\n") << text;
}

TEST(NoDisplay, SaysHowToRunHeadlessAndFails) {
  std::string display = getenv("DISPLAY") != nullptr ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  char program[] = "no-display";
  char* argv[] = {program, nullptr};
  testing::internal::CaptureStdout();
  int status = app_run(1, argv, APP_STREAM_DISPLAY, [](uint32_t, uint32_t, App*) { return int32_t{APP_STEP}; });
  std::string text = testing::internal::GetCapturedStdout();
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(text.rfind("ERROR: no X display could be opened (DISPLAY is not set)", 0), 0u) << text;
  EXPECT_NE(text.find("xvfb-run"), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
}
