#include <benchmark/benchmark.h>

#include <zeal/base/array.h>

// Appending to a growable array: the operation under every list in the framework.
static void BM_ArrayAppend(benchmark::State& state) {
  for (auto _ : state) {
    array a{};
    for (int i = 0; i < 1024; ++i) array_append(&a, &i, sizeof i);
    benchmark::DoNotOptimize(a.data);
    array_reset(&a);
  }
}
BENCHMARK(BM_ArrayAppend);
