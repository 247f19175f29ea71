#include "piece/sound.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/app/app.h>
#include <zeal/io/audio.h>
#include "piece/origin.h"

// Per pipe: grain length (10 ms units), spread, note, level.
static const float kSetupLength[SOUND_PIPES] = {7.7f, 7.6f, 7.5f, 8.0f};
static const float kSetupSpread[SOUND_PIPES] = {4.996f, 4.9866f, 4.9768f, 6.0f};
static const int32_t kSetupNote[SOUND_PIPES] = {52, 57, 61, 40};
static const float kSetupLevel[SOUND_PIPES] = {0.525f, 0.525f, 0.525f, 0.535f};

static const int32_t kChords[5][SOUND_PIPES] = {
    {69, 73, 78, 64}, {71, 76, 78, 66}, {69, 73, 76, 61}, {71, 76, 79, 64}, {71, 74, 78, 64},
};

int sound_make(sound_state* st) {
  for (int p = 0; p < SOUND_PIPES; ++p) {
    pipe_make(&st->pipes[p], kSetupLength[p]);
    st->pipes[p].note = kSetupNote[p];
    st->pipes[p].level = kSetupLevel[p];
    st->pipes[p].spread = kSetupSpread[p];
  }
  return reverb_make(&st->rev);
}

void sound_free(sound_state* st) {
  for (int p = 0; p < SOUND_PIPES; ++p) pipe_free(&st->pipes[p]);
  reverb_free(&st->rev);
}

static int32_t section_of(double s) { return (int32_t)std::floor((float)(s * 0.00016666666666666666)); }

float sound_spread(double s) {
  double end = 6000.0 * (section_of(s) + 1);
  float thin = 0.0f;
  if (s < end - 500.0)
    thin = 4.97f;
  else if (s <= end)
    thin = (float)(4.97 * ((end - 500.0 - s) / 500.0 + 1.0));
  return (float)(((1.0 - thin) * 0.9 + 1.0) * 4.97);
}

float sound_level(double s) {
  double start = 6000.0 * section_of(s);
  double fade = 1.0;
  if (s < start)
    fade = 0.0;
  else if (s < start + 500.0)
    fade = (s - start) / 500.0;
  return (float)((double)(float)(fade * 0.6) * 0.42);
}

int sound_active_pipes(double s) {
  double share = s < 3000.0 ? s / 3000.0 : 1.0;
  if (s >= 120000.0)
    share = 0.0;
  else if (s >= 117000.0)
    share = share * ((117000.0 - s) / 3000.0 + 1.0);
  return (int)((float)share * 4.0f);
}

double sound_block_ms(int64_t index) { return (double)(index * PIPE_BLOCK) * 0.022675736961451247; }

int64_t sound_block_count() {
  int64_t n = 0;
  while (sound_block_ms(n) < SOUND_END_MS) ++n;
  return n + 1;
}

int sound_render_piece(sound_sink sink, void* arg) {
  auto* st = static_cast<sound_state*>(calloc(1, sizeof(sound_state)));
  if (!st) return 0;
  int ok = sound_make(st);
  float left[PIPE_BLOCK], right[PIPE_BLOCK];
  int64_t blocks = sound_block_count();
  for (int64_t block = 0; ok && block < blocks; ++block) {
    sound_render(st, sound_block_ms(block), left, right);
    ok = sink(arg, left, right);
  }
  sound_free(st);
  free(st);
  return ok;
}

float sound_softclip(float x) { return (2.0f / (-1.0f - std::exp(1.1f * x)) + 1.0f) * 1.8181818f; }

void sound_render(sound_state* st, double s, float* left, float* right) {
  memset(left, 0, PIPE_BLOCK * sizeof(float));
  memset(right, 0, PIPE_BLOCK * sizeof(float));
  if (!(s > 0.0)) return;

  int32_t chord = section_of(s) % 5;
  if (chord != st->chord) {
    st->chord = chord;
    for (int p = 0; p < SOUND_PIPES; ++p) st->pipes[p].note = kChords[chord][p] - 5;
  }
  float spread = sound_spread(s);
  float level = sound_level(s);
  for (int p = 0; p < SOUND_PIPES; ++p) {
    st->pipes[p].spread = spread;
    st->pipes[p].level = level;
  }
  int count = sound_active_pipes(s);
  for (int p = 0; p < count; ++p) {
    pipe_process(&st->pipes[p], st->scratch);
    for (int k = 0; k < PIPE_BLOCK; ++k) {
      left[k] += st->scratch[k];
      right[k] += st->scratch[k];
    }
  }
  reverb_process(&st->rev, left, right);
  for (int k = 0; k < PIPE_BLOCK; ++k) {
    left[k] = sound_softclip(left[k]);
    right[k] = sound_softclip(right[k]);
  }
}

// Made, and not yet freed by an end.
static int sound_ready(const sound_state* st) {
  for (const pipe_group& p : st->pipes)
    if (!p.envelope || !p.sine4) return 0;
  return st->rev.buffer.data != nullptr && st->rev.taps.data != nullptr;
}

int32_t sound_run(uint32_t phase, App* app) {
  void** slot = &app->state[app_stream_index(APP_STREAM_AUDIO)];
  auto* st = static_cast<sound_state*>(*slot);
  if (phase == APP_BEGIN) {
    if (st) return APP_STEP;
    st = static_cast<sound_state*>(calloc(1, sizeof(sound_state)));
    if (!st) return APP_STEP;
    *slot = st;
    if (!sound_make(st)) printf("ERROR: no memory for the sound\n");
    return APP_STEP;
  }
  if (phase == APP_END) {
    // The runtime frees the record itself when the stream quits.
    if (st) sound_free(st);
    return APP_STEP;
  }
  if (phase != APP_STEP || !app->audio_frame) return APP_STEP;
  audio_frame* frame = app->audio_frame;
  float *left, *right;
  audio_frame_define_stereo(frame, &left, &right);
  double origin = piece_origin_ms(app);
  double s = audio_frame_in_ms(frame) - origin;
  if (st && origin > 0.0 && sound_ready(st)) {
    sound_render(st, s, left, right);
  } else {
    memset(left, 0, PIPE_BLOCK * sizeof(float));
    memset(right, 0, PIPE_BLOCK * sizeof(float));
  }
  audio_frame_commit(frame);
  return s >= SOUND_END_MS ? APP_END : APP_STEP;
}
