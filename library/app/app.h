// The app record, the handler protocol and the main sequence.
//
// A piece hands `app_run` the outputs it wants (stream bits) and its message
// handler; the runtime calls the handler from each output's own thread with
// (stream bit, phase, app) and the handler answers whether that stream goes on.
#pragma once
#include <atomic>
#include <cstdint>

#include <zeal/base/array.h>
#include <zeal/base/stop.h>
#include <zeal/base/thread.h>

enum : uint32_t {
  APP_STREAM_APP = 1,
  APP_STREAM_CONTROL_IN = 2,
  APP_STREAM_AUDIO = 4,
  APP_STREAM_DISPLAY = 8,
  APP_STREAM_MIDI_IN = 16,
  APP_STREAM_MIDI_OUT = 32,
};

// Phases, and the handler's answers: the phase that should follow.
enum : uint32_t { APP_BEGIN = 0, APP_END = 1, APP_STEP = 2 };

struct App;
using AppHandler = int32_t (*)(uint32_t stream, uint32_t phase, App* app);

// The part of the record the handler and the configurator may edit.
struct AppConfig {
  const char* name;
  // Running streams. Threads clear their bits as their streams end, so the
  // set is only changed with atomic operations.
  std::atomic<int32_t> streams;
  int32_t fullscreen;
  int32_t diskwriter;
  char* diskwriter_path;  // into argv, or a heap copy (diskwriter_path_owned)
  int32_t aspect_ratio[2];
  // Rendering (diskwriter set) goes to this one film instead of a WAV file
  // and numbered pictures; null for those.
  const char* film_path;
  // A rendering at half size without multisampling, for a quick look: its
  // files carry "-draft" in their names.
  int32_t draft;
  // Output time a rendering takes, when the handler knows it: the progress
  // then shows the frames to go. 0 when unknown.
  double duration_ms;
  // Rendering only output frames [range_from, range_to) and their sound; -1
  // for range_to runs to the end. Everything before is computed but not drawn.
  int32_t range_from;
  int32_t range_to;
};

struct audio_device;
struct audio_frame;
struct display_device;
struct display_context;
struct display_frame;
struct midi_device;
struct midi_io;
struct avstream_channel;
struct audio_io;
struct display_io_handle;
struct app_signals;
struct film;
struct app_recorder;
struct app_replay;

struct AppScheduler {
  array tasks;
  array queues;
  std::atomic<int32_t> queues_busy;  // 1 while a thread changes the queue array
};

struct AppBus {
  array producers;
  array consumers;
  int32_t event_size;
};

struct App {
  AppConfig config;
  AppHandler handler;
  int32_t started[6];
  void* state[6];
  int32_t midi_in_ring;
  int32_t display_events_ring;
  int32_t control_ring;
  midi_device* midi_in;
  midi_device* midi_out;
  avstream_channel* midi_out_channel;
  std::atomic<double> midi_out_ms;  // also read by the clock thread
  uint64_t midi_out_ticks;
  thread_handle midi_out_thread;
  display_device* display;
  audio_device* audio;
  int32_t control_thread_running;
  double control_ms;
  avstream_channel* control_channel;
  thread_handle control_thread;
  AppScheduler scheduler;
  thread_handle background_thread;
  AppBus bus;
  std::atomic<int32_t> bus_lock;
  struct audio_frame* audio_frame;
  struct display_context* display_context;
  struct display_frame* display_frame;
  const uint8_t* midi_packet;
  // MIDI input the MIDI-in callback could not hand on: packets longer than
  // APP_MIDI_IN_BYTES, their bytes beyond it, and decoded events that found
  // the control bus full. Reported once, by the background thread.
  std::atomic<uint64_t> midi_in_cut_packets;
  std::atomic<uint64_t> midi_in_cut_bytes;
  std::atomic<uint64_t> midi_in_dropped_events;
  int32_t midi_in_reported;
  // Set when diskwriter_path is a heap copy that the runtime must free.
  int32_t diskwriter_path_owned;

  // The main sequence's own: any thread raises `stop`; the main thread waits
  // for it and ends the outputs in order.
  stop_request stop;
  audio_io* audio_output;
  display_io_handle* display_io;
  midi_io* midi_client;
  app_signals* signals;
  struct film* film;  // the film being rendered
  std::atomic<int32_t> range_outputs;  // outputs still short of the range's end
  int32_t range_unreached;  // a range is rendered and no output has kept anything of it yet
  int32_t no_configurator;  // "--no-configurator" was given
  int32_t gl;         // app_gl: how the display draws
  int32_t gl_device;  // the EGL device to draw on; -1 when not chosen
  // "--record FILE": the live input goes into this recording as well.
  app_recorder* recorder;
  // "--replay FILE": the recorded input, fed to a render in place of the
  // live sources, which are not opened.
  app_replay* replay;
};

// The main sequence: runs the handler's outputs until the last stream stops
// or a stop is raised (Escape, a closed window, SIGINT or SIGTERM, a failed
// write), ends them in order and returns the exit status: 0, 1 after an
// error, 2 for a command line it cannot use.
int app_run(int argc, char** argv, uint32_t flags, AppHandler handler);

// The running app's streams and clocks, asked by pieces and by the outputs'
// threads; they touch the app record only.

// Stops stream `bit` and frees its state slot. When no stream is left (MIDI
// input aside, which only answers packets from outside), asks the main
// thread to end the program (status 0). Returns the streams still running.
int32_t app_quit(App* app, uint32_t bit);
int32_t app_has_stream(const App* app, uint32_t bit);
// Whether the program is ending: a display's end phase then comes for good,
// not because its window is made again (full screen switched).
int32_t app_stopping(const App* app);
double control_in_ms(const App* app);
double midi_out_ticks_per_s();
double midi_out_latency_ms();

// Base-2 logarithm of a single stream bit: the index of its started/state slot.
int app_stream_index(uint32_t bit);
// The two-call step for stream `bit` (control-in, audio and MIDI-in streams).
void app_two_call_step(App* app, uint32_t bit);

// How the display draws: chosen (a window under X when there is a display,
// else EGL for renders), or forced with "--gl glx|egl".
enum app_gl : int32_t { APP_GL_CHOOSE = 0, APP_GL_GLX = 1, APP_GL_EGL = 2 };

// Command line rules: "--diskwriter" turns rendering to files on and the
// argument that is not an option next to it (before or after) is the
// rendering directory; "--film FILE" renders to one film instead; "--draft"
// renders a quick preview; "--range FROM:TO" renders output frames FROM to
// TO - 1 only (TO may be left out: to the end); "--gl glx|egl" forces how
// renders draw and "--gl-device N" picks the N-th EGL device; "--record FILE"
// records a live performance and "--replay FILE" renders one; "--help" and
// "--no-configurator" are recognised anywhere.
// An unknown option, one without its value (missing, empty or an option
// itself), any other bare argument and a second directory are errors.
struct AppCommandLine {
  int32_t diskwriter;
  char* diskwriter_path;
  char* film_path;
  int32_t draft;
  int32_t range_from;  // "--range FROM:TO"; 0 and -1 (to the end) without it
  int32_t range_to;
  int32_t help;
  int32_t no_configurator;
  int32_t gl;         // app_gl
  int32_t gl_device;  // -1 without "--gl-device"
  char* record_path;  // "--record FILE": live runs only
  char* replay_path;  // "--replay FILE": renders only
  char error[256];  // empty, or what is wrong with the command line
};
AppCommandLine app_parse_command_line(int argc, char** argv);
void app_print_usage(const char* program);

// Whether the configuration window should be shown (not after
// "--no-configurator").
int app_wants_configurator(const App* app);
