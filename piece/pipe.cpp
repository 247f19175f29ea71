#include "piece/pipe.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

// Fraction bits of a phase to [0, 1).
static constexpr float kFraction = 9.536752e-7f;
static constexpr float kTwoPowMinus32 = 2.3283064365386963e-10f;

static float* table_alloc() { return static_cast<float*>(calloc(PIPE_TABLE, sizeof(float))); }

// One channel with three fresh tables; differences derived as the switches say.
static void tableosc_make(tableosc* o, int32_t derive_t2, int32_t derive_t3) {
  o->channels = 1;
  o->t1 = static_cast<float**>(calloc(1, sizeof(float*)));
  o->t2 = static_cast<float**>(calloc(1, sizeof(float*)));
  o->t3 = static_cast<float**>(calloc(1, sizeof(float*)));
  o->t1[0] = table_alloc();
  o->t2[0] = table_alloc();
  o->t3[0] = table_alloc();
  o->derive_t2 = derive_t2;
  o->derive_t3 = derive_t3;
  o->interpolate = 1;
}

static void tableosc_derive(tableosc* o) {
  float* t1 = o->t1[0];
  float* t2 = o->t2[0];
  float* t3 = o->t3[0];
  if (o->derive_t2)
    for (int i = 0; i < PIPE_TABLE; ++i) t2[i] = t1[(i + 1) % PIPE_TABLE] - t1[i];
  if (o->derive_t3)
    for (int i = 0; i < PIPE_TABLE; ++i) t3[i] = 0.5f * (t2[(i + 1) % PIPE_TABLE] - t2[i]);
}

static void tableosc_free(tableosc* o) {
  for (int32_t c = 0; c < o->channels; ++c) {
    if (o->t1) free(o->t1[c]);
    if (o->t2) free(o->t2[c]);
    if (o->t3) free(o->t3[c]);
  }
  free(o->t1);
  free(o->t2);
  free(o->t3);
  o->t1 = o->t2 = o->t3 = nullptr;
  o->channels = 0;
}

float tableosc_read(const tableosc* o, int32_t phase) {
  int32_t i = (phase >> 20) & (PIPE_TABLE - 1);
  if (!o->interpolate) return o->t1[0][i];
  float f = (float)(phase & 0xFFFFF) * kFraction;
  return o->t1[0][i] + f * (o->t2[0][i] + 0.5f * f * o->t3[0][i]);
}

int32_t pipe_note_increment(int32_t note) {
  float octaves = (float)note * 0.0833333358f;
  float hz = (float)(std::pow(2.0, (double)octaves) * 8.175799);
  float step = (float)((double)hz * (1.0 / 44100.0));
  return (int32_t)(step * 1073741824.0f);
}

static void window_fill(float* w) {
  for (int i = 0; i < PIPE_TABLE; ++i) {
    double x = (i - 512) * 0.005859375;
    w[i] = (float)std::exp(-0.5 * x * x);
  }
  float lo = w[0] < 1.0f ? w[0] : 1.0f;
  float hi = w[0] > 0.0f ? w[0] : 0.0f;
  for (int i = 0; i < PIPE_TABLE; ++i) {
    if (w[i] < lo) lo = w[i];
    if (w[i] > hi) hi = w[i];
  }
  for (int i = 0; i < PIPE_TABLE; ++i) w[i] = (w[i] - lo) / (hi - lo);
}

void pipe_make(pipe_group* p, float length) {
  p->coefficient = (float)(1.0 - std::exp(-0.056990344));
  p->gain = 0.0f;

  tableosc_make(&p->window, 1, 0);
  window_fill(p->window.t1[0]);
  tableosc_derive(&p->window);
  p->length = (int32_t)((double)length * 441.0);
  p->spread = 0.7f;
  p->window.increment = (int32_t)((1.0f / (float)p->length) * 1073741824.0f);
  p->window.phase = PIPE_IDLE;

  for (int k = 0; k < PIPE_VOICES; ++k) {
    tableosc* v = &p->voices[k];
    tableosc_make(v, 0, 0);
    memcpy(v->t1[0], p->window.t1[0], PIPE_TABLE * sizeof(float));
    memcpy(v->t2[0], p->window.t2[0], PIPE_TABLE * sizeof(float));
    v->phase = p->window.phase;
    v->increment = p->window.increment;
    p->ahead[k] = 0;
  }

  tableosc_make(&p->sine, 1, 1);
  float* t1 = p->sine.t1[0];
  t1[0] = 0.0f;
  for (int i = 1; i < PIPE_TABLE; ++i) t1[i] = (float)std::sin((double)(float)(i * 0.006135923151542565));
  tableosc_derive(&p->sine);
  p->sine.phase = 0;

  twister_seed(&p->random, 201544u);
}

// Renders voice k from sample n to the end of the block or of its window;
// returns the number of samples rendered.
static int32_t render_voice(pipe_group* p, int k, int32_t n, float* out) {
  tableosc* v = &p->voices[k];
  tableosc* s = &p->sine;
  s->phase = p->grain_phase[k];
  s->increment = p->grain_increment[k];
  int32_t i = n;
  while (i < PIPE_BLOCK && v->phase >= 0) {
    float w = tableosc_read(v, v->phase);
    int32_t next = v->phase + v->increment;
    if (next > PIPE_CYCLE || next < v->phase) next = PIPE_CYCLE;
    v->phase = next == v->phase ? PIPE_IDLE : next;
    float x = tableosc_read(s, s->phase);
    s->phase = (s->phase + s->increment) & (PIPE_CYCLE - 1);
    out[i] += w * x;
    ++i;
  }
  p->grain_phase[k] = s->phase;
  p->grain_increment[k] = s->increment;
  return i - n;
}

void pipe_process(pipe_group* p, float* out) {
  int32_t increment = pipe_note_increment(p->note);
  memset(out, 0, PIPE_BLOCK * sizeof(float));
  float target = p->level * p->level;
  for (int32_t n = 0; n < PIPE_BLOCK; ++n) {
    int due = 0;
    if (p->countdown < 1) {
      due = 1;
      uint32_t u = twister_draw(&p->random);
      p->countdown = (int32_t)((float)(int32_t)((float)p->length * p->spread) * kTwoPowMinus32 * (float)u);
    }
    p->countdown -= 1;
    int32_t playing = 0;
    for (int k = 0; k < PIPE_VOICES; ++k) {
      tableosc* v = &p->voices[k];
      if (v->phase >= 0) {
        if (p->ahead[k] == 0) p->ahead[k] = render_voice(p, k, n, out);
        ++playing;
      } else if (due) {
        v->phase = 0;
        uint32_t u = twister_draw(&p->random);
        p->grain_phase[k] = (int32_t)((float)u * 0.25f);
        p->grain_increment[k] = increment;
        p->ahead[k] = render_voice(p, k, n, out);
        due = 0;
        ++playing;
      }
      p->ahead[k] -= 1;
    }
    p->playing = playing;
    if (playing > p->playing_max) p->playing_max = playing;
  }
  for (int32_t n = 0; n < PIPE_BLOCK; ++n) {
    p->gain_step = (target + 1e-20f) - p->gain;
    p->gain = p->gain + p->gain_step * p->coefficient;
    out[n] = out[n] * p->gain;
  }
}

void pipe_free(pipe_group* p) {
  for (int k = 0; k < PIPE_VOICES; ++k) tableosc_free(&p->voices[k]);
  tableosc_free(&p->sine);
  tableosc_free(&p->window);
  free(p->envelope);
  free(p->sine4);
  p->envelope = nullptr;
  p->sine4 = nullptr;
}
