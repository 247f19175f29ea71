// The configuration window in a child process run by app_run, driven with
// real X input: Cancel, Escape and the window's close end the
// process before any output starts; Run fills the configuration.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/configurator.h"
#include "arch/opengl/configurator.h"
#include "arch/opengl/glut_state.h"
#include "arch/opengl/display.h"
#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

struct Shared {
  char name[64], home[256], path[512];
  int answered, cancelled, fullscreen, diskwriter, owned, display_began, display_steps;
  int go_on;  // let the display run after the window
};
Shared* shared;

int32_t handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase != APP_BEGIN) return APP_STEP;
    app->config.name = shared->name;
    shared->cancelled = configwindow(app);
    shared->fullscreen = app->config.fullscreen;
    shared->diskwriter = app->config.diskwriter;
    shared->owned = app->diskwriter_path_owned;
    snprintf(shared->path, sizeof(shared->path), "%s",
             app->config.diskwriter_path ? app->config.diskwriter_path : "(none)");
    shared->answered = 1;
    // Unless asked to go on, the test has what it needs: end before the
    // outputs start.
    return shared->go_on && !shared->cancelled ? APP_STEP : APP_END;
  }
  if (phase == APP_BEGIN) shared->display_began = 1;
  if (phase == APP_STEP) shared->display_steps += 1;
  return phase == APP_STEP ? APP_END : APP_STEP;
}

// A virtual screen of the test's own: the clicks go to whatever window lies
// under the one pointer of a screen, and on the shared screen other tests'
// windows come and go over the configuration window.
bool start_private_screen(Program* screen) {
  for (int attempt = 0; attempt < 10; ++attempt, inthread_sleep(50.0 * attempt)) {
    // The server writes its display number to the captured output once it is ready.
    if (!screen->start({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"}) ||
        !screen->wait_for_text("\n", 10000)) {
      screen->stop(SIGTERM);
      continue;
    }
    std::string display = ":" + screen->output.substr(0, screen->output.find('\n'));
    // Two servers started at once may pick the same number; the loser dies.
    Display* x = XOpenDisplay(display.c_str());
    if (x != nullptr) XCloseDisplay(x);
    if (x != nullptr && screen->running()) return setenv("DISPLAY", display.c_str(), 1) == 0;
    screen->stop(SIGTERM);
  }
  return false;
}

struct Configuration : testing::Test {
  Program screen;
  TempDir home;
  Program child;
  std::unique_ptr<XInput> x;  // on the private screen
  void SetUp() override {
    if (glut_is_initialized()) GTEST_SKIP() << "GLUT already set up in this process; run under ctest";
    ASSERT_TRUE(start_private_screen(&screen)) << "no private virtual screen (is Xvfb installed?)";
    x = std::make_unique<XInput>();
    ASSERT_NE(shared = shared_page<Shared>(), nullptr);
    snprintf(shared->name, sizeof(shared->name), "zeal-configurator-%d", getpid());
    snprintf(shared->home, sizeof(shared->home), "%s", home.path.c_str());
    mkdir((home.path + "/Documents").c_str(), 0700);
  }
  void TearDown() override {
    child.stop();
    x.reset();
    screen.stop(SIGTERM);
    release_page(shared);
    shared = nullptr;
  }
  // The child, started with "--diskwriter /given" on its command line.
  void fork_child(int with_window) {
    ASSERT_TRUE(child.run([with_window] {
      setenv("HOME", shared->home, 1);
      unsetenv("XDG_DOCUMENTS_DIR");
      static char name[] = "configurator-test";
      static char option[] = "--diskwriter";
      static char given[] = "/given";
      static char skip[] = "--no-configurator";
      static char* argv[] = {name, option, given, skip, nullptr};
      exit_child(app_run(with_window ? 3 : 4, argv, APP_STREAM_DISPLAY, handler));
    }));
  }
  // The child's configuration after the window, and how far its display went.
  std::string answers() {
    char text[800];
    snprintf(text, sizeof text, "cancelled %d fullscreen %d diskwriter %d owned %d path %s began %d steps %d",
             shared->cancelled, shared->fullscreen, shared->diskwriter, shared->owned, shared->path,
             shared->display_began, shared->display_steps);
    return shared->answered ? text : "no answer";
  }
};

}  // namespace

// Cancel, Escape and the window's close end the program before any output
// starts, with the record as the command line left it; Run fills it in.
TEST_F(Configuration, EachWayOutOfTheWindowGivesItsAnswers) {
  const std::string given = "path /given began 0 steps 0", documents = "path " + home.path + "/Documents";
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
    memset(&shared->answered, 0, sizeof(Shared) - offsetof(Shared, answered));
    shared->go_on = c.go_on;
    fork_child(!c.steps.empty());
    Window window = c.steps.empty() ? 0 : x->next_window(child, 15000);
    ASSERT_TRUE(c.steps.empty() || window != 0) << "no configuration window";
    for (const std::string& step : c.steps) {
      int32_t at[2];
      if (controls.count(step)) configurator_control_centre(controls.at(step), at);
      ASSERT_TRUE(controls.count(step) ? x->click(window, at[0], at[1])
                  : step == "close"    ? x->close(window)
                                       : x->key(window, step))
          << step;
    }
    EXPECT_EQ(child.wait_exit(10000), 0) << child.output;
    EXPECT_EQ(answers(), c.answers);
  }
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
