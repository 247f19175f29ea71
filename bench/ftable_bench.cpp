#include <benchmark/benchmark.h>

#include "piece/ftable.h"

// Sampling the score once per display frame: a whole 123 s pass in 16 ms steps.
static void BM_ScorePass(benchmark::State& state) {
  static const float score[6][5] = {
      {0, 0, 1, 1, 1},           {6000, 100, 4, 5, 1},       {60000, 20, 3, 7.2f, 11},
      {90000, 45, 2, 10.2f, 18}, {112000, 42, 2, 10.2f, 18}, {120000, 0, 2, 6, 6},
  };
  ftable table{};
  table.width = 5;
  for (int c = 1; c < 5; ++c) {
    for (const auto& row : score) ftable_add_point(&table, c, row[0], row[c]);
  }
  ftable_env env{};
  float out[5] = {};
  for (auto _ : state) {
    ftable_env_make(&env, &table);
    for (float ms = 0; ms < 123000; ms += 16) {
      env.position = ms;
      ftable_env_range_front(&env, out);
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * (123000 / 16));
  ftable_env_free(&env);
  ftable_free(&table);
}
BENCHMARK(BM_ScorePass);
