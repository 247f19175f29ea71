// chord: the first zeal piece to read. It plays a soft major chord that
// swells and fades every four seconds, and draws three rings that breathe
// with it: picture and sound follow one clock.
//
//   build/examples/chord                      plays and shows it live; Escape
//                                             quits, Alt+Return toggles full screen
//   build/examples/chord --diskwriter DIR     renders one swell to DIR/chord.wav
//                                             and DIR/chord-00000000.tga, ... and ends
//
// A piece is one message handler. The runtime calls it with (stream, phase,
// app): first (APP_STREAM_APP, APP_BEGIN) to configure, then once per output
// frame from that output's own thread: APP_STREAM_AUDIO once per block of 256
// samples (the sound card's thread, or the disk writer's when rendering),
// APP_STREAM_DISPLAY once per picture (the main thread, which owns OpenGL).
// The answer says what comes next: APP_STEP goes on, APP_END stops that
// stream; when no stream is left, the process exits with status 0.
//
// Both outputs tell their frames' times on one output clock, which starts at
// 0 once the outputs are running together. A piece that computes everything
// from that time, as this one does, stays in step without sharing any state
// between its threads. When rendering, the clock holds the two outputs in
// lock step instead of real time, so the files agree frame by frame.
#include <GL/gl.h>

#include <cmath>
#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/io/audio.h>

namespace {

constexpr double kSwellMs = 4000.0;  // one swell; rendering stops after one
constexpr double kFadeMs = 600.0;
constexpr int kNotes = 3;
constexpr double kHz[kNotes] = {261.63, 329.63, 392.00};  // C4 E4 G4, nearly 4:5:6
constexpr int kLobes[kNotes] = {4, 5, 6};                 // the same ratios, drawn
constexpr double kPeakGain = 0.15;

// Loudness at `ms` on the output clock, from 0 to 1: fade in, hold, fade out.
double envelope(double ms) {
  double t = fmod(ms, kSwellMs);
  double level = fmin(1.0, fmin(t / kFadeMs, (kSwellMs - t) / kFadeMs));
  return level > 0 ? level : 0.0;
}

// Rendering makes one swell; live, the chord breathes until Escape.
bool finished(const App* app, double ms) { return app->config.diskwriter && ms >= kSwellMs; }

// --- Sound ---

// Per-stream state: the handler allocates it during begin and stores it in
// app->state; the runtime frees it when the stream stops.
struct Chord {
  double phase[kNotes];  // in cycles
};

int32_t audio_step(App* app) {
  auto* chord = static_cast<Chord*>(app->state[app_stream_index(APP_STREAM_AUDIO)]);
  audio_frame* frame = app->audio_frame;
  double ms = audio_frame_in_ms(frame);  // the block's first sample on the clock
  if (finished(app, ms)) return APP_END;

  // Both buffers belong to the frame from define to commit.
  float* left = nullptr;
  float* right = nullptr;
  audio_frame_define_stereo(frame, &left, &right);
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
    double gain = kPeakGain * envelope(ms + i * 1000.0 / AUDIO_SAMPLE_RATE);
    double sample = 0;
    for (int n = 0; n < kNotes; ++n) {
      sample += sin(2 * M_PI * chord->phase[n]);
      chord->phase[n] = fmod(chord->phase[n] + kHz[n] / AUDIO_SAMPLE_RATE, 1.0);
    }
    left[i] = static_cast<float>(gain * sample / kNotes);
    right[i] = left[i];
  }
  audio_frame_commit(frame);
  return APP_STEP;
}

int32_t audio(uint32_t phase, App* app) {
  int slot = app_stream_index(APP_STREAM_AUDIO);
  switch (phase) {
    case APP_BEGIN:
      // A begin that answers APP_STEP comes again before every block: keep
      // it cheap and make the state only once.
      if (app->state[slot] == nullptr) app->state[slot] = calloc(1, sizeof(Chord));
      return app->state[slot] != nullptr ? APP_STEP : APP_END;
    case APP_STEP:
      return audio_step(app);
    default:
      return APP_END;
  }
}

// --- Picture ---

// One ring: a band whose radius swells with the chord and ripples with
// `lobes` waves that turn at a speed set by its note.
void draw_ring(int note, double ms, double level) {
  constexpr int kSegments = 192;
  double turn = ms / 1000.0 * kHz[note] / 200.0;  // slow, but in the chord's ratios
  double radius = 0.25 + 0.17 * note + 0.12 * level;
  double ripple = 0.025 * level;
  double width = 0.01 + 0.025 * level;
  float glow = static_cast<float>(0.25 + 0.75 * level);
  const float hue[kNotes][3] = {{1.0f, 0.55f, 0.3f}, {0.4f, 1.0f, 0.6f}, {0.4f, 0.6f, 1.0f}};

  glBegin(GL_TRIANGLE_STRIP);
  for (int i = 0; i <= kSegments; ++i) {
    double a = 2 * M_PI * i / kSegments;
    double r = radius + ripple * sin(kLobes[note] * a + 2 * M_PI * turn);
    // Bright at the inner edge, fading outwards.
    glColor4f(hue[note][0] * glow, hue[note][1] * glow, hue[note][2] * glow, 1.0f);
    glVertex2d(r * cos(a), r * sin(a));
    glColor4f(0, 0, 0, 1.0f);
    glVertex2d((r + width) * cos(a), (r + width) * sin(a));
  }
  glEnd();
}

int32_t display_step(App* app) {
  display_frame* frame = app->display_frame;
  double ms = display_frame_in_ms(frame);  // when this picture will be seen
  if (finished(app, ms)) return APP_END;

  // Between define and commit the frame's GL context is current.
  display_frame_define(frame, nullptr);
  GLint view[4];
  glGetIntegerv(GL_VIEWPORT, view);
  double aspect = view[3] > 0 ? static_cast<double>(view[2]) / view[3] : 16.0 / 9.0;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-aspect, aspect, -1, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  double level = envelope(ms);
  glClearColor(0.02f, 0.02f, static_cast<float>(0.05 + 0.05 * level), 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);  // overlapping rings add up their light
  for (int n = 0; n < kNotes; ++n) draw_ring(n, ms, level);
  glDisable(GL_BLEND);
  display_frame_commit(frame);
  return APP_STEP;
}

// The display calls begin when its window (GL context) is made and end when
// it goes away; this piece keeps nothing in GL, so it has nothing to do there.
int32_t display(uint32_t phase, App* app) {
  switch (phase) {
    case APP_BEGIN:
      return APP_STEP;
    case APP_STEP:
      return display_step(app);
    default:
      return APP_END;
  }
}

int32_t chord(uint32_t stream, uint32_t phase, App* app) {
  switch (stream) {
    case APP_STREAM_APP:
      // Configure before the outputs start: the name labels the output
      // clock and is the stem of rendered files.
      if (phase == APP_BEGIN) app->config.name = "chord";
      return APP_STEP;
    case APP_STREAM_AUDIO:
      return audio(phase, app);
    case APP_STREAM_DISPLAY:
      return display(phase, app);
    default:
      return APP_END;
  }
}

}  // namespace

int main(int argc, char** argv) {
  return app_run(argc, argv, APP_STREAM_AUDIO | APP_STREAM_DISPLAY, chord);
}
