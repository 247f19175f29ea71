// The configuration window run by app_run in this process, driven with real
// X input from another thread: Cancel, Escape and the window's close end the
// program before any output starts; Run fills the configuration. (The test
// runs alone, so no other window comes over the configuration window.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/configurator.h>
#include <zeal/arch/opengl/configurator.h>
#include "common/run_app.h"
#include "common/test_files.h"
#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

struct Answers {
  int answered, cancelled, fullscreen, diskwriter, owned, display_began, display_steps;
  int go_on;  // let the display run after the window
  std::string path;
};
Answers* answers;

int32_t handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase != APP_BEGIN) return APP_STEP;
    app->config.name = "configurator-test";
    answers->cancelled = configwindow(app);
    answers->fullscreen = app->config.fullscreen;
    answers->diskwriter = app->config.diskwriter;
    answers->owned = app->diskwriter_path_owned;
    answers->path = app->config.diskwriter_path ? app->config.diskwriter_path : "(none)";
    answers->answered = 1;
    // Unless asked to go on, the test has what it needs: end before the
    // outputs start.
    return answers->go_on && !answers->cancelled ? APP_STEP : APP_END;
  }
  if (phase == APP_BEGIN) answers->display_began = 1;
  if (phase == APP_STEP) answers->display_steps += 1;
  return phase == APP_STEP ? APP_END : APP_STEP;
}

std::string text(const Answers& a) {
  char line[800];
  snprintf(line, sizeof line, "cancelled %d fullscreen %d diskwriter %d owned %d path %s began %d steps %d",
           a.cancelled, a.fullscreen, a.diskwriter, a.owned, a.path.c_str(), a.display_began, a.display_steps);
  return a.answered ? line : "no answer";
}

}  // namespace

// The program is started with "--diskwriter /given" on its command line.
TEST(Configuration, EachWayOutOfTheWindowGivesItsAnswers) {
  TempDir home;
  mkdir(home.File("Documents").c_str(), 0700);
  std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.path.c_str(), 1);
  unsetenv("XDG_DOCUMENTS_DIR");
  const std::string given = "path /given began 0 steps 0", documents = "path " + home.File("Documents");
  const struct {
    std::vector<std::string> steps;  // clicks on controls, keys, or the window's close
    int go_on;                       // let the display run after the window has gone
    std::string answers;
  } cases[] = {
      {{"FULLSCREEN", "CANCEL"}, 0, "cancelled 1 fullscreen 0 diskwriter 1 owned 0 " + given},
      {{"FULLSCREEN", "Escape"}, 0, "cancelled 1 fullscreen 0 diskwriter 1 owned 0 " + given},
      {{"FULLSCREEN", "close"}, 0, "cancelled 1 fullscreen 0 diskwriter 1 owned 0 " + given},
      {{"FULLSCREEN", "Return"}, 1, "cancelled 0 fullscreen 1 diskwriter 0 owned 0 path /given began 1 steps 1"},
      {{"DISKWRITER", "RUN"}, 0, "cancelled 0 fullscreen 0 diskwriter 1 owned 1 " + documents + " began 0 steps 0"},
      {{}, 0, "cancelled 0 fullscreen 0 diskwriter 1 owned 0 " + given},  // --no-configurator
  };
  const std::map<std::string, int> controls = {
      {"FULLSCREEN", CONFIG_FULLSCREEN}, {"DISKWRITER", CONFIG_DISKWRITER}, {"RUN", CONFIG_RUN}, {"CANCEL", CONFIG_CANCEL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers);
    Answers a{};
    a.go_on = c.go_on;
    answers = &a;
    XInput x;
    std::string failed;
    std::thread user([&] {
      Program idle;  // nothing to read while waiting
      Window window = c.steps.empty() ? 0 : x.next_window(idle, 15000);
      if (!c.steps.empty() && window == 0) failed = "no configuration window";
      for (const std::string& step : c.steps) {
        int32_t at[2] = {};
        if (controls.count(step)) configurator_control_centre(controls.at(step), at);
        bool sent = controls.count(step) ? x.click(window, at[0], at[1]) : step == "close" ? x.close(window)
                                                                                         : x.key(window, step);
        if (!sent && failed.empty()) failed = "could not send " + step;
      }
      if (!failed.empty()) x.close(window);
    });
    std::vector<std::string> args = {"configurator-test", "--diskwriter", "/given"};
    if (c.steps.empty()) args.push_back("--no-configurator");
    std::string out;
    EXPECT_EQ(run_app(args, APP_STREAM_DISPLAY, handler, &out), 0) << out;
    user.join();
    EXPECT_EQ(failed, "");
    EXPECT_EQ(text(a), c.answers);
  }
  setenv("HOME", saved_home.c_str(), 1);
}

TEST(ConfigurationDirectory, DocumentsThenHome) {
  TempDir home;
  std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.path.c_str(), 1);
  unsetenv("XDG_DOCUMENTS_DIR");
  std::string documents = home.path + "/Documents";
  // no Documents; Documents; a missing XDG directory; an XDG directory
  const struct { const char* xdg; bool make; std::string expected; } cases[] = {
      {nullptr, false, home.path}, {nullptr, true, documents},
      {"/nonexistent-documents", true, documents}, {"/tmp", true, "/tmp"}};
  for (const auto& c : cases) {
    if (c.make) mkdir(documents.c_str(), 0700);
    if (c.xdg != nullptr) setenv("XDG_DOCUMENTS_DIR", c.xdg, 1);
    char out[512];
    configurator_default_directory(out, sizeof(out));
    EXPECT_EQ(c.expected, out) << (c.xdg ? c.xdg : "no XDG directory");
  }
  unsetenv("XDG_DOCUMENTS_DIR");
  setenv("HOME", saved_home.c_str(), 1);
}
