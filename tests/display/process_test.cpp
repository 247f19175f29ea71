// Whole programs with a real window, run by app_run in this process: ended
// by the window manager's close, by the display's own end, and without an
// X display.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glx.h>

#include <atomic>
#include <string>
#include <thread>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/base/perf.h>
#include "common/run_app.h"
#include "common/test_files.h"
#include "common/x_input.h"

namespace {

struct Shared {
  std::atomic<int> frames{0};
  std::atomic<int> attached{0};
  std::atomic<unsigned long> window{0};  // the program's X window
  std::atomic<int> give_up{0};           // end the display: the test could not
  int end_with_none = 0;                 // answer display steps with nothing to show
  std::string log;
};
Shared* shared;

int32_t handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) {
      perf_logfile(shared->log.empty() ? nullptr : shared->log.c_str());
      perf_logenable(!shared->log.empty());
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
  glClearColor(static_cast<float>(shared->frames.load() % 30) / 30.0f, 0.2f, 0.4f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  display_frame_commit(frame);
  shared->frames.fetch_add(1);
  return shared->give_up.load() ? APP_END : APP_STEP;
}

bool wait_frames(int count, double ms) {
  for (double end = get_milliseconds() + ms; shared->frames.load() < count; inthread_sleep(10))
    if (get_milliseconds() > end) return false;
  return true;
}

}  // namespace

// (Escape is sent to whole programs elsewhere; the pacing is checked frame
// by frame in the loop's own tests.)
TEST(Child, TheWindowManagersCloseEndsTheProgram) {
  Shared s;
  shared = &s;
  bool sent = false;
  std::thread input([&] {
    XInput x;
    sent = wait_frames(3, 15000) && x.close(shared->window.load());
    if (!sent) shared->give_up.store(1);
  });
  std::string out;
  int status = run_app({"display-test"}, APP_STREAM_DISPLAY, handler, &out);
  input.join();
  ASSERT_TRUE(sent) << out;
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(s.attached.load(), 1);
}

TEST(Child, ADisplayWithNothingToShowEndsTheProgram) {
  TempDir dir;
  Shared s;
  s.log = dir.File("perf.log");
  s.end_with_none = 1;
  shared = &s;
  std::string out;
  EXPECT_EQ(run_app({"display-test"}, APP_STREAM_DISPLAY, handler, &out), 0) << out;
  perf_logfile(nullptr);
  std::string text = read_file(s.log);
  ASSERT_GE(text.size(), 5u);
  EXPECT_EQ(text.substr(text.size() - 5), "quit\n") << text;
}

TEST(NoDisplay, SaysHowToRunHeadlessAndFails) {
  std::string display = getenv("DISPLAY") != nullptr ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  std::string text;
  int status = run_app({"no-display"}, APP_STREAM_DISPLAY, [](uint32_t, uint32_t, App*) { return int32_t{APP_STEP}; },
                       &text);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(text.rfind("ERROR: no X display could be opened (DISPLAY is not set)", 0), 0u) << text;
  EXPECT_NE(text.find("xvfb-run"), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
}
