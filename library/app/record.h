// Recording a live performance and feeding it back to a render.
//
// A recording is a text file: the line "zeal-record 1", then one event a
// line in time order, "MS SOURCE FIELDS", MS being the output-clock time in
// milliseconds at which the piece saw the event (printed exactly, %.17g):
//
//   MS midi noteon|noteoff|cc CHANNEL FIRST [SECOND]
//   MS midi clock|start|stop|continue
//   MS key|mouse|joystick CODE VALUE CODE2 VALUE2   (the six-word input event)
//   MS bus RING W0 .. W7                            (any other bus event, hex words)
//   MS end                                          (the last line)
//
// Empty lines and lines starting with '#' are skipped.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct App;
struct midi_event;

enum app_record_source : int32_t {
  APP_RECORD_MIDI = 0,
  APP_RECORD_KEY = 1,
  APP_RECORD_MOUSE = 2,
  APP_RECORD_JOYSTICK = 3,
  APP_RECORD_BUS = 4,
};

struct app_record_event {
  double ms;
  int32_t source;  // app_record_source
  int32_t ring;    // bus events: the producer ring
  int32_t words[8];  // the bus record (MIDI, bus) or the input event (6 words)
};

// --- Recording -------------------------------------------------------------

// Writes a recording on a thread of its own; the real-time threads hand it
// events through a bounded lock-free queue (no allocation, no lock).
struct app_recorder;
// Opens (truncates) `path` and starts the writer; null, with the reason in
// `why`, when the file cannot be written. `clock` gives the display's time
// for the input events app_record_input records (the runtime hands it over,
// as this file calls nothing above it).
app_recorder* app_recorder_open(const char* path, double (*clock)(const App* app), std::string* why);
// Adds one event; dropped (and counted) when the writer has fallen 4096
// events behind.
void app_recorder_add(app_recorder* recorder, const app_record_event& event);
// The clock time the performance has reached (each control tick and display
// frame tells it): the end, when the program stops.
void app_recorder_reached(app_recorder* recorder, double ms);
// Writes what is left and the end line, closes the file and frees the
// recorder; 0 after a "ERROR:" line when the file could not be written.
int app_recorder_close(app_recorder* recorder);

// --- Replaying --------------------------------------------------------------

struct app_replay {
  std::vector<app_record_event> display;  // keys, mouse, joystick: at display frames
  std::vector<app_record_event> ticks;    // MIDI and bus events: at control ticks
  double end_ms = 0.0;
  size_t display_next = 0;  // touched only by the display's thread
  size_t ticks_next = 0;    // touched only by the thread running the control tick
  // Where the tick events go, set by the runtime that loads the replay (this
  // file calls nothing above it): bus events onto their producer ring, MIDI
  // events as packets to the MIDI-in callback. Null: passed over.
  int (*post)(App* app, int32_t ring, const void* event) = nullptr;
  void (*midi_in)(void* app, const uint8_t* packet) = nullptr;
};

// Reads a whole recording; null with "FILE:LINE: what is wrong" in `error`
// for a missing file, another version, a malformed line, events out of time
// order or a missing end.
std::unique_ptr<app_replay> app_replay_load(const char* path, std::string* error);

// The MIDI bytes of a decoded event (what the MIDI-in decoding turns back
// into the same record); their count, 0 for an empty record.
int32_t app_record_midi_bytes(const midi_event& event, uint8_t bytes[3]);

// --- The runtime's taps (app.cpp, bus.cpp, app_display.cpp) ------------------

// The display input slots' handler that records key, mouse and joystick events.
void app_record_input(void* app, const int32_t* event, int32_t words);
// A replay's MIDI and bus events due by control tick `t`, posted before the
// tick moves the bus.
void app_replay_tick(App* app, double t);
// A replay's input events due by the display frame at `t`, sent through the
// device's input slots before the frame's control tick.
void app_replay_frame(App* app, double t);
