// notes: the second zeal example, about input. It shows the notes it hears
// as bars of light, echoes them to other MIDI software and keeps it in time
// with MIDI clock ticks.
//
//   ZEAL_RPATH=resources build/examples/notes
//
// Play it live and record the performance, then render exactly that:
//
//   ZEAL_RPATH=resources build/examples/notes --record take.txt
//   ZEAL_RPATH=resources build/examples/notes --replay take.txt --film take.mp4
//
// - MIDI: the runtime makes the MIDI client "zeal" with the ports
//   "tidepool:in" (notes come in) and "tidepool:out" (echoes and the clock go
//   out). Connect a keyboard or a sequencer to them.
// - The computer keyboard plays too: a w s e d f t g y h u j k o l p ; are a
//   piano octave and a half from middle C. Escape quits, Alt+Return toggles
//   full screen.
// - The note colours come from "virtual://root/dat/pal1.png", loaded on the
//   background thread; until it arrives (or if it is not found on ZEAL_RPATH)
//   the notes are grey.
//
// Control input reaches the piece through the control bus: MIDI events and
// key presses from other threads land in rings, and once per control tick
// the runtime hands them to the handler as (APP_STREAM_CONTROL_IN, APP_STEP),
// where event_has_next / event_get_next read them. Without an audio output,
// the control tick runs at the start of every display frame, on the display's
// thread, so the control and display steps below share their notes without a
// lock. The MIDI-out step runs on a thread of its own, 3640 times a second.
#include <GL/gl.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/app/app.h>
#include <zeal/app/bus.h>
#include <zeal/app/loader.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/image_png.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/base/vpath.h>
#include <zeal/io/midi.h>

namespace {

constexpr const char* kPalettePath = "virtual://root/dat/pal1.png";
constexpr const char* kPianoKeys = "awsedftgyhujkolp;";  // from middle C up
constexpr int kMiddleC = 60;
constexpr int kLowest = 21;  // the piano's range is drawn
constexpr int kHighest = 108;
constexpr double kFadeMs = 800.0;      // a released note fades out
constexpr int kTicksPerSecond = 48;    // 24 a quarter note at 120 beats a minute
constexpr int kTicksPerBeat = 24;

// --- Shared between the control and display steps (both on the display's thread) ---

struct Note {
  int held;           // 1 while sounding
  int velocity;       // of the last note on
  double changed_ms;  // control time of the last on or off
};
Note notes[128];

// --- A resource loaded by a background task ---

image palette;  // RGBA rows; its first row gives the colours
app_loader palette_loader;
int palette_requested;

// Runs on the background thread. Loading in one call is fine for a small
// file; a long job would return 0 to be called again and keep its place in
// task->continuation. The ready flag publishes `palette` to the display.
int32_t load_palette(app_task*, app_loader* loader) {
  array path = vfreshfile(app_loader_identifier(loader), nullptr);
  if (path.size > 0) palette = image_load_png(static_cast<const char*>(path.data));
  // Colours are read from the first row: it must be there.
  bool usable = palette.pixels != nullptr && palette.width >= 1 && palette.height >= 1;
  if (usable)
    printf("loaded %s: %dx%d\n", static_cast<const char*>(path.data), palette.width,
           palette.height);
  else if (path.size == 0)
    printf("WARNING: %s not found; set ZEAL_RPATH to the resources directory.\n",
           app_loader_identifier(loader));
  fflush(stdout);  // shown at once, also when the output is piped
  array_reset(&path);
  loader->result = usable;
  app_loader_set_ready(loader);
  return 1;  // finished
}

// The colour of `note`: from the palette once it has arrived, grey before.
void note_colour(int note, float level) {
  float rgb[3] = {0.7f, 0.7f, 0.7f};
  if (app_loader_ready(&palette_loader) && app_loader_result(&palette_loader)) {
    int x = (note - kLowest) * (palette.width - 1) / (kHighest - kLowest);
    const unsigned char* p = static_cast<const unsigned char*>(palette.pixels) + 4 * x;
    for (int i = 0; i < 3; ++i) rgb[i] = p[i] / 255.0f;
  }
  glColor3f(rgb[0] * level, rgb[1] * level, rgb[2] * level);
}

// --- Control input ---

// Sends `events` to "tidepool:out" at once. An event list is a small packet
// buffer: fill it, hand it to the device, which sends each packet at its
// stamp, and free it.
void send_now(App* app, const midi_event* events, int count) {
  if (count == 0 || app->midi_out == nullptr) return;
  midi_event_list* list = midi_event_list_new();
  for (int i = 0; i < count; ++i) midi_event_list_add(list, &events[i]);
  midi_device_out(app->midi_out, list);
  midi_event_list_destroy(list);
}

// Notes a note on or off; returns 1 when it changed something.
int play(int note, int velocity, double ms, const char* from) {
  if (note < 0 || note > 127) return 0;
  int on = velocity > 0;
  if (notes[note].held == on) return 0;  // a held key repeats its press
  notes[note] = Note{on, on ? velocity : notes[note].velocity, ms};
  printf("note %s %d %d from %s\n", on ? "on" : "off", note, velocity, from);
  fflush(stdout);
  return 1;
}

// A key press or release as a note on MIDI channel 0, or -1 for other keys.
int key_note(int32_t key) {
  const char* at = key > 0 ? strchr(kPianoKeys, tolower(key)) : nullptr;
  return at != nullptr ? kMiddleC + static_cast<int>(at - kPianoKeys) : -1;
}

int32_t control_step(App* app) {
  double ms = control_in_ms(app);
  midi_event echo[16];
  int echoes = 0;
  // Every event is 32 bytes: MIDI events begin with their magic word, display
  // input events with the device's id.
  int32_t event[8];
  while (event_has_next(app, nullptr)) {
    event_get_next(app, event);
    if (echoes == 16) {
      send_now(app, echo, echoes);
      echoes = 0;
    }
    if (static_cast<uint32_t>(event[0]) == MIDI_EVENT_MAGIC) {
      midi_event m;
      memcpy(&m, event, sizeof m);
      // Only notes are drawn and echoed; clock messages and controllers pass.
      if (m.kind != MIDI_KIND_CHANNEL) continue;
      if (m.first_tag == MIDI_TAG_NOTE_ON && play(m.first, m.second, ms, "midi"))
        echo[echoes++] = m;
      if (m.first_tag == MIDI_TAG_NOTE_OFF && play(m.first, 0, ms, "midi")) echo[echoes++] = m;
    } else if (static_cast<uint32_t>(event[0]) == INPUT_KEYBOARD_ID) {
      // Words: id, 0, code (1 press, 2 its second event, 3 release), key.
      int note = key_note(event[3]);
      if (note < 0 || event[2] == 2) continue;
      int on = event[2] == 1;
      if (!play(note, on ? 100 : 0, ms, "keys")) continue;
      if (on)
        noteon(&echo[echoes++], 0, note, 100);
      else
        noteoff(&echo[echoes++], 0, note);
    }
  }
  send_now(app, echo, echoes);
  return APP_STEP;
}

// --- MIDI out: the clock ---

// The MIDI-out step comes 3640 times a second of output-clock time, a little
// ahead of it: what it sends should be stamped midi_out_latency_ms() later.
int32_t midi_out_step(App* app) {
  uint64_t step = app->midi_out_ticks;  // steps done before this one
  if ((step + 1) * kTicksPerSecond / 3640 == step * kTicksPerSecond / 3640) return APP_STEP;
  midi_event tick;
  midiclock_tick(&tick);
  midi_event_list* list = midi_event_list_new();
  midi_event_list_add_at(list, &tick, midi_out_latency_ms());
  midi_device_out(app->midi_out, list);
  midi_event_list_destroy(list);
  return APP_STEP;
}

// --- Picture ---

void draw_rect(double x0, double y0, double x1, double y1) {
  glBegin(GL_QUADS);
  glVertex2d(x0, y0);
  glVertex2d(x1, y0);
  glVertex2d(x1, y1);
  glVertex2d(x0, y1);
  glEnd();
}

int32_t display_step(App* app) {
  // A render waits for the palette: its frames must not depend on how fast
  // the background thread was, so that two renders give the same pictures.
  // (Live, the notes are grey until it arrives.)
  while (app->config.diskwriter && palette_requested && !app_loader_ready(&palette_loader)) inthread_sleep(1.0);
  display_frame* frame = app->display_frame;
  double ms = display_frame_in_ms(frame);
  display_frame_define(frame, nullptr);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 1, 0, 1, -1, 1);  // the window is the unit square
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0.03f, 0.03f, 0.05f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_DEPTH_TEST);

  // One column per piano key; a sounding note is a bar as tall as its
  // velocity, and fades out after its release.
  double column = 1.0 / (kHighest - kLowest + 1);
  for (int note = kLowest; note <= kHighest; ++note) {
    const Note& n = notes[note];
    float level = n.held ? 1.0f : static_cast<float>(1.0 - (ms - n.changed_ms) / kFadeMs);
    if (n.velocity == 0 || level <= 0) continue;
    double x = (note - kLowest) * column;
    note_colour(note, level);
    draw_rect(x + 0.1 * column, 0.1, x + 0.9 * column, 0.1 + 0.85 * n.velocity / 127.0);
  }

  // The palette itself along the bottom, once it has arrived.
  if (app_loader_ready(&palette_loader) && app_loader_result(&palette_loader))
    for (int note = kLowest; note <= kHighest; ++note) {
      note_colour(note, 1.0f);
      double x = (note - kLowest) * column;
      draw_rect(x, 0.0, x + column, 0.04);
    }

  // A light in the corner that flashes on every beat of the MIDI clock. The
  // beats are counted on the output clock, as the MIDI-out step counts them,
  // so that a render of a recorded performance flashes as the live run did.
  auto ticks = static_cast<uint64_t>(ms > 0.0 ? ms * kTicksPerSecond / 1000.0 : 0.0);
  if (ticks > 0) {
    float beat = static_cast<float>(1.0 - (ticks % kTicksPerBeat) / static_cast<double>(kTicksPerBeat));
    glColor3f(beat, beat, beat);
    draw_rect(0.96, 0.94, 0.99, 0.99);
  }

  display_frame_commit(frame);
  return APP_STEP;
}

int32_t notes_handler(uint32_t stream, uint32_t phase, App* app) {
  if (phase == APP_END) return APP_END;
  switch (stream) {
    case APP_STREAM_APP:
      if (phase == APP_BEGIN) app->config.name = "notes";
      return APP_STEP;
    case APP_STREAM_DISPLAY:
      if (phase == APP_STEP) return display_step(app);
      // The background thread runs by now: hand it the palette to load. A
      // new window (full screen and back) begins the display again.
      if (!palette_requested) {
        palette_requested = 1;
        app_loader_make2(&palette_loader, kPalettePath, load_palette, app);
      }
      return APP_STEP;
    case APP_STREAM_CONTROL_IN:
      if (phase != APP_STEP) return APP_STEP;
      return control_step(app);
    case APP_STREAM_MIDI_OUT:
      if (phase != APP_STEP) return APP_STEP;
      return midi_out_step(app);
    case APP_STREAM_MIDI_IN:
      // Each packet also comes here, raw, in app->midi_packet; this piece
      // reads the decoded events from the control bus instead.
      return APP_STEP;
    default:
      return APP_END;
  }
}

}  // namespace

int main(int argc, char** argv) {
  return app_run(argc, argv,
          APP_STREAM_CONTROL_IN | APP_STREAM_DISPLAY | APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT,
          notes_handler);
}
