// Whole processes: a real window run by app_run in a child, ended by Escape
// or by the window manager's close, the display's own end, and no X display.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "app/perf.h"
#include "arch/opengl/display.h"
#include "base/thread.h"
#include "display_fixture.h"

namespace {

struct Shared {
  std::atomic<int> frames;
  std::atomic<int> attached;
  std::atomic<unsigned long> window;  // the child's X window
  int end_with_none;  // answer display steps with nothing to show
  int stop_after;     // answer 1 (stop) after this many drawn frames, if set
  char dir[256];      // --diskwriter directory, if set
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
  if (shared->stop_after && shared->frames.load() >= shared->stop_after) return APP_END;
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
  pid_t pid = -1;
  void SetUp() override {
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    shared = new (memory) Shared{};
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    munmap(shared, sizeof(Shared));
  }
  void start() {
    fflush(nullptr);
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      static char name[] = "display-test";
      static char option[] = "--diskwriter";
      static char* argv[] = {name, option, shared->dir, nullptr};
      app_run(shared->dir[0] ? 3 : 1, argv, APP_STREAM_DISPLAY, handler);
    }
  }
  // The child's exit status, or -1 if it still runs after `seconds`.
  int wait_exit(double seconds) {
    double end = get_milliseconds() + seconds * 1000.0;
    while (get_milliseconds() < end) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      inthread_sleep(20.0);
    }
    return -1;
  }
  bool wait_frames(int count, double seconds) {
    double end = get_milliseconds() + seconds * 1000.0;
    while (shared->frames.load() < count && get_milliseconds() < end) inthread_sleep(20.0);
    return shared->frames.load() >= count;
  }
};

}  // namespace

TEST_F(Child, PresentsThirtyFramesASecondAndEscapeEnds) {
  start();
  ASSERT_TRUE(wait_frames(1, 15.0)) << "no frame drawn";
  EXPECT_EQ(shared->attached.load(), 1);
  inthread_sleep(500.0);
  double t0 = get_milliseconds();
  int f0 = shared->frames.load();
  inthread_sleep(3000.0);
  double rate = (shared->frames.load() - f0) * 1000.0 / (get_milliseconds() - t0);
  printf("frames per second: %.2f\n", rate);
  // Paced at 0.95 of a period: never much above 30. The software renderer
  // on a shared, loaded machine may fall somewhat short of it.
  EXPECT_GT(rate, 20.0);
  EXPECT_LT(rate, 33.0);
  // Sent to the child's own window: other tests may have windows open.
  std::string command = "xdotool key --window " + std::to_string(shared->window.load()) + " Escape";
  ASSERT_EQ(system(command.c_str()), 0);
  EXPECT_EQ(wait_exit(10.0), 0);
}

TEST_F(Child, ClosingTheWindowEndsTheProcessNormally) {
  start();
  ASSERT_TRUE(wait_frames(1, 15.0)) << "no frame drawn";
  Display* x = XOpenDisplay(nullptr);
  ASSERT_NE(x, nullptr);
  Window window = shared->window.load();
  ASSERT_NE(window, 0u);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, window, False, NoEventMask, &event);
  XFlush(x);
  EXPECT_EQ(wait_exit(10.0), 0);
  XCloseDisplay(x);
}

TEST_F(Child, ADisplayWithNothingToShowEndsThroughMyExit) {
  std::string log = "/tmp/zeal-display-end-" + std::to_string(getpid()) + ".log";
  snprintf(shared->log, sizeof(shared->log), "%s", log.c_str());
  shared->end_with_none = 1;
  start();
  EXPECT_EQ(wait_exit(15.0), 0);
  std::string text = read_file(log);
  EXPECT_GE(text.size(), 5u);
  EXPECT_EQ(text.substr(text.size() - 5), "quit\n") << text;
  unlink(log.c_str());
}

TEST_F(Child, RendersNumberedFramesIntoTheDiskwriterDirectory) {
  char pattern[] = "/tmp/zeal-display-render-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  snprintf(shared->dir, sizeof(shared->dir), "%s", pattern);
  shared->stop_after = 3;
  start();
  EXPECT_EQ(wait_exit(20.0), 0);
  // Frames count from the first presented one, drawn or not; the clock may
  // take a while to roll, so the three drawn frames need not start at 0.
  std::vector<int> numbers;
  DIR* dir = opendir(pattern);
  ASSERT_NE(dir, nullptr);
  while (dirent* entry = readdir(dir)) {
    int number = -1;
    char tail[8] = {};
    if (sscanf(entry->d_name, "app-%8d%5s", &number, tail) == 2 && strcmp(tail, ".tga") == 0 &&
        strlen(entry->d_name) == strlen("app-00000000.tga"))
      numbers.push_back(number);
    unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
  rmdir(pattern);
  std::sort(numbers.begin(), numbers.end());
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_EQ(numbers[1], numbers[0] + 1);
  EXPECT_EQ(numbers[2], numbers[0] + 2);
}

TEST(NoDisplay, SaysHowToRunHeadlessAndFails) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    unsetenv("DISPLAY");
    display_io_handle handle{};
    display_io_make(&handle);
    _exit(99);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(text.rfind("ERROR: no X display could be opened (DISPLAY is not set)", 0), 0u) << text;
  EXPECT_NE(text.find("xvfb-run"), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
}
