// The piece's sound: four pipes singing a five-chord cycle in six-second
// sections, mixed into a reverberation and a soft clipper.
#pragma once
#include <cstdint>

#include "piece/pipe.h"
#include "piece/reverb.h"

struct App;

constexpr double SOUND_END_MS = 123000.0;
constexpr int SOUND_PIPES = 4;

struct sound_state {
  pipe_group pipes[SOUND_PIPES];
  reverb rev;
  float scratch[PIPE_BLOCK];
  // The chord the pipes were last tuned to. It starts at 0 while the pipes
  // keep their own notes, so the first section sounds those.
  int32_t chord;
};

// Fills a zero-filled record; 0 when memory runs out.
int sound_make(sound_state* st);
// Frees the pipes' tables and the reverberation's buffers.
void sound_free(sound_state* st);
// Renders the block that starts at scene time s (ms) into 256 + 256 samples.
// For s <= 0 the block is silent and the state is left as it was.
void sound_render(sound_state* st, double s, float* left, float* right);
// Scene time of block `index` of a rendering that starts at scene time 0,
// by the disk writer's clock (frames x 1000/44100 ms).
double sound_block_ms(int64_t index);
// Blocks of the whole piece: up to and including the first block at or past
// the end, which the audio step still renders before it stops.
int64_t sound_block_count();
// Renders blocks 0 .. sound_block_count() - 1 with a fresh state, handing
// each block to `sink`; 0 when memory runs out or the sink answers 0.
using sound_sink = int (*)(void* arg, const float* left, const float* right);
int sound_render_piece(sound_sink sink, void* arg);
// Number of pipes that play at scene time s.
int sound_active_pipes(double s);
// Spread and level the pipes get at scene time s.
float sound_spread(double s);
float sound_level(double s);
float sound_softclip(float x);

// The audio side of the piece's handler: begin, end and step.
int32_t sound_run(uint32_t phase, App* app);
