#include "app/app.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_steps.h"
#include "app/perf.h"
#include "base/vpath.h"

namespace {

constexpr int kMaxExitHooks = 16;
struct ExitHook {
  app_exit_hook hook;
  void* arg;
};
ExitHook exit_hooks[kMaxExitHooks];
std::atomic<int> exit_hook_count{0};
std::atomic<int> exiting{0};
int no_configurator;

}  // namespace

void app_at_exit(app_exit_hook hook, void* arg) {
  int i = exit_hook_count.load();
  if (i >= kMaxExitHooks) return;
  exit_hooks[i] = {hook, arg};
  exit_hook_count.store(i + 1);
}

void app_exit(int status) {
  // Only the first thread to exit runs the hooks; a second one waits for it.
  if (exiting.fetch_add(1) != 0) {
    for (;;) pause();
  }
  for (int i = exit_hook_count.load() - 1; i >= 0; --i) exit_hooks[i].hook(exit_hooks[i].arg);
  fflush(nullptr);
  _exit(status);
}

int app_stream_index(uint32_t bit) {
  int i = 0;
  while (bit > 1) {
    bit >>= 1;
    ++i;
  }
  return i;
}

int32_t app_has_stream(const App* app, uint32_t bit) {
  return static_cast<int32_t>(static_cast<uint32_t>(app->config.streams) & bit);
}

int32_t app_quit(App* app, uint32_t bit) {
  int i = app_stream_index(bit);
  app->config.streams = static_cast<int32_t>(static_cast<uint32_t>(app->config.streams) & ~bit);
  if (i < 6) {
    free(app->state[i]);
    app->state[i] = nullptr;
  }
  if (app->config.streams == 0) app_exit(0);
  return app->config.streams;
}

double control_in_ms(const App* app) { return app->control_ms; }
double midi_out_ticks_per_s() { return 3640.0; }
double midi_out_latency_ms() { return 500.0; }

void app_two_call_step(App* app, uint32_t bit) {
  int i = app_stream_index(bit);
  int32_t first = app->started[i] ? static_cast<int32_t>(APP_STEP) : app->handler(bit, APP_BEGIN, app);
  int32_t second = app->handler(bit, static_cast<uint32_t>(first), app);
  if (second == APP_END && first != APP_END) app->handler(bit, APP_END, app);
  if (first == APP_BEGIN && second == APP_STEP) app->started[i] = 1;
  if (second == APP_END) app_quit(app, bit);
}

AppCommandLine app_parse_command_line(int argc, char** argv) {
  AppCommandLine line{};
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--diskwriter") == 0) {
      line.diskwriter = 1;
    } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      line.help = 1;
    } else if (strcmp(arg, "--no-configurator") == 0) {
      line.no_configurator = 1;
    } else if (line.diskwriter_path == nullptr) {
      line.diskwriter_path = argv[i];
    }
  }
  return line;
}

void app_print_usage(const char* program) {
  printf(
      "usage: %s [--diskwriter DIR] [--no-configurator] [--help]\n"
      "\n"
      "  --diskwriter DIR    render to DIR instead of playing live: the sound to\n"
      "                      a WAV file and every picture to a numbered TGA file\n"
      "  --no-configurator   skip the configuration window\n"
      "  --help              show this text\n"
      "\n"
      "Resources are searched beside the program and in the directories of\n"
      "ZEAL_RPATH (':'-separated). Escape quits, Alt+Return toggles full screen.\n",
      program);
}

int app_wants_configurator() { return !no_configurator; }
void app_set_wants_configurator(int wanted) { no_configurator = !wanted; }

void app_run(int argc, char** argv, uint32_t flags, AppHandler handler) {
  AppCommandLine line = app_parse_command_line(argc, argv);
  if (line.help) {
    app_print_usage(argc > 0 ? argv[0] : "zeal");
    app_exit(0);
  }
  no_configurator = line.no_configurator;
  app_signal_start();

  auto* app = static_cast<App*>(calloc(1, sizeof(App)));
  if (app == nullptr) {
    printf("ERROR: out of memory\n");
    app_exit(1);
  }
  app->config.name = "app";
  app->config.streams = static_cast<int32_t>(flags);
  app->config.aspect_ratio[0] = 16;
  app->config.aspect_ratio[1] = 9;
  app->handler = handler;
  app->bus_lock.store(1);
  app->config.diskwriter = line.diskwriter;
  app->config.diskwriter_path = line.diskwriter_path;

  // The log file name must outlive this call: it is kept in a static array.
  static array log_candidates;
  log_candidates = vpath("virtual://root/perf.log");
  perf_logfile(log_candidates.size >= 1 ? static_cast<const char*>(log_candidates.data) : nullptr);

  if (flags & APP_STREAM_DISPLAY) app_display_make(app);
  if (flags & APP_STREAM_AUDIO) app_audio_make(app);

  if (handler(APP_STREAM_APP, APP_BEGIN, app) == APP_END) {
    if (app->diskwriter_path_owned) free(app->config.diskwriter_path);
    free(app);
    app_exit(0);
  }
  if (app->config.diskwriter_path == nullptr) app->config.diskwriter = 0;

  if (flags & (APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT)) app_midi_setup(app, flags);
  if (flags & APP_STREAM_AUDIO) app_audio_setup(app);
  if (flags & APP_STREAM_DISPLAY) app_display_setup(app);
  if (flags & APP_STREAM_CONTROL_IN) app_control_setup(app, flags);
  app_background_start(app);
  if (app_has_stream(app, APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT)) app_midi_commit(app);
  if (app_has_stream(app, APP_STREAM_CONTROL_IN) &&
      !app_has_stream(app, APP_STREAM_AUDIO | APP_STREAM_DISPLAY))
    app_control_thread_start(app);
  if (app_has_stream(app, APP_STREAM_AUDIO)) app_audio_commit(app);
  if (app_has_stream(app, APP_STREAM_DISPLAY)) app_display_run(app);

  if (app_has_stream(app, APP_STREAM_AUDIO)) app_audio_finish(app);
  if (app_has_stream(app, APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT)) app_midi_finish(app);
  if (app_has_stream(app, APP_STREAM_CONTROL_IN)) app_control_finish(app);

  handler(APP_STREAM_APP, APP_END, app);
  app_quit(app, APP_STREAM_APP);
  app->config.streams = 0;
  app_background_wait(app);
  if (app->diskwriter_path_owned) free(app->config.diskwriter_path);
  free(app);
  app_exit(0);
}
