#include "piece/reverb.h"

#include <cmath>

static constexpr float kTwoPowMinus32 = 2.3283064365386963e-10f;
static constexpr double kPi = 3.14159265358979323846;

// Fixed taps: lengths in ms and gains (left: 0, 2, 4, 6; right: 1, 3, 5, 7).
static const float kFixedMs[REVERB_FIXED_TAPS] = {24, 2, 12, 39, 256, 270, 510, 489};
static const float kFixedGain[REVERB_FIXED_TAPS] = {1, 1, -1, -1, 0, 0, -0.0f, -0.0f};

reverb_tap* reverb_tap_at(reverb* r, int i) { return static_cast<reverb_tap*>(r->taps.data) + i; }

static void smoother_move(smoother* s, float target) {
  s->step = (target + 1e-20f) - s->value;
  s->value = s->value + s->step * s->coefficient;
}

float biquad_run(biquad* b, float x) {
  float y = b->b0 * x + b->b1 * b->x1 + b->b2 * b->x2 - b->a1 * b->y1 - b->a2 * b->y2;
  b->x2 = b->x1;
  b->x1 = x;
  b->y2 = b->y1;
  b->y1 = y;
  return y;
}

static void biquad_set(biquad* b, double b0, double b1, double b2, double a0, double a1, double a2) {
  b->b0 = (float)(b0 / a0);
  b->b1 = (float)(b1 / a0);
  b->b2 = (float)(b2 / a0);
  b->a1 = (float)(a1 / a0);
  b->a2 = (float)(a2 / a0);
}

// Audio-EQ cookbook shelves; `root_alpha` is the 2 sqrt(A) alpha term.
static void biquad_low_shelf(biquad* b, double hz, double A, double slope) {
  double w0 = 2.0 * kPi * hz / 44100.0, c = std::cos(w0);
  double root_alpha = 2.0 * std::sqrt(A) * slope * std::sin(w0);
  biquad_set(b, A * ((A + 1) - (A - 1) * c + root_alpha), 2 * A * ((A - 1) - (A + 1) * c),
             A * ((A + 1) - (A - 1) * c - root_alpha), (A + 1) + (A - 1) * c + root_alpha,
             -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - root_alpha);
}

static void biquad_high_shelf(biquad* b, double hz, double A, double slope) {
  double w0 = 2.0 * kPi * hz / 44100.0, c = std::cos(w0);
  double root_alpha = 2.0 * std::sqrt(A) * slope * std::sin(w0);
  biquad_set(b, A * ((A + 1) + (A - 1) * c + root_alpha), -2 * A * ((A - 1) + (A + 1) * c),
             A * ((A + 1) + (A - 1) * c - root_alpha), (A + 1) - (A - 1) * c + root_alpha,
             2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - root_alpha);
}

static void biquad_high_pass(biquad* b, double hz, double q) {
  double w0 = 2.0 * kPi * hz / 44100.0, c = std::cos(w0);
  double alpha = q * std::sin(w0);
  biquad_set(b, (1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

int reverb_make(reverb* r) {
  r->rate = 44100.0f;
  int32_t length = (int32_t)(3.0f * r->rate);
  if (!array_allocate(&r->buffer, sizeof(float), length - 1)) return 0;
  if (!array_allocate(&r->taps, sizeof(reverb_tap), REVERB_TAPS - 1)) return 0;
  r->write = 0;
  for (int i = 0; i < REVERB_TAPS; ++i) {
    reverb_tap* t = reverb_tap_at(r, i);
    t->buffer = static_cast<float*>(r->buffer.data);
    t->length = length;
    t->head[0] = t->head[1] = (float)r->write;
    t->active = -1;
    t->fade = 0;
    for (int c = 0; c < REVERB_FADE; ++c) t->w[c] = c < 8 ? 0.0f : (float)(c - 8) / 56.0f;
  }
  r->low_shelf.b0 = r->high_shelf.b0 = r->high_pass.b0 = 1.0f;
  twister_seed(&r->random, 3735928559u);
  r->pink_sum = 0.5f;
  r->pink_counter = 1;
  r->target_feedback = 0.56f;
  r->target_input = 1.0f;
  r->target_dry = 1.0f;
  r->target_wet = 0.6f;
  r->low_shelf_gain = r->high_shelf_gain = (float)std::pow(10.0, -0.3);
  for (int j = 0; j < REVERB_MOD_TAPS; ++j) {
    float period = 7.0f * std::pow(j / 16.0f, 4.0f) + 1.5f;
    r->lfo_phase[j] = 0.0f;
    r->lfo_step[j] = 32.0f / (period * r->rate);
    r->base[j] = (float)(0.456 * 44100.0 * std::pow((j + 1) / 17.0, std::pow(2.0, -0.35)));
  }
  r->depth = 0.008f;
  float coefficient = (float)(1.0 - std::exp(-0.056990344));
  r->input.coefficient = r->wet.coefficient = r->dry.coefficient = r->feedback.coefficient = coefficient;
  r->modulation_counter = -128;
  return 1;
}

void reverb_free(reverb* r) {
  array_reset(&r->buffer);
  array_reset(&r->taps);
}

// Reads head h with first-order allpass interpolation and moves it on by one.
static float head_read(reverb_tap* t, int h) {
  float p = t->head[h];
  int32_t i = (int32_t)std::floor(p);
  float f = p - (float)i;
  reverb_allpass* ap = &t->allpass[h];
  float x, y;
  if (f >= 0.3f) {
    float q = (1.0f - f) / (1.0f + f);
    x = t->buffer[i];
    y = q * x + ap->x1 - q * ap->y1;
  } else {
    // Too close to the sample for a stable allpass: read one sample earlier.
    float q = -f / (2.0f + f);
    x = t->buffer[i > 0 ? i - 1 : t->length - 1];
    y = ap->x1 - q * ap->y1 + q * x;
  }
  ap->x1 = x;
  ap->y1 = y;
  float next = (float)i + f + 1.0f;
  if (next >= (float)t->length) next -= (float)t->length;
  t->head[h] = next;
  return y;
}

static int positions_differ(float a, float b) {
  float d = std::fabs(a - b);
  float m = std::fmax(std::fabs(a), std::fabs(b));
  return d > 1e-6f && d > 1e-6f * m;
}

float reverb_tap_read(reverb_tap* t, int32_t write) {
  int a = t->active < 0 ? 0 : t->active;
  int b = 1 - a;
  float y = head_read(t, b);
  float value = y;
  if (t->fade >= REVERB_FADE) {
    float limit = (float)(t->length - 1);
    float target = t->target < 0.0f ? 0.0f : (t->target > limit ? limit : t->target);
    float position = (float)(write + t->length) - target;
    if (position >= (float)t->length) position -= (float)t->length;
    if (t->fade == REVERB_FADE) {
      t->fade = REVERB_FADE + 1;
    } else if (positions_differ(position, t->head[b])) {
      t->fade = 0;
      t->head[a] = position;
      t->active = b;
    }
  } else {
    float ya = t->active < 0 ? 0.0f : head_read(t, a);
    float w = t->w[t->fade];
    t->fade += 1;
    value = (y - ya) * w + ya;
  }
  return value * t->gain;
}

static void pink_update(reverb* r) {
  int i = 0;
  while (i < 4 && !((r->pink_counter >> i) & 1)) ++i;
  for (;;) {
    float fresh = (float)twister_draw(&r->random) * kTwoPowMinus32 - 0.5f;
    float old = r->pink[i];
    float sum = r->pink_sum + (fresh - old);
    if (sum >= -4.0f && sum <= 4.0f) {
      r->pink[i] = fresh;
      r->pink_sum = sum;
      break;
    }
  }
  r->pink_counter += 1;
}

// Every 32 samples: new lengths for the modulated taps.
static void modulate(reverb* r) {
  for (int j = 0; j < REVERB_MOD_TAPS; ++j) {
    r->lfo_phase[j] += r->lfo_step[j];
    if (r->lfo_phase[j] >= 1.0f) r->lfo_phase[j] -= 1.0f;
    float phase = r->lfo_phase[j];
    float tri = phase <= 0.5f ? phase : 1.0f - phase;
    pink_update(r);
    float u = (float)twister_draw(&r->random) * kTwoPowMinus32;
    float length = ((u + r->pink_sum - 0.5f) * 0.125f + 0.5f) * (r->rate * 2.2675737e-5f) + r->base[j] +
                   r->depth * r->rate * tri;
    reverb_tap* t = reverb_tap_at(r, REVERB_FIXED_TAPS + j);
    t->target = length > 0.0f ? length : 0.0f;
    t->gain = 1.0f;
  }
}

static void set_block_coefficients(reverb* r) {
  biquad_low_shelf(&r->low_shelf, 100.0, r->low_shelf_gain, 1.2285012);
  biquad_high_shelf(&r->high_shelf, 8888.0, r->high_shelf_gain, 1.5772871);
  biquad_high_pass(&r->high_pass, 50.0, 1.2285012);
  for (int i = 0; i < REVERB_FIXED_TAPS; ++i) {
    reverb_tap* t = reverb_tap_at(r, i);
    t->target = kFixedMs[i] * 0.001f * r->rate;
    t->gain = kFixedGain[i];
  }
  r->depth = 0.008f;
}

void reverb_process(reverb* r, float* left, float* right) {
  set_block_coefficients(r);
  float* buffer = static_cast<float*>(r->buffer.data);
  int32_t length = array_count(&r->buffer, sizeof(float));
  for (int k = 0; k < 256; ++k) {
    float xl = left[k], xr = right[k];
    float mono = 0.5f * (xl + xr);
    smoother_move(&r->input, r->target_input);
    float g = r->input.value;
    if (r->modulation_counter % 32 == 0) modulate(r);
    r->modulation_counter = (r->modulation_counter + 1) % 32;

    float sum_mod = reverb_tap_read(reverb_tap_at(r, REVERB_FIXED_TAPS), r->write);
    if (g > 0.0f) {
      float more = 0.0f;
      for (int i = REVERB_FIXED_TAPS + 1; i < REVERB_TAPS; ++i) more += reverb_tap_read(reverb_tap_at(r, i), r->write);
      sum_mod = sum_mod + g * g * more;
    }
    float wet_l = 0.0f, wet_r = 0.0f;
    for (int i = 0; i < REVERB_FIXED_TAPS; i += 2) {
      wet_l += reverb_tap_read(reverb_tap_at(r, i), r->write);
      wet_r += reverb_tap_read(reverb_tap_at(r, i + 1), r->write);
    }
    smoother_move(&r->wet, r->target_wet);
    smoother_move(&r->dry, r->target_dry);
    float out_l = wet_l * r->wet.value + xl * r->dry.value;
    float out_r = wet_r * r->wet.value + xr * r->dry.value;

    smoother_move(&r->feedback, r->target_feedback);
    float h = biquad_run(&r->high_pass, sum_mod + 1e-20f);
    float f = r->feedback.value > 0.0f ? (1.0f - 0.7f * (g * g)) * r->feedback.value * h : 0.0f;
    buffer[r->write] = biquad_run(&r->high_shelf, biquad_run(&r->low_shelf, mono + f + 1e-20f) + 1e-20f);
    r->write += 1;
    if (r->write >= length) r->write = 0;
    left[k] = out_l;
    right[k] = out_r;
  }
}
