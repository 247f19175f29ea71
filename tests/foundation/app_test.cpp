#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/frame.h>
#include "common/run_app.h"
#include "common/test_files.h"
#include <zeal/io/audio.h>

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
  printf("handler called for %u:%u\n", stream, phase);
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

// Every command line: the ones the runtime takes reach the handler's begin
// (which quits here) with the directory beside --diskwriter; the others end
// the program before any output with one ERROR line naming the argument,
// the usage and status 2. A bare argument anywhere else would be a
// directory filled without being asked for.
TEST(AppRun, CommandLinesTakenOrRefusedBeforeAnyOutput) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string printed;  // how the output begins
    const char* path;     // the directory taken
  } cases[] = {
      {{}, 0, "begin\n", nullptr},
      {{"--help"}, 0, "usage: app", nullptr},
      {{"--no-configurator", "--diskwriter", "out", "--draft"}, 0, "begin\n", "out"},
      {{"out", "--diskwriter"}, 0, "begin\n", "out"},
      {{"--film", "a.mp4", "--diskwriter", "out", "--range", "5:"}, 0, "begin\n", "out"},
      {{"--diskwriter"}, 2, "ERROR: --diskwriter needs a directory\n", nullptr},
      {{"somedir"}, 2, "ERROR: unexpected argument \"somedir\"\n", nullptr},
      {{"--film", "a.mp4", "extra", "--range", "0:10"}, 2, "ERROR: unexpected argument \"extra\"\n", nullptr},
      {{"--diskwriter", "d1", "d2"}, 2, "ERROR: unexpected argument \"d2\"\n", nullptr},
      {{"d1", "--diskwriter", "d2"}, 2, "ERROR: --diskwriter takes one directory, not also \"d2\"\n", nullptr},
      {{"--diskwriter", ""}, 2, "ERROR: --diskwriter needs a directory, not an empty argument\n", nullptr},
      {{"--film", "--draft"}, 2, "ERROR: --film needs a file name, not the option --draft\n", nullptr},
      {{"--film", ""}, 2, "ERROR: --film needs a file name, not an empty argument\n", nullptr},
      {{"--film"}, 2, "ERROR: --film needs a file name\n", nullptr},
      {{"--film", "a.mp4", "--range", "--draft"}, 2,
       "ERROR: --range needs FROM:TO (output frames), not the option --draft\n", nullptr},
      {{"--film", "a.mp4", "--range", "9:3"}, 2,
       "ERROR: --range takes FROM:TO or FROM: (frame numbers, FROM < TO), not \"9:3\"\n", nullptr},
      {{"--frobnicate"}, 2, "ERROR: unknown option --frobnicate\n", nullptr},
      {{"--record"}, 2, "ERROR: --record needs a file name\n", nullptr},
      {{"--record", "take.txt", "--film", "a.mp4"}, 2, "ERROR: --record goes with live play, not with --film or --diskwriter\n", nullptr},
      {{"--replay", "take.txt"}, 2, "ERROR: --replay goes with --film or --diskwriter\n", nullptr},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"app"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string out;
    EXPECT_EQ(run_app(args, APP_STREAM_AUDIO | APP_STREAM_DISPLAY, quit_at_begin, &out), c.status) << out;
    EXPECT_EQ(out.substr(0, c.printed.size()), c.printed);
    if (c.status == 2) {
      EXPECT_EQ(out.substr(c.printed.size(), 10), "usage: app");
    }
    EXPECT_EQ(out.find("handler called"), std::string::npos) << out;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    AppCommandLine line = app_parse_command_line(static_cast<int>(argv.size()), argv.data());
    if (c.status != 2) {
      EXPECT_STREQ(line.diskwriter_path, c.path) << out;
    }
  }
}

namespace {

// Renders sound and pictures in lock step; `until_ms` > 0 ends both streams
// there, else the display asks the process for SIGINT on its tenth frame.
struct Twice {
  double until_ms = 0;
  double duration_ms = 0;  // told the runtime at begin
  int frames = 0, ends = 0;
};
Twice* twice;

int32_t render_twice(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) app->config.name = "twice", app->config.duration_ms = twice->duration_ms;
    if (phase == APP_END) twice->ends += 1;
    return APP_STEP;
  }
  if (phase != APP_STEP) return APP_STEP;
  double t = 0;
  if (stream == APP_STREAM_AUDIO) {
    float *left, *right;
    audio_frame_define_stereo(app->audio_frame, &left, &right);
    for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) left[i] = right[i] = 0.25f;
    audio_frame_commit(app->audio_frame);
    t = audio_frame_in_ms(app->audio_frame);
  } else {
    display_frame_define(app->display_frame, nullptr);
    display_frame_commit(app->display_frame);
    t = display_frame_in_ms(app->display_frame);
    if (t > 0 && ++twice->frames == 10 && twice->until_ms <= 0) kill(getpid(), SIGINT);
  }
  return twice->until_ms > 0 && t >= twice->until_ms ? APP_END : APP_STEP;
}

}  // namespace

// The runtime is a library: it runs again in the same process, and each run
// ends its outputs in order, by itself or when stopped from outside.
TEST(AppRun, RunsTwiceInOneProcessEndingByItselfThenBySignal) {
  for (double until_ms : {300.0, 0.0}) {
    SCOPED_TRACE(until_ms);
    TempDir dir;
    Twice state{until_ms};
    twice = &state;
    std::string out;
    EXPECT_EQ(run_app({"twice", "--no-configurator", "--diskwriter", dir.path}, APP_STREAM_AUDIO | APP_STREAM_DISPLAY,
                      render_twice, &out),
              0)
        << out;
    EXPECT_EQ(state.ends, 1);
    EXPECT_GE(state.frames, 9);
    SF_INFO info{};
    SNDFILE* wav = sf_open(dir.File("twice.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr) << out;
    sf_close(wav);
    // The sound and the pictures written agree: within a frame when the
    // streams end, within two frames and a block when a stop cuts in (the
    // sound may run that far ahead in lock step).
    double sound_ms = info.frames * 1000.0 / 44100.0;
    double picture_ms = numbered_frames(dir.path, "twice").size() * 1000.0 / 30.0;
    EXPECT_NEAR(sound_ms, picture_ms, until_ms > 0 ? 34.0 : 2000.0 / 30.0 + AUDIO_FRAME_SAMPLES * 1000.0 / 44100.0);
    if (until_ms > 0) {
      EXPECT_NEAR(sound_ms, until_ms, 34.0);
    }
  }
}

// A range that starts after the last frame renders nothing: refused before
// anything is drawn where the handler tells the piece's length, else said
// at the end. A range of only the last frame is a rendering.
TEST(AppRun, ARangeThatRendersNothingIsNoSuccess) {
  const struct {
    double duration_ms, until_ms;
    std::string range;
    int status;
    std::string line;  // the first ERROR or WARNING line
    size_t pictures;
  } cases[] = {
      {1000, 1000, "30:", 2, "ERROR: --range starts at frame 30, after the last frame of the piece (29)", 0},
      {0, 300, "100:200", 1, "WARNING: nothing was rendered: the program ended before frame 100, where --range starts",
       0},
      {1000, 1000, "29:", 0, "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    TempDir dir;
    Twice state{c.until_ms, c.duration_ms};
    twice = &state;
    std::string out;
    EXPECT_EQ(run_app({"twice", "--diskwriter", dir.File("out"), "--range", c.range}, APP_STREAM_AUDIO | APP_STREAM_DISPLAY,
                      render_twice, &out),
              c.status)
        << out;
    size_t at = std::min(out.find("ERROR:"), out.find("WARNING:"));
    EXPECT_EQ(at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at), c.line);
    EXPECT_EQ(numbered_frames(dir.File("out"), "twice").size(), c.pictures);
    if (c.status == 2) {
      EXPECT_EQ(state.frames, 0) << "drawn";
    }
  }
}
