#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"

namespace {

// Handler whose answers come from a script; it records every call.
struct Script {
  explicit Script(std::vector<int32_t> begin, int32_t step = APP_STEP, int32_t end = APP_STEP)
      : begin_answers(std::move(begin)), step_answer(step), end_answer(end) {}
  std::vector<int32_t> begin_answers;  // consumed in order, last one repeats
  int32_t step_answer;
  int32_t end_answer;
  std::string calls;
  size_t next = 0;
};
Script* script;

int32_t scripted(uint32_t stream, uint32_t phase, App*) {
  script->calls += std::to_string(stream) + ":" + std::to_string(phase) + " ";
  if (phase == APP_BEGIN) {
    int32_t a = script->begin_answers[std::min(script->next, script->begin_answers.size() - 1)];
    ++script->next;
    return a;
  }
  if (phase == APP_STEP) return script->step_answer;
  return script->end_answer;
}

void make_app(App* app) {
  app->config.streams = APP_STREAM_AUDIO | APP_STREAM_DISPLAY;
  app->handler = scripted;
}

}  // namespace

TEST(TwoCallStep, BeginAnsweringTwoIsCalledOnEveryTick) {
  Script s({APP_STEP});
  script = &s;
  App app{};
  make_app(&app);
  app_two_call_step(&app, APP_STREAM_AUDIO);
  app_two_call_step(&app, APP_STREAM_AUDIO);
  EXPECT_EQ(s.calls, "4:0 4:2 4:0 4:2 ");
  EXPECT_EQ(app.started[2], 0);
}

TEST(TwoCallStep, BeginAnsweringZeroIsCalledTwiceThenOnlyStep) {
  Script s({APP_BEGIN, APP_STEP});
  script = &s;
  App app{};
  make_app(&app);
  app_two_call_step(&app, APP_STREAM_AUDIO);
  EXPECT_EQ(s.calls, "4:0 4:0 ");
  EXPECT_EQ(app.started[2], 1);
  app_two_call_step(&app, APP_STREAM_AUDIO);
  EXPECT_EQ(s.calls, "4:0 4:0 4:2 ");
}

TEST(TwoCallStep, BeginAnsweringOneEndsTheStreamInTheSameTick) {
  // The first answer becomes the phase of the second call: end, which the
  // handler confirms with 1.
  Script s({APP_END}, APP_STEP, APP_END);
  script = &s;
  App app{};
  make_app(&app);
  app.state[2] = malloc(16);  // freed by the quit
  app_two_call_step(&app, APP_STREAM_AUDIO);
  EXPECT_EQ(s.calls, "4:0 4:1 ");  // no extra end: the first answer was already 1
  EXPECT_EQ(app.config.streams, static_cast<int32_t>(APP_STREAM_DISPLAY));
  EXPECT_EQ(app.state[2], nullptr);
}

TEST(TwoCallStep, StepAnsweringOneGetsOneMoreEnd) {
  Script s({APP_STEP}, APP_END);
  script = &s;
  App app{};
  make_app(&app);
  app_two_call_step(&app, APP_STREAM_AUDIO);
  EXPECT_EQ(s.calls, "4:0 4:2 4:1 ");
  EXPECT_EQ(app_has_stream(&app, APP_STREAM_AUDIO), 0);
  EXPECT_NE(app_has_stream(&app, APP_STREAM_DISPLAY), 0);
}

TEST(AppQuit, ReturnsTheStreamsLeftAndFreesTheSlot) {
  App app{};
  app.config.streams = 2 | 4 | 8;
  app.state[3] = malloc(8);
  EXPECT_EQ(app_quit(&app, 8), 6);
  EXPECT_EQ(app.state[3], nullptr);
  EXPECT_EQ(app_stream_index(1), 0);
  EXPECT_EQ(app_stream_index(32), 5);
}

TEST(CommandLine, DiskwriterAndTheFirstOtherArgumentInAnyOrder) {
  char prog[] = "vv-plume", dw[] = "--diskwriter", x[] = "/tmp/x", y[] = "/tmp/y";
  char* before[] = {prog, dw, x, y};
  AppCommandLine a = app_parse_command_line(4, before);
  EXPECT_EQ(a.diskwriter, 1);
  EXPECT_STREQ(a.diskwriter_path, "/tmp/x");  // later paths are ignored
  char* after[] = {prog, x, dw};
  AppCommandLine b = app_parse_command_line(3, after);
  EXPECT_EQ(b.diskwriter, 1);
  EXPECT_STREQ(b.diskwriter_path, "/tmp/x");
  char* alone[] = {prog, dw};
  AppCommandLine c = app_parse_command_line(2, alone);
  EXPECT_EQ(c.diskwriter, 1);
  EXPECT_EQ(c.diskwriter_path, nullptr);
}

TEST(CommandLine, HelpAndNoConfiguratorAreNeverThePath) {
  char prog[] = "vv-plume", nc[] = "--no-configurator", help[] = "--help", dw[] = "--diskwriter",
       dir[] = "out";
  char* args[] = {prog, nc, help, dw, dir};
  AppCommandLine a = app_parse_command_line(5, args);
  EXPECT_EQ(a.no_configurator, 1);
  EXPECT_EQ(a.help, 1);
  EXPECT_STREQ(a.diskwriter_path, "out");
}

namespace {

// Runs app_run in a child process; returns its exit status and what it printed.
int run_child(std::vector<std::string> args, AppHandler handler, uint32_t flags,
              std::string* output = nullptr) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    close(pipefd[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    app_run(static_cast<int>(args.size()), argv.data(), flags, handler);
  }
  close(pipefd[1]);
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipefd[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

TEST(AppRun, HandlerQuittingAtBeginEndsWithStatusZeroBeforeAnyOutput) {
  std::string out;
  EXPECT_EQ(run_child({"app"}, quit_at_begin, APP_STREAM_AUDIO | APP_STREAM_DISPLAY, &out), 0);
  EXPECT_EQ(out, "begin\n");
}

TEST(AppRun, DiskwriterWithoutPathIsSwitchedOffAfterBegin) {
  std::string out;
  EXPECT_EQ(run_child({"app", "--diskwriter"}, report_config, 0, &out), 0);
  EXPECT_EQ(out, "1:0 diskwriter=1 path=none\n1:1 diskwriter=0 path=none\n");
  EXPECT_EQ(run_child({"app", "/tmp/x", "--diskwriter"}, report_config, 0, &out), 0);
  EXPECT_EQ(out, "1:0 diskwriter=1 path=/tmp/x\n1:1 diskwriter=1 path=/tmp/x\n");
}

TEST(AppRun, HelpPrintsUsageAndExitsZero) {
  std::string out;
  EXPECT_EQ(run_child({"vv-plume", "--help"}, quit_at_begin, 12, &out), 0);
  EXPECT_NE(out.find("usage: vv-plume"), std::string::npos);
  EXPECT_EQ(out.find("begin"), std::string::npos);
}
