// The program played live under the virtual X server and a JACK server on
// its dummy driver: left alone it plays the whole piece and ends by itself;
// Alt+Return without a game mode keeps it running in its window, Escape ends
// it at once with status 0.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "base/thread.h"

namespace {

// The root window's children: the program's window has neither a name nor a
// process id, so it is found as the one that was not there before.
std::set<unsigned long> top_windows() {
  std::set<unsigned long> ids;
  Display* x = XOpenDisplay(nullptr);
  if (x == nullptr) return ids;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int n = 0;
  if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &n)) {
    for (unsigned int i = 0; i < n; ++i) ids.insert(children[i]);
    XFree(children);
  }
  XCloseDisplay(x);
  return ids;
}

struct Live : testing::Test {
  pid_t pid = -1;
  std::string log;
  std::set<unsigned long> before;
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (!log.empty()) unlink(log.c_str());
  }
  void start() {
    log = "/tmp/vv-plume-live-" + std::to_string(getpid()) + ".log";
    before = top_windows();
    fflush(nullptr);
    pid = fork();
    if (pid == 0) {
      FILE* out = freopen(log.c_str(), "w", stdout);
      (void)out;
      dup2(fileno(stdout), 2);
      std::string program = std::string(ZEAL_BINARY_DIR) + "/vv-plume";
      execl(program.c_str(), "vv-plume", "--no-configurator", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // Exit status, or -1 while it still runs after `seconds`.
  int wait_exit(double seconds) {
    double end = get_milliseconds() + seconds * 1000.0;
    do {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      inthread_sleep(20.0);
    } while (get_milliseconds() < end);
    return -1;
  }
  // The program's window, other than `old`.
  std::string window(const std::string& old = "") {
    double end = get_milliseconds() + 15000.0;
    while (get_milliseconds() < end) {
      for (unsigned long id : top_windows())
        if (!before.count(id) && std::to_string(id) != old) return std::to_string(id);
      inthread_sleep(100.0);
    }
    return "";
  }
  std::string console() {
    std::string text;
    if (FILE* f = fopen(log.c_str(), "r")) {
      char line[512];
      while (fgets(line, sizeof(line), f)) text += line;
      fclose(f);
    }
    return text;
  }
};

TEST_F(Live, PlaysUntilEscapeAndAltReturnKeepsItRunning) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  start();
  std::string id = window();
  ASSERT_FALSE(id.empty());
  // Through the calibration and into the lead-in.
  EXPECT_EQ(wait_exit(4.0), -1);
  ASSERT_EQ(system(("xdotool key --window " + id + " alt+Return").c_str()), 0);
  // Without a game mode the window is made again, and the piece goes on.
  id = window(id);
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(wait_exit(2.0), -1);
  ASSERT_EQ(system(("xdotool key --window " + id + " Escape").c_str()), 0);
  ASSERT_EQ(wait_exit(15.0), 0);
  std::string text = console();
  EXPECT_NE(text.find("120000.0000, 0.0000, 2.0000, 6.0000, 6.0000]"), std::string::npos) << text;
  EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
  EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
}

TEST_F(Live, WholePiecePlaysInRealTimeAndEndsByItself) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  double began = get_milliseconds();
  start();
  // Calibration, 2 s of lead-in and the 123 s piece, played as it sounds.
  int status = wait_exit(240.0);
  double seconds = (get_milliseconds() - began) / 1000.0;
  std::string text = console();
  ASSERT_EQ(status, 0) << text;
  EXPECT_GE(seconds, 125.0);
  EXPECT_LT(seconds, 160.0);
  EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
  EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
}

}  // namespace
