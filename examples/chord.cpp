// chord: the smallest zeal piece with sound. It plays a soft major chord for
// four seconds and stops by itself.
//
//   build/examples/chord                      plays through the sound card
//   build/examples/chord --diskwriter DIR     renders DIR/chord.wav instead
//
// A piece is one message handler. The runtime calls it with (stream, phase,
// app): first (APP_STREAM_APP, APP_BEGIN) to configure, then once per audio
// block with APP_STREAM_AUDIO from the audio thread (or from the disk
// writer's thread when rendering). The answer says what comes next:
// APP_STEP goes on, APP_END stops that stream; when no stream is left, the
// process exits.
#include <cmath>
#include <cstdlib>

#include "app/app.h"
#include "io/audio.h"

namespace {

constexpr double kLengthMs = 4000.0;
constexpr double kFadeMs = 600.0;
constexpr int kNotes = 3;
constexpr double kHz[kNotes] = {261.63, 329.63, 392.00};  // C4 E4 G4

// Per-stream state: the handler allocates it and stores it in app->state;
// the runtime frees it when the stream stops.
struct Chord {
  double phase[kNotes];  // in cycles
};

// Loudness at `ms` on the output clock: fade in, hold, fade out to silence.
double envelope(double ms) {
  double in = ms / kFadeMs;
  double out = (kLengthMs - ms) / kFadeMs;
  double level = fmin(1.0, fmin(in, out));
  return level > 0 ? 0.15 * level : 0.0;
}

int32_t audio_step(App* app) {
  auto* chord = static_cast<Chord*>(app->state[app_stream_index(APP_STREAM_AUDIO)]);
  audio_frame* frame = app->audio_frame;
  // The block's time on the output clock: 0 when the outputs start together.
  double ms = audio_frame_in_ms(frame);
  if (ms >= kLengthMs) return APP_END;

  // Every block is 256 samples; both buffers belong to the frame until commit.
  float* left = nullptr;
  float* right = nullptr;
  audio_frame_define_stereo(frame, &left, &right);
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
    double gain = envelope(ms + i * 1000.0 / AUDIO_SAMPLE_RATE);
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

int32_t chord(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    // Configure before the outputs start: the name labels the output clock
    // and is the stem of rendered files.
    if (phase == APP_BEGIN) app->config.name = "chord";
    return APP_STEP;
  }
  if (stream != APP_STREAM_AUDIO) return APP_END;
  int slot = app_stream_index(APP_STREAM_AUDIO);
  switch (phase) {
    case APP_BEGIN:
      // Begin may come on every block: keep it cheap and make it only once.
      if (app->state[slot] == nullptr) app->state[slot] = calloc(1, sizeof(Chord));
      return app->state[slot] != nullptr ? APP_STEP : APP_END;
    case APP_STEP:
      return audio_step(app);
    default:
      return APP_END;
  }
}

}  // namespace

int main(int argc, char** argv) { app_run(argc, argv, APP_STREAM_AUDIO, chord); }
