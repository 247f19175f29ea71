// The piece's reverberation: a 3-second circular buffer read by 24 taps
// (8 fixed, 16 swept by slow triangle LFOs with pink jitter), each tap with two
// allpass-interpolated read heads that crossfade when its length changes; the
// modulated taps feed back through a high-pass into the buffer, which is
// written through a low and a high shelf.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>
#include "piece/prng.h"

constexpr int REVERB_TAPS = 24;
constexpr int REVERB_FIXED_TAPS = 8;
constexpr int REVERB_MOD_TAPS = 16;
constexpr int REVERB_FADE = 64;

struct reverb_allpass {
  float x1;  // last input
  float y1;  // last output
  // The coefficient for the last fraction read (a head keeps its fraction
  // while it moves by whole samples).
  uint32_t fraction_bits;
  float q;
  int32_t known;
};

struct reverb_tap {
  float* buffer;  // the reverb buffer, not owned
  int32_t length;
  float head[2];  // read positions
  reverb_allpass allpass[2];
  int32_t active;  // the head fading out in a crossfade; -1 before the first
  int32_t fade;    // crossfade counter; >= 64 settled
  float w[REVERB_FADE];
  float target;  // length in samples
  float gain;
};

struct biquad {
  float b0, b1, b2, a1, a2;
  float x1, x2, y1, y2;
};

// One-pole follower: value moves by coefficient x (target - value) per sample.
struct smoother {
  float value;
  float step;
  float coefficient;
};

struct reverb {
  array buffer;  // floats
  int32_t write;
  array taps;  // reverb_tap
  float lfo_phase[REVERB_MOD_TAPS];
  float lfo_step[REVERB_MOD_TAPS];
  float base[REVERB_MOD_TAPS];  // samples
  float depth;                  // seconds
  biquad low_shelf, high_shelf, high_pass;
  prng random;
  float pink[5];
  float pink_sum;
  int32_t pink_counter;
  float target_feedback, target_input, target_dry, target_wet;
  float low_shelf_gain, high_shelf_gain;
  float rate;
  smoother input, wet, dry, feedback;
  int32_t modulation_counter;
};

// Makes a zero-filled record ready; 0 when the buffer cannot be had.
int reverb_make(reverb* r);
void reverb_free(reverb* r);
// Runs one block of 256 samples through the network in place.
void reverb_process(reverb* r, float* left, float* right);

reverb_tap* reverb_tap_at(reverb* r, int i);
// Reads one sample of a tap (both heads while it crossfades).
float reverb_tap_read(reverb_tap* t, int32_t write);
// Runs samples k0 .. k1 - 1 of four distinct taps side by side, bit for bit
// as each would run alone: lane l's length at sample k is
// target[k * stride + l], and its value (times its gain) goes to values[k][l].
// `write` is the write index at k0. Where SSE2 is at hand.
void reverb_taps_run4(reverb_tap* const taps[4], int32_t k0, int32_t k1, const float* target, int stride,
                      int32_t write, float (*values)[4]);
float biquad_run(biquad* b, float x);
