#include <zeal/app/app.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <zeal/app/app_input.h>
#include <zeal/app/app_steps.h>
#include <zeal/app/bus.h>
#include <zeal/app/record.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/base/log.h>
#include <zeal/base/perf.h>
#include <zeal/base/vpath.h>

namespace {

// A frame number: digits only, below 2^31.
int parse_frame(const char* text, const char* end, int32_t* out) {
  if (text == end || end - text > 10) return 0;
  int64_t n = 0;
  for (const char* c = text; c < end; ++c) {
    if (*c < '0' || *c > '9') return 0;
    n = n * 10 + (*c - '0');
  }
  if (n > INT32_MAX) return 0;
  *out = static_cast<int32_t>(n);
  return 1;
}

// An EGL device number: digits only, below 2^31.
int parse_device(const char* text, int32_t* out) { return parse_frame(text, text + strlen(text), out); }

// "FROM:TO" or "FROM:" (to the end), FROM < TO.
int parse_range(const char* text, int32_t* from, int32_t* to) {
  const char* colon = strchr(text, ':');
  if (colon == nullptr || !parse_frame(text, colon, from)) return 0;
  *to = -1;
  if (colon[1] == 0) return 1;
  return parse_frame(colon + 1, colon + strlen(colon), to) && *to > *from;
}

}  // namespace

AppCommandLine app_parse_command_line(int argc, char** argv) {
  AppCommandLine line{};
  line.range_to = -1;
  line.gl_device = -1;
  int ranged = 0;
  auto fail = [&line](const char* format, auto... args) {
    if (line.error[0] == 0) snprintf(line.error, sizeof line.error, format, args...);
  };
  auto is_diskwriter = [&](int i) { return i >= 1 && i < argc && strcmp(argv[i], "--diskwriter") == 0; };
  // The value after option argv[*i]: none when it is missing, empty, or an
  // option itself (its value forgotten), each an error.
  auto value_of = [&](int* i, const char* wanted) -> char* {
    const char* option = argv[*i];
    if (*i + 1 >= argc) {
      fail("%s needs %s", option, wanted);
      return nullptr;
    }
    char* value = argv[++*i];
    if (value[0] == 0) fail("%s needs %s, not an empty argument", option, wanted);
    else if (strncmp(value, "--", 2) == 0) fail("%s needs %s, not the option %s", option, wanted, value);
    else return value;
    return nullptr;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--diskwriter") == 0) {
      line.diskwriter = 1;
    } else if (strcmp(arg, "--film") == 0) {
      if (char* value = value_of(&i, "a file name")) line.film_path = value;
    } else if (strcmp(arg, "--draft") == 0) {
      line.draft = 1;
    } else if (strcmp(arg, "--range") == 0) {
      ranged = 1;
      const char* value = value_of(&i, "FROM:TO (output frames)");
      if (value != nullptr && !parse_range(value, &line.range_from, &line.range_to))
        fail("--range takes FROM:TO or FROM: (frame numbers, FROM < TO), not \"%s\"", value);
    } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      line.help = 1;
    } else if (strcmp(arg, "--no-configurator") == 0) {
      line.no_configurator = 1;
    } else if (strcmp(arg, "--gl") == 0) {
      if (const char* kind = value_of(&i, "egl or glx")) {
        if (strcmp(kind, "egl") == 0) line.gl = APP_GL_EGL;
        else if (strcmp(kind, "glx") == 0) line.gl = APP_GL_GLX;
        else fail("--gl takes egl or glx, not \"%s\"", kind);
      }
    } else if (strcmp(arg, "--gl-device") == 0) {
      const char* value = value_of(&i, "an EGL device number");
      if (value != nullptr && !parse_device(value, &line.gl_device))
        fail("--gl-device takes an EGL device number (0, 1, ...), not \"%s\"", value);
    } else if (strcmp(arg, "--record") == 0 || strcmp(arg, "--replay") == 0) {
      if (char* value = value_of(&i, "a file name")) {
        if (strcmp(arg, "--record") == 0) line.record_path = value;
        else line.replay_path = value;
      }
    } else if (arg[0] == '-' && arg[1] != 0) {
      fail("unknown option %s", arg);
    } else if (!is_diskwriter(i - 1) && !is_diskwriter(i + 1)) {
      // Only the disk writer takes a bare argument: any other would be a
      // directory nobody asked to fill.
      fail("unexpected argument \"%s\"", arg);
    } else if (line.diskwriter_path != nullptr) {
      fail("--diskwriter takes one directory, not also \"%s\"", arg);
    } else if (arg[0] == 0) {
      fail("%s", "--diskwriter needs a directory, not an empty argument");
    } else {
      line.diskwriter_path = argv[i];
    }
  }
  if (line.diskwriter && line.diskwriter_path == nullptr) fail("%s needs a directory", "--diskwriter");
  if (line.draft && !line.diskwriter && line.film_path == nullptr)
    fail("%s", "--draft goes with --film or --diskwriter");
  if (ranged && !line.diskwriter && line.film_path == nullptr)
    fail("%s", "--range goes with --film or --diskwriter");
  // Live play shows a window: only renders draw without one.
  if ((line.gl == APP_GL_EGL || line.gl_device >= 0) && !line.diskwriter && line.film_path == nullptr)
    fail("%s", "--gl egl and --gl-device go with --film or --diskwriter (live play needs a window)");
  int renders = line.diskwriter || line.film_path != nullptr;
  if (line.record_path != nullptr && renders)
    fail("%s", "--record goes with live play, not with --film or --diskwriter");
  if (line.replay_path != nullptr && !renders) fail("%s", "--replay goes with --film or --diskwriter");
  if (line.gl == APP_GL_GLX && line.gl_device >= 0) fail("%s", "--gl-device goes with --gl egl, not --gl glx");
  return line;
}

void app_print_usage(const char* program) {
  printf(
      "usage: %s [--film FILE] [--diskwriter DIR] [--range FROM:TO] [--draft]\n"
      "          [--gl egl|glx] [--gl-device N] [--record FILE | --replay FILE]\n"
      "          [--no-configurator] [--help]\n"
      "\n"
      "  --film FILE         render to FILE instead of playing live: one film with\n"
      "                      H.264 pictures and AAC sound (.mp4, .mov, .mkv)\n"
      "  --diskwriter DIR    render to DIR instead of playing live: the sound to\n"
      "                      a WAV file and every picture to a numbered TGA file\n"
      "                      (with --film as well: both are written)\n"
      "  --draft             a quick preview: half size, no multisampling, so it\n"
      "                      differs from the final picture; its files are named\n"
      "                      with \"-draft\"\n"
      "  --range FROM:TO     render output frames FROM to TO - 1 only (FROM: to\n"
      "                      the end), numbered as in a whole rendering, with\n"
      "                      their sound from sample FROM x 1470; what comes\n"
      "                      before is computed but not drawn\n"
      "  --gl egl|glx        how a render draws: egl with no window system (on a\n"
      "                      GPU when there is one, else in software), glx in a\n"
      "                      window on the X display; by default glx when DISPLAY\n"
      "                      is set, else egl\n"
      "  --gl-device N       render on the N-th EGL device (also ZEAL_GL_DEVICE=N)\n"
      "  --record FILE       play live and write every input event (MIDI, keys,\n"
      "                      mouse, control bus) with its clock time into FILE\n"
      "  --replay FILE       render (with --film or --diskwriter) the performance\n"
      "                      recorded in FILE: its events at their times, up to\n"
      "                      its end; no live input is opened\n"
      "  --no-configurator   skip the configuration window\n"
      "  --help              show this text\n"
      "\n"
      "Rendering prints its progress on standard error. Resources are searched\n"
      "beside the program and in the directories of ZEAL_RPATH (':'-separated).\n"
      "Escape quits, Alt+Return toggles full screen.\n",
      program);
}

namespace {

void free_app(App* app) {
  if (app->diskwriter_path_owned) free(app->config.diskwriter_path);
  if (app->recorder != nullptr) app_recorder_close(app->recorder);
  delete app->replay;
  delete app;
}

// After the outputs have ended: streams that were still running end now,
// so that their handlers free what they made, in the order they were set up.
void end_remaining_streams(App* app) {
  for (uint32_t bit : {APP_STREAM_MIDI_IN, APP_STREAM_MIDI_OUT, APP_STREAM_CONTROL_IN, APP_STREAM_AUDIO}) {
    if (!app_has_stream(app, bit)) continue;
    app->handler(bit, APP_END, app);
    app_quit(app, bit);
  }
  // The display's end phase ran when its window went.
  if (app_has_stream(app, APP_STREAM_DISPLAY)) app_quit(app, APP_STREAM_DISPLAY);
}

// A replay renders up to its recorded end: the frames whose clock time is
// before it (at 30 a second), and their sound. 0 after an ERROR line when
// the range asked for lies beyond it.
int fit_range_to_replay(App* app) {
  double end = app->replay->end_ms;
  auto frames = static_cast<int32_t>(std::ceil(end * 30.0 / 1000.0));
  if (frames < 1) frames = 1;
  app->config.duration_ms = end;
  if (app->config.range_to < 0 || app->config.range_to > frames) app->config.range_to = frames;
  if (app->config.range_from < app->config.range_to) return 1;
  log_error("--range starts at frame %d, but the recording ends with frame %d", app->config.range_from,
         frames - 1);
  return 0;
}

}  // namespace

int app_run(int argc, char** argv, uint32_t flags, AppHandler handler) {
  const char* program = argc > 0 ? argv[0] : "zeal";
  AppCommandLine line = app_parse_command_line(argc, argv);
  if (line.help) {
    app_print_usage(program);
    return 0;
  }
  if (line.error[0] != 0) {
    log_error("%s", line.error);
    app_print_usage(program);
    return 2;
  }

  App* app = new App{};
  app->config.name = "app";
  app->config.streams = static_cast<int32_t>(flags);
  app->config.aspect_ratio[0] = 16;
  app->config.aspect_ratio[1] = 9;
  app->handler = handler;
  app->bus_lock.store(1);
  app->config.diskwriter = line.diskwriter || line.film_path != nullptr;
  app->config.diskwriter_path = line.diskwriter_path;
  app->config.film_path = line.film_path;
  app->config.draft = line.draft;
  app->config.range_from = line.range_from;
  app->config.range_to = line.range_to;
  app->no_configurator = line.no_configurator;
  app->gl = line.gl;
  app->gl_device = line.gl_device;
  // A recording that cannot be read or written ends the program before
  // anything is drawn.
  if (line.replay_path != nullptr) {
    std::string error;
    app->replay = app_replay_load(line.replay_path, &error).release();
    if (app->replay == nullptr) {
      log_error("%s", error.c_str());
      free_app(app);
      return 1;
    }
    app->replay->post = app_bus_post;
    app->replay->midi_in = app_midifn;
  }
  if (line.record_path != nullptr) {
    std::string why;
    app->recorder = app_recorder_open(line.record_path, app_display_now, &why);
    if (app->recorder == nullptr) {
      log_error("cannot write the recording \"%s\": %s", line.record_path, why.c_str());
      free_app(app);
      return 1;
    }
  }

  array log_candidates = vpath("virtual://root/perf.log");
  perf_logfile(log_candidates.size >= 1 ? static_cast<const char*>(log_candidates.data) : nullptr);
  array_reset(&log_candidates);

  if ((flags & APP_STREAM_DISPLAY) && !app_display_make(app)) {
    free_app(app);
    return 1;
  }
  app_signals_start(app);
  if (flags & APP_STREAM_AUDIO) app_audio_make(app);

  if (handler(APP_STREAM_APP, APP_BEGIN, app) == APP_END) {
    app_audio_finish(app);
    app_display_finish(app);
    app_signals_stop(app);
    free_app(app);
    return 0;
  }
  if (app->config.diskwriter_path == nullptr && app->config.film_path == nullptr) app->config.diskwriter = 0;

  if (flags & (APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT)) app_midi_setup(app, flags);
  if (flags & APP_STREAM_AUDIO) app_audio_setup(app);
  if (flags & APP_STREAM_DISPLAY) app_display_setup(app);
  if (flags & APP_STREAM_CONTROL_IN) app_control_setup(app, flags);
  if (app->recorder != nullptr && app->display != nullptr && app_has_stream(app, APP_STREAM_DISPLAY))
    for (uint32_t id : {INPUT_JOYSTICK_ID, INPUT_MOUSE_ID, INPUT_KEYBOARD_ID})
      event_add_handler(app->display, id, app_record_input, app);
  if ((app->replay != nullptr && !fit_range_to_replay(app)) || !app_render_prepare(app)) {
    stop_raise(&app->stop, 1);
  } else {
    app_background_start(app);
    if (app_has_stream(app, APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT)) app_midi_commit(app);
    if (app_has_stream(app, APP_STREAM_CONTROL_IN) &&
        !app_has_stream(app, APP_STREAM_AUDIO | APP_STREAM_DISPLAY))
      app_control_thread_start(app);
    int started = !app_has_stream(app, APP_STREAM_AUDIO) || app_audio_commit(app);
    if (!started) stop_raise(&app->stop, 1);
    else if (app_has_stream(app, APP_STREAM_DISPLAY)) app_display_run(app);
    else if (app_has_stream(app, APP_STREAM_AUDIO)) app_audio_start_clock(app);
  }
  // With no display, or once the display has ended, the outputs end together.
  if ((app->config.streams & ~static_cast<int32_t>(APP_STREAM_MIDI_IN)) == 0) stop_raise(&app->stop, 0);
  if (!app_has_stream(app, APP_STREAM_DISPLAY)) stop_wait(&app->stop, -1.0);
  stop_raise(&app->stop, 0);

  app_audio_finish(app);
  app_midi_finish(app);
  // The real-time threads are gone: what they said comes before what follows.
  log_stop();
  app_control_finish(app);
  app_display_finish(app);
  app_render_finish(app);
  end_remaining_streams(app);
  // Complete on every ending: the end line says where the performance stopped.
  if (app->recorder != nullptr && !app_recorder_close(app->recorder)) stop_raise(&app->stop, 1);
  app->recorder = nullptr;

  handler(APP_STREAM_APP, APP_END, app);
  app->config.streams = static_cast<int32_t>(APP_STREAM_APP);
  app_quit(app, APP_STREAM_APP);
  app->config.streams = 0;
  app_background_wait(app);
  app_signals_stop(app);
  int status = stop_status(&app->stop);
  free_app(app);
  fflush(stdout);
  return status;
}
