#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "common/child.h"

namespace {

// Handler whose answers come from a script; it records every call.
struct Script {
  std::vector<int32_t> begins;  // consumed in order, the last one repeats
  int32_t step, end;
  std::string calls;
  size_t next = 0;
};
Script* script;

int32_t scripted(uint32_t stream, uint32_t phase, App*) {
  script->calls += std::to_string(stream) + ":" + std::to_string(phase) + " ";
  if (phase == APP_BEGIN) return script->begins[std::min(script->next++, script->begins.size() - 1)];
  return phase == APP_STEP ? script->step : script->end;
}

int32_t quit_at_begin(uint32_t stream, uint32_t phase, App*) {
  if (stream == APP_STREAM_APP && phase == APP_BEGIN) {
    printf("begin\n");
    return APP_END;
  }
  printf("unexpected %u:%u\n", stream, phase);
  return APP_STEP;
}

int32_t report_config(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP)
    printf("%u:%u diskwriter=%d path=%s\n", stream, phase, app->config.diskwriter,
           app->config.diskwriter_path ? app->config.diskwriter_path : "none");
  return APP_STEP;
}

}  // namespace

TEST(TwoCallStep, PhaseSequenceForEachAnswer) {
  struct Case {
    std::vector<int32_t> begins;
    int32_t step, end;
    int ticks;
    const char* calls;
    int started, audio_left;
  };
  const Case cases[] = {
      // A begin answering 2 is called on every tick.
      {{APP_STEP}, APP_STEP, APP_STEP, 2, "4:0 4:2 4:0 4:2 ", 0, 1},
      // Answering 0 it is called twice, then only the step.
      {{APP_BEGIN, APP_STEP}, APP_STEP, APP_STEP, 2, "4:0 4:0 4:2 ", 1, 1},
      // Answering 1 ends the stream in the same tick: the first answer is the
      // phase of the second call, an end the handler confirms; no extra end.
      {{APP_END}, APP_STEP, APP_END, 1, "4:0 4:1 ", 0, 0},
      // A step answering 1 gets one more end.
      {{APP_STEP}, APP_END, APP_STEP, 1, "4:0 4:2 4:1 ", 0, 0},
  };
  for (const Case& c : cases) {
    Script s{c.begins, c.step, c.end, "", 0};
    script = &s;
    App app{};
    app.config.streams = APP_STREAM_AUDIO | APP_STREAM_DISPLAY;
    app.handler = scripted;
    app.state[2] = malloc(16);  // freed by the quit
    for (int t = 0; t < c.ticks; ++t) app_two_call_step(&app, APP_STREAM_AUDIO);
    EXPECT_EQ(s.calls, c.calls);
    EXPECT_EQ(app.started[2], c.started) << c.calls;
    EXPECT_EQ(app_has_stream(&app, APP_STREAM_AUDIO) != 0, c.audio_left) << c.calls;
    EXPECT_EQ(app.state[2] != nullptr, c.audio_left) << c.calls;
    EXPECT_NE(app_has_stream(&app, APP_STREAM_DISPLAY), 0);
    free(app.state[2]);
  }
}

TEST(CommandLine, DiskwriterTakesTheFirstOtherArgumentInAnyOrder) {
  struct Case {
    std::vector<std::string> args;
    const char* path;
    int help, no_configurator;
  };
  const Case cases[] = {
      {{"--diskwriter", "/tmp/x", "/tmp/y"}, "/tmp/x", 0, 0},  // later paths are ignored
      {{"/tmp/x", "--diskwriter"}, "/tmp/x", 0, 0},
      {{"--diskwriter"}, nullptr, 0, 0},
      {{"--no-configurator", "--help", "--diskwriter", "out"}, "out", 1, 1},
  };
  for (Case c : cases) {
    std::vector<char*> argv = {const_cast<char*>("vv-plume")};
    for (auto& a : c.args) argv.push_back(a.data());
    AppCommandLine line = app_parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.diskwriter, 1);
    EXPECT_STREQ(line.diskwriter_path, c.path);
    EXPECT_EQ(line.help, c.help);
    EXPECT_EQ(line.no_configurator, c.no_configurator);
  }
}

TEST(AppRun, HandlerQuittingAtBeginEndsWithStatusZeroBeforeAnyOutput) {
  std::string out;
  EXPECT_EQ(app_child({"app"}, APP_STREAM_AUDIO | APP_STREAM_DISPLAY, quit_at_begin, 10000, &out), 0);
  EXPECT_EQ(out, "begin\n");
}

TEST(AppRun, DiskwriterWithoutPathIsSwitchedOffAfterBegin) {
  std::string out;
  EXPECT_EQ(app_child({"app", "--diskwriter"}, 0, report_config, 10000, &out), 0);
  EXPECT_EQ(out, "1:0 diskwriter=1 path=none\n1:1 diskwriter=0 path=none\n");
  EXPECT_EQ(app_child({"app", "/tmp/x", "--diskwriter"}, 0, report_config, 10000, &out), 0);
  EXPECT_EQ(out, "1:0 diskwriter=1 path=/tmp/x\n1:1 diskwriter=1 path=/tmp/x\n");
}

TEST(AppRun, HelpPrintsUsageAndExitsZero) {
  std::string out;
  EXPECT_EQ(app_child({"vv-plume", "--help"}, 12, quit_at_begin, 10000, &out), 0);
  EXPECT_NE(out.find("usage: vv-plume"), std::string::npos);
  EXPECT_EQ(out.find("begin"), std::string::npos);
}
