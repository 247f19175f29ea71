#include <benchmark/benchmark.h>

#include <cstdlib>

#include "piece/sound.h"

static int discard(void* arg, const float* left, const float* right) {
  auto* sum = static_cast<float*>(arg);
  *sum += left[0] + right[255];
  return 1;
}

// The piece's whole sound (123 s), block by block as render-sound makes it.
// Goal: under 0.41 s (300 times real time).
static void BM_PieceAudio(benchmark::State& state) {
  for (auto _ : state) {
    float sum = 0.0f;
    sound_render_piece(discard, &sum);
    benchmark::DoNotOptimize(sum);
  }
  double seconds = sound_block_count() * 256 / 44100.0;
  state.counters["realtime_x"] =
      benchmark::Counter(seconds * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PieceAudio)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One pipe with all nine voices busy, one block.
static void BM_PipeBlock(benchmark::State& state) {
  pipe_group* p = static_cast<pipe_group*>(calloc(1, sizeof(pipe_group)));
  pipe_make(p, 7.7f);
  p->note = 61;
  p->level = 0.25f;
  p->spread = -12.79f;
  float out[PIPE_BLOCK];
  for (auto _ : state) {
    pipe_process(p, out);
    benchmark::DoNotOptimize(out[0]);
  }
  pipe_free(p);
  free(p);
}
BENCHMARK(BM_PipeBlock);

// The reverberation alone, one block.
static void BM_ReverbBlock(benchmark::State& state) {
  reverb* r = static_cast<reverb*>(calloc(1, sizeof(reverb)));
  reverb_make(r);
  float left[PIPE_BLOCK], right[PIPE_BLOCK];
  int32_t n = 0;
  for (auto _ : state) {
    for (int k = 0; k < PIPE_BLOCK; ++k) left[k] = right[k] = (float)((n++ % 200) - 100) * 0.001f;
    reverb_process(r, left, right);
    benchmark::DoNotOptimize(left[0]);
  }
  reverb_free(r);
  free(r);
}
BENCHMARK(BM_ReverbBlock);

// One block at scene time Arg seconds and on: the tail (121 s) should cost
// no more than a block in the middle (60 s); denormals would make it dearer.
static void BM_SoundBlockAt(benchmark::State& state) {
  auto* st = static_cast<sound_state*>(calloc(1, sizeof(sound_state)));
  sound_make(st);
  float left[PIPE_BLOCK], right[PIPE_BLOCK];
  int64_t block = 0;
  while (sound_block_ms(block) < state.range(0) * 1000.0) sound_render(st, sound_block_ms(block++), left, right);
  for (auto _ : state) {
    sound_render(st, sound_block_ms(block++), left, right);
    benchmark::DoNotOptimize(left[0]);
  }
  sound_free(st);
  free(st);
}
BENCHMARK(BM_SoundBlockAt)->Arg(60)->Arg(121)->Iterations(500);
