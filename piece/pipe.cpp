#include "piece/pipe.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

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

  prng_seed(&p->random, 201544u);

  // Every grain reads the window at 0, inc, 2 inc, ... up to exactly 2^30 (a
  // zero), then finishes: the same values each time, kept here by age.
  p->envelope_last = (int32_t)(((int64_t)PIPE_CYCLE + p->window.increment - 1) / p->window.increment);
  p->envelope = static_cast<float*>(calloc(p->envelope_last + 1, sizeof(float)));
  for (int32_t age = 0; age <= p->envelope_last; ++age) {
    int64_t phase = (int64_t)age * p->window.increment;
    p->envelope[age] = tableosc_read(&p->window, phase < PIPE_CYCLE ? (int32_t)phase : PIPE_CYCLE);
  }
  p->sine4 = static_cast<float*>(calloc(4 * PIPE_TABLE, sizeof(float)));
  for (int i = 0; i < PIPE_TABLE; ++i) {
    p->sine4[4 * i] = p->sine.t1[0][i];
    p->sine4[4 * i + 1] = p->sine.t2[0][i];
    p->sine4[4 * i + 2] = p->sine.t3[0][i];
  }
}

int32_t pipe_render_scalar(const float* sine4, const float* envelope, int32_t count, int32_t phase,
                           int32_t increment, float* out) {
  // A grain may start at a full cycle (its start phase is rounded from a
  // float), which is phase 0 of the next one.
  phase &= PIPE_CYCLE - 1;
  for (int32_t j = 0; j < count; ++j) {
    const float* row = sine4 + 4 * (phase >> 20);
    float f = (float)(phase & 0xFFFFF) * kFraction;
    out[j] += envelope[j] * (row[0] + f * (row[1] + 0.5f * f * row[2]));
    phase = (phase + increment) & (PIPE_CYCLE - 1);
  }
  return phase;
}

// Adds `count` samples of a grain, from window age `age` and sine phase
// `phase`, into out; returns the sine phase after them. Four samples at a
// time where SSE2 is at hand, in the same order of operations as the scalar
// read (tableosc_read), so that both give the same bits.
static int32_t render_run(const pipe_group* p, int32_t age, int32_t count, int32_t phase, int32_t increment,
                          float* out) {
  const float* envelope = p->envelope + age;
  const float* sine = p->sine4;
  int32_t j = 0;
#if defined(__SSE2__)
  const __m128i mask = _mm_set1_epi32(PIPE_CYCLE - 1);
  const __m128i fraction_mask = _mm_set1_epi32(0xFFFFF);
  const __m128 fraction = _mm_set1_ps(kFraction), half = _mm_set1_ps(0.5f);
  const uint32_t u0 = (uint32_t)phase, du = (uint32_t)increment;
  __m128i phases = _mm_and_si128(
      _mm_set_epi32((int32_t)(u0 + 3 * du), (int32_t)(u0 + 2 * du), (int32_t)(u0 + du), (int32_t)u0), mask);
  const __m128i step = _mm_set1_epi32((int32_t)((uint32_t)increment * 4u));
  for (; j + 4 <= count; j += 4) {
    alignas(16) int32_t index[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_srli_epi32(phases, 20));
    __m128 r0 = _mm_loadu_ps(sine + 4 * index[0]);
    __m128 r1 = _mm_loadu_ps(sine + 4 * index[1]);
    __m128 r2 = _mm_loadu_ps(sine + 4 * index[2]);
    __m128 r3 = _mm_loadu_ps(sine + 4 * index[3]);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);  // r0 = t1, r1 = t2, r2 = t3
    __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(phases, fraction_mask)), fraction);
    __m128 v = _mm_add_ps(r0, _mm_mul_ps(f, _mm_add_ps(r1, _mm_mul_ps(_mm_mul_ps(half, f), r2))));
    __m128 w = _mm_loadu_ps(envelope + j);
    _mm_storeu_ps(out + j, _mm_add_ps(_mm_loadu_ps(out + j), _mm_mul_ps(w, v)));
    phases = _mm_and_si128(_mm_add_epi32(phases, step), mask);
  }
  phase = (int32_t)(((uint32_t)phase + (uint32_t)increment * (uint32_t)j) & (uint32_t)(PIPE_CYCLE - 1));
#endif
  return pipe_render_scalar(sine, envelope + j, count - j, phase, increment, out + j);
}

// Renders voice k from sample n to the end of the block or of its window;
// returns the number of samples rendered.
static int32_t render_voice(pipe_group* p, int k, int32_t n, float* out) {
  tableosc* v = &p->voices[k];
  int32_t age = v->phase == PIPE_CYCLE ? p->envelope_last : v->phase / v->increment;
  int32_t count = p->envelope_last + 1 - age;
  if (count > PIPE_BLOCK - n) count = PIPE_BLOCK - n;
  p->grain_phase[k] = render_run(p, age, count, p->grain_phase[k], p->grain_increment[k], out + n);
  age += count;
  if (age > p->envelope_last)
    v->phase = PIPE_IDLE;
  else
    v->phase = (int64_t)age * v->increment < PIPE_CYCLE ? age * v->increment : PIPE_CYCLE;
  p->sine.phase = p->grain_phase[k];
  p->sine.increment = p->grain_increment[k];
  return count;
}

static int count_idle(const pipe_group* p) {
  int idle = 0;
  for (int k = 0; k < PIPE_VOICES; ++k) idle += p->voices[k].phase < 0;
  return idle;
}

static void start_grain(pipe_group* p, int k, int32_t increment) {
  p->voices[k].phase = 0;
  uint32_t u = prng_word(&p->random);
  p->grain_phase[k] = (int32_t)((float)u * 0.25f);
  p->grain_increment[k] = increment;
}

// Only two moments need the voices: the block's first sample, when grains
// carried over from the last block render their runs, and samples where a
// grain is due and a voice is idle. Each voice's rendered-ahead count is
// settled at the end of the block.
void pipe_process(pipe_group* p, float* out) {
  int32_t increment = pipe_note_increment(p->note);
  memset(out, 0, PIPE_BLOCK * sizeof(float));
  float target = p->level * p->level;
  int32_t rendered_at[PIPE_VOICES];
  for (int k = 0; k < PIPE_VOICES; ++k) rendered_at[k] = -1;
  const float gap_scale = (float)(int32_t)((float)p->length * p->spread) * kTwoPowMinus32;
  int idle = count_idle(p);
  for (int32_t n = 0; n < PIPE_BLOCK; ++n) {
    int due = 0;
    if (p->countdown < 1) {
      due = 1;
      p->countdown = (int32_t)(gap_scale * (float)prng_word(&p->random));
    }
    p->countdown -= 1;
    int32_t playing = 0;
    if (n == 0) {
      for (int k = 0; k < PIPE_VOICES; ++k) {
        playing += p->voices[k].phase >= 0 || due;
        if (p->voices[k].phase >= 0) {
          if (p->ahead[k] != 0) continue;
        } else if (due) {
          start_grain(p, k, increment);
          due = 0;
        } else {
          continue;
        }
        p->ahead[k] = render_voice(p, k, n, out);
        rendered_at[k] = n;
      }
      idle = count_idle(p);
    } else if (due && idle > 0) {
      int k = 0;
      while (p->voices[k].phase >= 0) ++k;
      start_grain(p, k, increment);
      p->ahead[k] = render_voice(p, k, n, out);
      rendered_at[k] = n;
      idle = count_idle(p);
    }
    p->playing = n == 0 ? playing : PIPE_VOICES - idle;
    if (p->playing > p->playing_max) p->playing_max = p->playing;
    // With every voice busy and gaps that cannot be positive, a grain is due
    // at every sample and none can start: up to the block's last sample,
    // only the draws for the countdowns remain, and only their count matters.
    if (idle == 0 && gap_scale <= 0.0f && p->countdown < 1 && n < PIPE_BLOCK - 2) {
      prng_discard(&p->random, PIPE_BLOCK - 2 - n);
      n = PIPE_BLOCK - 2;
      continue;
    }
    // Until the countdown runs out nothing is due and nothing changes: skip
    // to the sample before it, leaving the countdown as those steps would.
    // The block's last sample still runs, to leave `playing` as it was.
    int32_t quiet = p->countdown - 1;
    if (quiet > PIPE_BLOCK - 2 - n) quiet = PIPE_BLOCK - 2 - n;
    if (quiet > 0) {
      n += quiet;
      p->countdown -= quiet;
    }
  }
  // Each voice's count dropped by one at every sample after it was set.
  for (int k = 0; k < PIPE_VOICES; ++k) p->ahead[k] -= rendered_at[k] < 0 ? PIPE_BLOCK : PIPE_BLOCK - rendered_at[k];
  // The follower in locals; once a step leaves the gain unchanged, every
  // later step does the same, and the rest of the block is one product.
  float gain = p->gain, step = p->gain_step;
  const float aim = target + 1e-20f, coefficient = p->coefficient;
  int32_t n = 0;
  for (; n < PIPE_BLOCK; ++n) {
    step = aim - gain;
    float next = gain + step * coefficient;
    out[n] = out[n] * next;
    if (next == gain) {
      ++n;
      break;
    }
    gain = next;
  }
  for (; n < PIPE_BLOCK; ++n) out[n] = out[n] * gain;
  p->gain = gain;
  p->gain_step = step;
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
