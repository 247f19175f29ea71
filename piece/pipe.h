// Pipes (pipe_group; "pipe" is taken by POSIX): granular voice groups. A pipe scatters Gaussian-windowed sine grains
// at random moments, all at the pipe's current MIDI note, and renders them in
// blocks of 256 mono samples at 44100 Hz.
#pragma once
#include <cstdint>

#include "piece/prng.h"

constexpr int PIPE_VOICES = 9;
constexpr int PIPE_BLOCK = 256;
constexpr int PIPE_TABLE = 1024;
// One table cycle in phase units; bits 20-29 index the table.
constexpr int32_t PIPE_CYCLE = 0x40000000;
constexpr int32_t PIPE_IDLE = (int32_t)0xC0000000u;

// Phase-accumulating reader over 1024-entry tables: values t1, first
// differences t2 and halved second differences t3.
struct tableosc {
  int32_t channels;
  float** t1;
  float** t2;
  float** t3;
  int32_t phase;  // negative: idle or finished
  int32_t increment;
  int32_t derive_t2;
  int32_t derive_t3;
  int32_t interpolate;
};

struct pipe_group {
  float coefficient;  // one-pole follower at 400 Hz
  float gain;
  float gain_step;
  tableosc voices[PIPE_VOICES];  // each with its own copy of the window table
  tableosc sine;
  int32_t grain_phase[PIPE_VOICES];
  int32_t grain_increment[PIPE_VOICES];
  int32_t ahead[PIPE_VOICES];  // samples already rendered in this block
  int32_t countdown;           // samples to the next grain
  prng random;
  int32_t length;  // grain length in samples
  int32_t note;
  float level;   // amplitude before squaring
  float spread;  // density factor of the gaps between grains
  int32_t playing;
  int32_t playing_max;
  tableosc window;
  // Derived at make time, for speed: the window's value at every age of a
  // grain (all grains run the same phases), and the sine tables interleaved.
  float* envelope;  // envelope_last + 1 values
  int32_t envelope_last;  // age of a grain's last sample (where the window is 0)
  float* sine4;     // 1024 x {t1, t2, t3, 0}
};

// Grain length in units of 10 ms (441 samples).
void pipe_make(pipe_group* p, float length);
void pipe_process(pipe_group* p, float* out);
// Frees every table and table list; the record may be made again afterwards.
void pipe_free(pipe_group* p);
// Adds `count` samples of one grain at sine phase `phase` (any value, taken
// within the cycle) shaped by `envelope` into out; the phase after them. The
// plain form of the grain loop, and the tail of its vector form.
int32_t pipe_render_scalar(const float* sine4, const float* envelope, int32_t count, int32_t phase,
                           int32_t increment, float* out);

// Interpolated (or plain) read of channel 0 at `phase`.
float tableosc_read(const tableosc* o, int32_t phase);
// Phase step of a MIDI note at 44100 Hz.
int32_t pipe_note_increment(int32_t note);
