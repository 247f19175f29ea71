#include "piece/reverb.h"

#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static constexpr float kTwoPowMinus32 = 2.3283064365386963e-10f;
static constexpr double kPi = 3.14159265358979323846;
static constexpr int kBlock = 256;
// Distance (samples) that keeps a head's reads of a whole block on one side
// of the block's writes: the block, the earlier sample and the allpass.
static constexpr float kRunMargin = kBlock + 8.0f;

// Fixed taps: lengths in ms and gains (left: 0, 2, 4, 6; right: 1, 3, 5, 7).
static const float kFixedMs[REVERB_FIXED_TAPS] = {24, 2, 12, 39, 256, 270, 510, 489};
static const float kFixedGain[REVERB_FIXED_TAPS] = {1, 1, -1, -1, 0, 0, -0.0f, -0.0f};

reverb_tap* reverb_tap_at(reverb* r, int i) { return static_cast<reverb_tap*>(r->taps.data) + i; }

static void smoother_move(smoother* s, float target) {
  s->step = (target + 1e-20f) - s->value;
  s->value = s->value + s->step * s->coefficient;
}

// A block of smoother values; once a step leaves the value unchanged, every
// later step does the same.
static void smoother_fill(smoother* s, float target, float* out) {
  int k = 0;
  for (; k < kBlock; ++k) {
    float before = s->value;
    smoother_move(s, target);
    out[k] = s->value;
    if (s->value == before) {
      ++k;
      break;
    }
  }
  for (; k < kBlock; ++k) out[k] = s->value;
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
  prng_seed(&r->random, 3735928559u);
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

// Reads a head with first-order allpass interpolation and moves it on by one.
// Positions are never negative, so truncation is the floor; i + f is p again,
// so the next position is p + 1. The coefficient is kept while the fraction
// stays the same (heads move by whole samples).
static inline float head_read(const float* buffer, int32_t length, float* head, reverb_allpass* ap) {
  float p = *head;
  int32_t i = (int32_t)p;
  float f = p - (float)i;
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  if (bits != ap->fraction_bits || !ap->known) {
    ap->fraction_bits = bits;
    ap->known = 1;
    ap->q = f >= 0.3f ? (1.0f - f) / (1.0f + f) : -f / (2.0f + f);
  }
  float q = ap->q;
  float x, y;
  if (f >= 0.3f) {
    x = buffer[i];
    y = q * x + ap->x1 - q * ap->y1;
  } else {
    // Too close to the sample for a stable allpass: read one sample earlier.
    x = buffer[i > 0 ? i - 1 : length - 1];
    y = ap->x1 - q * ap->y1 + q * x;
  }
  ap->x1 = x;
  ap->y1 = y;
  float next = p + 1.0f;
  *head = next >= (float)length ? next - (float)length : next;
  return y;
}

static inline int positions_differ(float a, float b) {
  float d = std::fabs(a - b);
  float m = std::fabs(a) > std::fabs(b) ? std::fabs(a) : std::fabs(b);
  return d > 1e-6f && d > 1e-6f * m;
}

// Reads samples k0 .. k1 - 1 of a tap into dst (stored, or added when kAdd);
// `write` is the write index at k0, target[k * stride] the length at sample k.
// The run alternates between crossfades (both heads, roles fixed) and
// settled stretches (head b only, watching for a new length), with the
// heads in locals so that each head's allpass is the only chain.
template <bool kAdd>
static void tap_run(reverb_tap* t, int32_t k0, int32_t k1, const float* target, int stride, int32_t write,
                    float* dst) {
  const float* buffer = t->buffer;
  const int32_t length = t->length;
  const float limit = (float)(length - 1);
  const float gain = t->gain;
  int32_t active = t->active, fade = t->fade;
  int a = active < 0 ? 0 : active, b = 1 - a;
  float pa = t->head[a], pb = t->head[b];
  reverb_allpass aa = t->allpass[a], ab = t->allpass[b];
  auto emit = [&](int32_t k, float value) {
    value = value * gain;
    dst[k] = kAdd ? dst[k] + value : value;
    if (++write >= length) write = 0;
  };
  int32_t k = k0;
  while (k < k1) {
    if (fade < REVERB_FADE) {
      int32_t end = k + (REVERB_FADE - fade) < k1 ? k + (REVERB_FADE - fade) : k1;
      if (active < 0) {
        for (; k < end; ++k) {
          float y = head_read(buffer, length, &pb, &ab);
          float w = t->w[fade++];
          emit(k, (y - 0.0f) * w + 0.0f);
        }
      } else {
        for (; k < end; ++k) {
          float y = head_read(buffer, length, &pb, &ab);
          float ya = head_read(buffer, length, &pa, &aa);
          float w = t->w[fade++];
          emit(k, (y - ya) * w + ya);
        }
      }
      continue;
    }
    for (; k < k1; ++k) {
      float y = head_read(buffer, length, &pb, &ab);
      float want = target[k * stride];
      want = want < 0.0f ? 0.0f : (want > limit ? limit : want);
      float position = (float)(write + length) - want;
      if (position >= (float)length) position -= (float)length;
      emit(k, y);
      if (fade == REVERB_FADE) {
        fade = REVERB_FADE + 1;
      } else if (positions_differ(position, pb)) {
        // Head a jumps to the new length and fades in as the new head b.
        fade = 0;
        float p = position;
        pa = pb;
        pb = p;
        reverb_allpass s = aa;
        aa = ab;
        ab = s;
        active = b;
        a = b;
        b = 1 - a;
        ++k;
        break;
      }
    }
  }
  t->head[a] = pa;
  t->head[b] = pb;
  t->allpass[a] = aa;
  t->allpass[b] = ab;
  t->active = active;
  t->fade = fade;
  t->target = target[(k1 - 1) * stride];
}

#if defined(__SSE2__)
namespace {

// One head of each of four taps, a lane each. `ge` marks the lanes whose
// kept coefficient is for a fraction of at least 0.3 (the sample itself is
// read); `known` those whose coefficient has been set.
struct heads4 {
  __m128 p, x1, y1, q;
  __m128i bits;
  __m128 known, ge;
};

inline __m128 blend(__m128 mask, __m128 a, __m128 b) {
  return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}
inline __m128i blend(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Per lane, the operations of head_read in its order; lanes outside `use`
// keep their state. kAll: every lane is used.
template <bool kAll>
inline __m128 heads4_read(heads4& h, const float* const buffer[4], __m128i length, __m128 lengthf, __m128 use) {
  __m128i i = _mm_cvttps_epi32(h.p);
  __m128 f = _mm_sub_ps(h.p, _mm_cvtepi32_ps(i));
  __m128i bits = _mm_castps_si128(f);
  // Lanes whose coefficient is set and for this fraction.
  __m128 kept = _mm_and_ps(h.known, _mm_castsi128_ps(_mm_cmpeq_epi32(bits, h.bits)));
  if (kAll ? _mm_movemask_ps(kept) != 15 : _mm_movemask_ps(_mm_andnot_ps(kept, use)) != 0) [[unlikely]] {
    __m128 stale = _mm_andnot_ps(kept, kAll ? _mm_castsi128_ps(_mm_set1_epi32(-1)) : use);
    const __m128 one = _mm_set1_ps(1.0f);
    __m128 ge = _mm_cmpge_ps(f, _mm_set1_ps(0.3f));
    __m128 near = _mm_div_ps(_mm_sub_ps(one, f), _mm_add_ps(one, f));
    __m128 far = _mm_div_ps(_mm_xor_ps(f, _mm_set1_ps(-0.0f)), _mm_add_ps(_mm_set1_ps(2.0f), f));
    h.q = blend(stale, blend(ge, near, far), h.q);
    h.ge = blend(stale, ge, h.ge);
    h.bits = blend(_mm_castps_si128(stale), bits, h.bits);
    h.known = _mm_or_ps(h.known, stale);
  }
  // The sample itself where the fraction is at least 0.3, else the one
  // before it, wrapping to the buffer's end.
  __m128i index = _mm_sub_epi32(_mm_sub_epi32(i, _mm_set1_epi32(1)), _mm_castps_si128(h.ge));
  index = _mm_add_epi32(index, _mm_and_si128(_mm_srai_epi32(index, 31), length));
  alignas(16) int32_t at[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
  __m128 x = _mm_set_ps(buffer[3][at[3]], buffer[2][at[2]], buffer[1][at[1]], buffer[0][at[0]]);
  __m128 qx = _mm_mul_ps(h.q, x), qy = _mm_mul_ps(h.q, h.y1);
  __m128 y = blend(h.ge, _mm_sub_ps(_mm_add_ps(qx, h.x1), qy), _mm_add_ps(_mm_sub_ps(h.x1, qy), qx));
  // next >= 1, so subtracting +0 where it does not wrap leaves it as it is.
  __m128 next = _mm_add_ps(h.p, _mm_set1_ps(1.0f));
  next = _mm_sub_ps(next, _mm_and_ps(_mm_cmpge_ps(next, lengthf), lengthf));
  if (kAll) {
    h.x1 = x;
    h.y1 = y;
    h.p = next;
  } else {
    h.x1 = blend(use, x, h.x1);
    h.y1 = blend(use, y, h.y1);
    h.p = blend(use, next, h.p);
  }
  return y;
}

// Four samples of every lane's head at once, where that is plain: each
// head's fraction is the one its coefficient was made for, and its next four
// positions p + 1 .. p + 4 lie within the buffer and within p's binade, so
// each step of one is exact and keeps the fraction. The four reads of a lane
// are then consecutive samples, loaded together. Writes the values made to
// y and moves h on by the first kTake of them; false, leaving h as it is,
// where a lane is not plain.
template <int kTake = 4>
[[gnu::always_inline]] inline bool heads4_read4(heads4& h, const float* const buffer[4], __m128 lengthf,
                                                __m128 y[4]) {
  __m128i i = _mm_cvttps_epi32(h.p);
  __m128 f = _mm_sub_ps(h.p, _mm_cvtepi32_ps(i));
  __m128 last = _mm_add_ps(h.p, _mm_set1_ps(4.0f));
  __m128i plain = _mm_and_si128(_mm_castps_si128(h.known), _mm_cmpeq_epi32(_mm_castps_si128(f), h.bits));
  plain = _mm_and_si128(plain, _mm_castps_si128(_mm_cmplt_ps(last, lengthf)));
  plain = _mm_and_si128(plain, _mm_cmpeq_epi32(_mm_srli_epi32(_mm_castps_si128(h.p), 23),
                                               _mm_srli_epi32(_mm_castps_si128(last), 23)));
  if (_mm_movemask_ps(_mm_castsi128_ps(plain)) != 15) return false;
  // p >= 8 here (its binade holds p + 4), so the first read is in the buffer.
  alignas(16) int32_t at[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(at),
                  _mm_sub_epi32(_mm_sub_epi32(i, _mm_set1_epi32(1)), _mm_castps_si128(h.ge)));
  __m128 x0 = _mm_loadu_ps(buffer[0] + at[0]), x1 = _mm_loadu_ps(buffer[1] + at[1]);
  __m128 x2 = _mm_loadu_ps(buffer[2] + at[2]), x3 = _mm_loadu_ps(buffer[3] + at[3]);
  _MM_TRANSPOSE4_PS(x0, x1, x2, x3);
  const __m128 x[4] = {x0, x1, x2, x3};
  __m128 last_x = h.x1, last_y = h.y1;
#pragma GCC unroll 4
  for (int s = 0; s < 4; ++s) {
    __m128 qx = _mm_mul_ps(h.q, x[s]), qy = _mm_mul_ps(h.q, last_y);
    last_y = blend(h.ge, _mm_sub_ps(_mm_add_ps(qx, last_x), qy), _mm_add_ps(_mm_sub_ps(last_x, qy), qx));
    last_x = x[s];
    y[s] = last_y;
  }
  // p + kTake is exact, as p + 4 is.
  h.p = kTake == 4 ? last : _mm_add_ps(h.p, _mm_set1_ps((float)kTake));
  h.x1 = x[kTake - 1];
  h.y1 = y[kTake - 1];
  return true;
}

}  // namespace

// tap_run for four distinct taps at once, one per lane, each lane taking the
// very steps (and roundings) tap_run takes for its tap. Lane l's length at
// sample k is target[k * stride + l]; its value times its gain goes to
// values[k][l]. The taps drift apart in their fades (a small change of
// length is no jump), so a sample is taken lane by lane with masks, and
// stretches that need no more run several samples at once.
void reverb_taps_run4(reverb_tap* const taps[4], int32_t k0, int32_t k1, const float* target, int stride,
                      int32_t write, float (*values)[4]) {
  alignas(16) float pa[4], pb[4], gain[4], limit[4], lengthf[4];
  alignas(16) float xa[4], ya[4], qa[4], xb[4], yb[4], qb[4];
  // Masks: all ones for a set lane.
  alignas(16) int32_t ka[4], ga[4], kb[4], gb[4];
  alignas(16) int32_t ba[4], bb[4], active[4], fade[4], length[4], writes[4];
  const float* buffer[4];
  const float* w[4];
  auto ge = [](const reverb_allpass& ap) {
    float f;
    memcpy(&f, &ap.fraction_bits, sizeof f);
    return f >= 0.3f ? -1 : 0;
  };
  for (int l = 0; l < 4; ++l) {
    const reverb_tap* t = taps[l];
    int a = t->active < 0 ? 0 : t->active, b = 1 - a;
    buffer[l] = t->buffer;
    w[l] = t->w;
    length[l] = t->length;
    lengthf[l] = (float)t->length;
    limit[l] = (float)(t->length - 1);
    gain[l] = t->gain;
    active[l] = t->active;
    fade[l] = t->fade;
    writes[l] = write;
    pa[l] = t->head[a];
    pb[l] = t->head[b];
    const reverb_allpass &aa = t->allpass[a], &ab = t->allpass[b];
    xa[l] = aa.x1, ya[l] = aa.y1, qa[l] = aa.q, ba[l] = (int32_t)aa.fraction_bits, ka[l] = aa.known ? -1 : 0;
    xb[l] = ab.x1, yb[l] = ab.y1, qb[l] = ab.q, bb[l] = (int32_t)ab.fraction_bits, kb[l] = ab.known ? -1 : 0;
    ga[l] = ge(aa);
    gb[l] = ge(ab);
  }
  auto ints = [](const int32_t* v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(v)); };
  auto mask = [&](const int32_t* v) { return _mm_castsi128_ps(ints(v)); };
  heads4 ha{_mm_load_ps(pa), _mm_load_ps(xa), _mm_load_ps(ya), _mm_load_ps(qa), ints(ba), mask(ka), mask(ga)};
  heads4 hb{_mm_load_ps(pb), _mm_load_ps(xb), _mm_load_ps(yb), _mm_load_ps(qb), ints(bb), mask(kb), mask(gb)};
  const __m128i vlength = _mm_load_si128(reinterpret_cast<const __m128i*>(length));
  const __m128 vlengthf = _mm_load_ps(lengthf), vlimit = _mm_load_ps(limit), vgain = _mm_load_ps(gain);
  __m128i vactive = ints(active), vfade = ints(fade), vwrite = ints(writes);
  const __m128i fade_end = _mm_set1_epi32(REVERB_FADE);
  const __m128 all = _mm_castsi128_ps(_mm_set1_epi32(-1)), zero = _mm_setzero_ps();
  // One sample, lane by lane as tap_run takes it.
  auto step = [&](int32_t k) {
    __m128 fading = _mm_castsi128_ps(_mm_cmplt_epi32(vfade, fade_end));
    int fading_lanes = _mm_movemask_ps(fading);
    __m128 y = heads4_read<true>(hb, buffer, vlength, vlengthf, all);
    __m128 value = y;
    if (fading_lanes) {
      // Crossfading lanes: head b against head a (or silence before the
      // first length).
      __m128 both = _mm_and_ps(fading, _mm_castsi128_ps(_mm_cmpgt_epi32(vactive, _mm_set1_epi32(-1))));
      __m128 y_a = zero;
      int both_lanes = _mm_movemask_ps(both);
      if (both_lanes == 15)
        y_a = heads4_read<true>(ha, buffer, vlength, vlengthf, all);
      else if (both_lanes)
        y_a = _mm_and_ps(both, heads4_read<false>(ha, buffer, vlength, vlengthf, both));
      alignas(16) int32_t at[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_and_si128(vfade, _mm_set1_epi32(REVERB_FADE - 1)));
      __m128 weight = _mm_set_ps(w[3][at[3]], w[2][at[2]], w[1][at[1]], w[0][at[0]]);
      value = blend(fading, _mm_add_ps(_mm_mul_ps(_mm_sub_ps(y, y_a), weight), y_a), y);
    }
    _mm_storeu_ps(values[k], _mm_mul_ps(value, vgain));
    // The write index at this sample, for the settled lanes' positions.
    __m128i write_now = vwrite;
    vwrite = _mm_add_epi32(vwrite, _mm_set1_epi32(1));
    vwrite = _mm_and_si128(_mm_cmpgt_epi32(vlength, vwrite), vwrite);
    __m128 watching = _mm_castsi128_ps(_mm_cmpgt_epi32(vfade, fade_end));
    // Every lane below 65 counts on: the fading ones, and 64 becomes 65.
    vfade = _mm_sub_epi32(vfade, _mm_cmplt_epi32(vfade, _mm_set1_epi32(REVERB_FADE + 1)));
    if (fading_lanes == 15) return;
    // Settled lanes past their first sample: a new length starts a crossfade.
    __m128 want = _mm_loadu_ps(target + k * stride);
    want = blend(_mm_cmpgt_ps(want, vlimit), vlimit, want);
    want = blend(_mm_cmplt_ps(want, zero), zero, want);
    __m128 position = _mm_sub_ps(_mm_cvtepi32_ps(_mm_add_epi32(write_now, vlength)), want);
    position = blend(_mm_cmpge_ps(position, vlengthf), _mm_sub_ps(position, vlengthf), position);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)), tiny = _mm_set1_ps(1e-6f);
    __m128 d = _mm_and_ps(_mm_sub_ps(position, hb.p), magnitude);
    __m128 m = _mm_max_ps(_mm_and_ps(position, magnitude), _mm_and_ps(hb.p, magnitude));
    __m128 jump = _mm_and_ps(_mm_and_ps(watching, _mm_cmpgt_ps(d, tiny)), _mm_cmpgt_ps(d, _mm_mul_ps(tiny, m)));
    if (_mm_movemask_ps(jump)) {
      // Head a takes head b's place and b jumps to the new length.
      heads4 na, nb;
      na.p = blend(jump, hb.p, ha.p);
      nb.p = blend(jump, position, hb.p);
      na.x1 = blend(jump, hb.x1, ha.x1), nb.x1 = blend(jump, ha.x1, hb.x1);
      na.y1 = blend(jump, hb.y1, ha.y1), nb.y1 = blend(jump, ha.y1, hb.y1);
      na.q = blend(jump, hb.q, ha.q), nb.q = blend(jump, ha.q, hb.q);
      __m128i ji = _mm_castps_si128(jump);
      na.bits = blend(ji, hb.bits, ha.bits), nb.bits = blend(ji, ha.bits, hb.bits);
      na.known = blend(jump, hb.known, ha.known), nb.known = blend(jump, ha.known, hb.known);
      na.ge = blend(jump, hb.ge, ha.ge), nb.ge = blend(jump, ha.ge, hb.ge);
      ha = na;
      hb = nb;
      // The new active head is the old b: 1 - a, where a is 0 before the first.
      __m128i a_index = _mm_andnot_si128(_mm_cmplt_epi32(vactive, _mm_setzero_si128()), vactive);
      vactive = blend(ji, _mm_sub_epi32(_mm_set1_epi32(1), a_index), vactive);
      vfade = _mm_andnot_si128(ji, vfade);
    }
  };
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)), tiny = _mm_set1_ps(1e-6f);
  int32_t k = k0;
  while (k < k1) {
    // Four samples at once where every lane fades between two heads through
    // them, or every lane is settled and keeps its length through them.
    if (k1 - k >= 4) {
      __m128 yb[4], ya[4];
      if (_mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(vfade, _mm_set1_epi32(REVERB_FADE - 3)))) == 15 &&
          !_mm_movemask_ps(_mm_castsi128_ps(vactive))) {
        heads4 nb = hb;
        if (heads4_read4(nb, buffer, vlengthf, yb) && heads4_read4(ha, buffer, vlengthf, ya)) {
          hb = nb;
          alignas(16) int32_t from[4];
          _mm_store_si128(reinterpret_cast<__m128i*>(from), vfade);
          __m128 w0 = _mm_loadu_ps(w[0] + from[0]), w1 = _mm_loadu_ps(w[1] + from[1]);
          __m128 w2 = _mm_loadu_ps(w[2] + from[2]), w3 = _mm_loadu_ps(w[3] + from[3]);
          _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
          const __m128 weight[4] = {w0, w1, w2, w3};
#pragma GCC unroll 4
          for (int s = 0; s < 4; ++s) {
            __m128 value = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(yb[s], ya[s]), weight[s]), ya[s]);
            _mm_storeu_ps(values[k + s], _mm_mul_ps(value, vgain));
          }
          vfade = _mm_add_epi32(vfade, _mm_set1_epi32(4));
          vwrite = _mm_add_epi32(vwrite, _mm_set1_epi32(4));
          vwrite = _mm_sub_epi32(vwrite, _mm_andnot_si128(_mm_cmpgt_epi32(vlength, vwrite), vlength));
          k += 4;
          continue;
        }
      } else if (_mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(vfade, _mm_set1_epi32(REVERB_FADE - 1)))) == 15 &&
                 !_mm_movemask_ps(_mm_castsi128_ps(vactive))) {
        // Every lane fades through the next two or three samples at least.
        const bool three =
            _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(vfade, _mm_set1_epi32(REVERB_FADE - 2)))) == 15;
        heads4 nb = hb, na = ha;
        if (three ? heads4_read4<3>(nb, buffer, vlengthf, yb) && heads4_read4<3>(na, buffer, vlengthf, ya)
                  : heads4_read4<2>(nb, buffer, vlengthf, yb) && heads4_read4<2>(na, buffer, vlengthf, ya)) {
          hb = nb;
          ha = na;
          const int n = three ? 3 : 2;
          alignas(16) int32_t from[4];
          _mm_store_si128(reinterpret_cast<__m128i*>(from), vfade);
          for (int s = 0; s < n; ++s) {
            __m128 weight = _mm_set_ps(w[3][from[3] + s], w[2][from[2] + s], w[1][from[1] + s], w[0][from[0] + s]);
            __m128 value = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(yb[s], ya[s]), weight), ya[s]);
            _mm_storeu_ps(values[k + s], _mm_mul_ps(value, vgain));
          }
          vfade = _mm_add_epi32(vfade, _mm_set1_epi32(n));
          vwrite = _mm_add_epi32(vwrite, _mm_set1_epi32(n));
          vwrite = _mm_sub_epi32(vwrite, _mm_andnot_si128(_mm_cmpgt_epi32(vlength, vwrite), vlength));
          k += n;
          continue;
        }
      } else if (_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(vfade, fade_end))) == 15) {
        __m128 p0 = hb.p;
        heads4 nb = hb;
        if (heads4_read4(nb, buffer, vlengthf, yb)) {
          // The positions each sample would compare with head b, moved on.
          __m128i at = vwrite;
          __m128 jump = _mm_setzero_ps();
#pragma GCC unroll 4
          for (int s = 0; s < 4; ++s) {
            __m128 want = _mm_loadu_ps(target + (k + s) * stride);
            want = blend(_mm_cmpgt_ps(want, vlimit), vlimit, want);
            want = blend(_mm_cmplt_ps(want, zero), zero, want);
            __m128 position = _mm_sub_ps(_mm_cvtepi32_ps(_mm_add_epi32(at, vlength)), want);
            position = blend(_mm_cmpge_ps(position, vlengthf), _mm_sub_ps(position, vlengthf), position);
            __m128 head = _mm_add_ps(p0, _mm_set1_ps((float)(s + 1)));
            __m128 d = _mm_and_ps(_mm_sub_ps(position, head), magnitude);
            __m128 m = _mm_max_ps(_mm_and_ps(position, magnitude), _mm_and_ps(head, magnitude));
            jump = _mm_or_ps(jump, _mm_and_ps(_mm_cmpgt_ps(d, tiny), _mm_cmpgt_ps(d, _mm_mul_ps(tiny, m))));
            at = _mm_add_epi32(at, _mm_set1_epi32(1));
            at = _mm_and_si128(_mm_cmpgt_epi32(vlength, at), at);
          }
          if (!_mm_movemask_ps(jump)) {
            hb = nb;
            for (int s = 0; s < 4; ++s) _mm_storeu_ps(values[k + s], _mm_mul_ps(yb[s], vgain));
            vwrite = at;
            k += 4;
            continue;
          }
        }
      }
    }
    step(k);
    ++k;
  }
  _mm_store_ps(pa, ha.p), _mm_store_ps(xa, ha.x1), _mm_store_ps(ya, ha.y1), _mm_store_ps(qa, ha.q);
  _mm_store_ps(pb, hb.p), _mm_store_ps(xb, hb.x1), _mm_store_ps(yb, hb.y1), _mm_store_ps(qb, hb.q);
  _mm_store_si128(reinterpret_cast<__m128i*>(ka), _mm_castps_si128(ha.known));
  _mm_store_si128(reinterpret_cast<__m128i*>(kb), _mm_castps_si128(hb.known));
  _mm_store_si128(reinterpret_cast<__m128i*>(ba), ha.bits);
  _mm_store_si128(reinterpret_cast<__m128i*>(bb), hb.bits);
  _mm_store_si128(reinterpret_cast<__m128i*>(active), vactive);
  _mm_store_si128(reinterpret_cast<__m128i*>(fade), vfade);
  for (int l = 0; l < 4; ++l) {
    reverb_tap* t = taps[l];
    t->active = active[l];
    t->fade = fade[l];
    int a = t->active < 0 ? 0 : t->active, b = 1 - a;
    t->head[a] = pa[l];
    t->head[b] = pb[l];
    reverb_allpass &aa = t->allpass[a], &ab = t->allpass[b];
    aa.x1 = xa[l], aa.y1 = ya[l], aa.q = qa[l], aa.fraction_bits = (uint32_t)ba[l];
    ab.x1 = xb[l], ab.y1 = yb[l], ab.q = qb[l], ab.fraction_bits = (uint32_t)bb[l];
    aa.known = ka[l] ? 1 : aa.known;
    ab.known = kb[l] ? 1 : ab.known;
    t->target = target[(k1 - 1) * stride + l];
  }
}
#endif

float reverb_tap_read(reverb_tap* t, int32_t write) {
  float value;
  float target = t->target;
  tap_run<false>(t, 0, 1, &target, 0, write, &value);
  return value;
}

// Whether every head the block may read stays clear of the samples the block
// writes: then the taps can run a whole block each. `before` taps read ahead
// of the block's writes, the others after them.
static int block_is_clear(reverb* r, int first, int last, int before, float least_target) {
  for (int i = first; i <= last; ++i) {
    reverb_tap* t = reverb_tap_at(r, i);
    if (t->target < least_target) return 0;
    for (int h = 0; h < 2; ++h) {
      int reading = t->active < 0 ? h == 1 : (h != t->active || t->fade < REVERB_FADE);
      if (!reading) continue;
      float d = (float)r->write - t->head[h];
      if (d < 0.0f) d += (float)t->length;
      float lo = before ? kRunMargin : 2.0f;
      if (!(d >= lo && d <= (float)t->length - kRunMargin)) return 0;
    }
  }
  return 1;
}

static void pink_update(reverb* r) {
  int i = 0;
  while (i < 4 && !((r->pink_counter >> i) & 1)) ++i;
  for (;;) {
    float fresh = (float)prng_word(&r->random) * kTwoPowMinus32 - 0.5f;
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
    float u = (float)prng_word(&r->random) * kTwoPowMinus32;
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
  reverb_tap* taps = reverb_tap_at(r, 0);
  const int32_t length = array_count(&r->buffer, sizeof(float));
  const int32_t write0 = r->write;

  // What does not depend on the signal, sample by sample: the smoothers and
  // the modulated taps' lengths (new every 32 samples).
  alignas(16) float g[kBlock], wet[kBlock], dry[kBlock], feedback[kBlock];
  alignas(16) float lengths[kBlock][REVERB_MOD_TAPS];
  float fixed_lengths[REVERB_FIXED_TAPS];
  for (int i = 0; i < REVERB_FIXED_TAPS; ++i) fixed_lengths[i] = taps[i].target;
  int all_open = 1;
  smoother_fill(&r->input, r->target_input, g);
  smoother_fill(&r->wet, r->target_wet, wet);
  smoother_fill(&r->dry, r->target_dry, dry);
  smoother_fill(&r->feedback, r->target_feedback, feedback);
  float least = taps[REVERB_FIXED_TAPS].target, most = least;
  // The lengths change only where modulate runs: kept at hand in between.
  float current[REVERB_MOD_TAPS];
  for (int j = 0; j < REVERB_MOD_TAPS; ++j) current[j] = taps[REVERB_FIXED_TAPS + j].target;
  for (int k = 0; k < kBlock; ++k) {
    all_open &= g[k] > 0.0f;
    int fresh = k == 0;
    if (r->modulation_counter % 32 == 0) {
      modulate(r), fresh = 1;
      for (int j = 0; j < REVERB_MOD_TAPS; ++j) current[j] = taps[REVERB_FIXED_TAPS + j].target;
    }
    r->modulation_counter = (r->modulation_counter + 1) % 32;
    memcpy(lengths[k], current, sizeof current);
    if (fresh)
      for (int j = 0; j < REVERB_MOD_TAPS; ++j) {
        least = lengths[k][j] < least ? lengths[k][j] : least;
        most = lengths[k][j] > most ? lengths[k][j] : most;
      }
  }

  alignas(16) float first_mod[kBlock], more[kBlock] = {}, wet_l[kBlock] = {}, wet_r[kBlock] = {};
  // Taps 4 to 7 have gain zero: adding their (signed) zeros to the non-zero
  // or +0 sums would change no bit, so they are not read.
  constexpr int fixed_used = 4;
#if defined(__SSE2__)
  // Four taps at a time (see reverb_taps_run4); their values are then summed
  // into each sample tap by tap, in the order a tap at a time would.
  alignas(16) float values[kBlock][4];
  auto run4 = [&](int first, int32_t k0, int32_t k1, const float* target, int stride, int32_t write) {
    reverb_tap* const group[4] = {&taps[first], &taps[first + 1], &taps[first + 2], &taps[first + 3]};
    reverb_taps_run4(group, k0, k1, target, stride, write, values);
  };
  auto run_modulated = [&](int32_t k0, int32_t k1, int32_t write) {
    if (!(k1 - k0 > 1 || g[k0] > 0.0f)) {
      tap_run<false>(&taps[REVERB_FIXED_TAPS], k0, k1, &lengths[0][0], REVERB_MOD_TAPS, write, first_mod);
      return;
    }
    for (int j = 0; j < REVERB_MOD_TAPS; j += 4) {
      run4(REVERB_FIXED_TAPS + j, k0, k1, &lengths[0][j], REVERB_MOD_TAPS, write);
      int32_t k = k0;
      // Four samples at a time: the values turned to one vector per tap.
      for (; k + 4 <= k1; k += 4) {
        __m128 v0 = _mm_load_ps(values[k]), v1 = _mm_load_ps(values[k + 1]);
        __m128 v2 = _mm_load_ps(values[k + 2]), v3 = _mm_load_ps(values[k + 3]);
        _MM_TRANSPOSE4_PS(v0, v1, v2, v3);
        __m128 sum = _mm_loadu_ps(more + k);
        if (j == 0)
          _mm_storeu_ps(first_mod + k, v0);
        else
          sum = _mm_add_ps(sum, v0);
        sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(sum, v1), v2), v3);
        _mm_storeu_ps(more + k, sum);
      }
      for (; k < k1; ++k) {
        float sum = j == 0 ? more[k] : more[k] + values[k][0];
        if (j == 0) first_mod[k] = values[k][0];
        sum = sum + values[k][1];
        sum = sum + values[k][2];
        more[k] = sum + values[k][3];
      }
    }
  };
  static_assert(fixed_used == 4);
  auto run_fixed = [&](int32_t k0, int32_t k1, int32_t write) {
    run4(0, k0, k1, fixed_lengths, 0, write);
    for (int32_t k = k0; k < k1; ++k) {
      wet_l[k] = (wet_l[k] + values[k][0]) + values[k][2];
      wet_r[k] = (wet_r[k] + values[k][1]) + values[k][3];
    }
  };
#else
  auto run_modulated = [&](int32_t k0, int32_t k1, int32_t write) {
    tap_run<false>(&taps[REVERB_FIXED_TAPS], k0, k1, &lengths[0][0], REVERB_MOD_TAPS, write, first_mod);
    for (int j = 1; j < REVERB_MOD_TAPS; ++j)
      if (k1 - k0 > 1 || g[k0] > 0.0f)
        tap_run<true>(&taps[REVERB_FIXED_TAPS + j], k0, k1, &lengths[0][j], REVERB_MOD_TAPS, write, more);
  };
  auto run_fixed = [&](int32_t k0, int32_t k1, int32_t write) {
    for (int i = 0; i < fixed_used; ++i)
      tap_run<true>(&taps[i], k0, k1, &fixed_lengths[i], 0, write, i % 2 ? wet_r : wet_l);
  };
#endif
  // The filters and the write index come by reference, so that a whole
  // block can keep them in locals: the buffer's stores might otherwise alias
  // the records' fields and make every sample reload them.
  auto write_sample = [&](int k, biquad& high_pass, biquad& low_shelf, biquad& high_shelf, int32_t& write) {
    float sum_mod = first_mod[k];
    if (g[k] > 0.0f) sum_mod = sum_mod + g[k] * g[k] * more[k];
    float h = biquad_run(&high_pass, sum_mod + 1e-20f);
    float f = feedback[k] > 0.0f ? (1.0f - 0.7f * (g[k] * g[k])) * feedback[k] * h : 0.0f;
    float mono = 0.5f * (left[k] + right[k]);
    buffer[write] = biquad_run(&high_shelf, biquad_run(&low_shelf, mono + f + 1e-20f) + 1e-20f);
    write += 1;
    if (write >= length) write = 0;
  };

  if (all_open && least >= kRunMargin && most <= (float)length - kRunMargin && block_is_clear(r, REVERB_FIXED_TAPS, REVERB_TAPS - 1, 1, 0.0f) &&
      block_is_clear(r, 0, fixed_used - 1, 0, 2.0f)) {
    run_modulated(0, kBlock, write0);
    biquad high_pass = r->high_pass, low_shelf = r->low_shelf, high_shelf = r->high_shelf;
    int32_t write = r->write;
    for (int k = 0; k < kBlock; ++k) write_sample(k, high_pass, low_shelf, high_shelf, write);
    r->high_pass = high_pass, r->low_shelf = low_shelf, r->high_shelf = high_shelf;
    r->write = write;
    run_fixed(0, kBlock, write0);
  } else {
    for (int k = 0; k < kBlock; ++k) {
      int32_t write = r->write;
      run_modulated(k, k + 1, write);
      run_fixed(k, k + 1, write);
      write_sample(k, r->high_pass, r->low_shelf, r->high_shelf, r->write);
    }
  }
  for (int k = 0; k < kBlock; ++k) {
    float out_l = wet_l[k] * wet[k] + left[k] * dry[k];
    float out_r = wet_r[k] * wet[k] + right[k] * dry[k];
    left[k] = out_l;
    right[k] = out_r;
  }
}
