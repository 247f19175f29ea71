#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <zeal/io/film.h>

namespace {

constexpr int kWidth = 1280, kHeight = 720, kLoop = 24;

double cpu_seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// A loop of pictures like the piece's hardest: thousands of small glowing
// points on orbits over a dark gradient, each orbit closing after kLoop frames.
std::vector<std::vector<uint8_t>> particle_loop() {
  std::vector<std::vector<uint8_t>> frames(kLoop, std::vector<uint8_t>(size_t{kWidth} * kHeight * 4));
  uint32_t seed = 7;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8 & 0xffff; };
  struct Point {
    double x, y, radius, phase;
    uint8_t r, g, b;
  };
  std::vector<Point> points(12000);
  for (Point& p : points)
    p = {kWidth * (0.25 + 0.5 * next() / 65536.0), kHeight * (0.2 + 0.6 * next() / 65536.0),
         4 + 40 * next() / 65536.0, 6.283 * next() / 65536.0, static_cast<uint8_t>(next()),
         static_cast<uint8_t>(next()), 255};
  for (int k = 0; k < kLoop; ++k) {
    uint8_t* picture = frames[k].data();
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        uint8_t* px = picture + (static_cast<size_t>(y) * kWidth + x) * 4;
        px[0] = 10, px[1] = static_cast<uint8_t>(20 + y / 24), px[2] = static_cast<uint8_t>(40 + y / 8), px[3] = 255;
      }
    for (const Point& p : points) {
      double angle = p.phase + 6.283 * k / kLoop;
      int cx = static_cast<int>(p.x + p.radius * std::cos(angle));
      int cy = static_cast<int>(p.y + p.radius * std::sin(angle));
      for (int y = cy; y < cy + 2; ++y)
        for (int x = cx; x < cx + 2; ++x) {
          uint8_t* px = picture + (static_cast<size_t>(y) * kWidth + x) * 4;
          px[0] = p.r, px[1] = p.g, px[2] = p.b;
        }
    }
  }
  return frames;
}

}  // namespace

// One 1280x720 picture through the converter and the encoder at the film's
// own settings. Real time is the pace the encoder thread allows; encoder_ms
// is the CPU it spends per picture.
static void BM_FilmPicture(benchmark::State& state) {
  static const auto frames = particle_loop();
  film_settings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  std::string path = "/tmp/zeal-film-bench-" + std::to_string(getpid()) + ".mp4";
  std::string why;
  film* f = film_open(path.c_str(), settings, nullptr, &why);
  if (f == nullptr) {
    state.SkipWithError(why.c_str());
    return;
  }
  double process = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID), own = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
  int64_t k = 0;
  for (auto _ : state) {
    std::span<uint8_t> buffer = film_picture_buffer(f);
    memcpy(buffer.data(), frames[k++ % kLoop].data(), buffer.size());
    film_add_picture(f);
  }
  film_finish(f);
  double encoder = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process - (cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - own);
  state.counters["encoder_ms"] = 1000 * encoder / static_cast<double>(state.iterations());
  film_destroy(f);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path)) / state.iterations();
  std::filesystem::remove(path);
}
BENCHMARK(BM_FilmPicture)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// One picture's worth of stereo sound (1470 samples) through the AAC encoder,
// on the calling thread as the disk writer hands it over.
static void BM_FilmSound(benchmark::State& state) {
  film_settings settings;
  settings.width = 64;
  settings.height = 64;
  std::string path = "/tmp/zeal-film-bench-sound-" + std::to_string(getpid()) + ".mp4";
  std::string why;
  film* f = film_open(path.c_str(), settings, nullptr, &why);
  if (f == nullptr) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::vector<float> block(2 * 1470);
  int64_t n = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < block.size(); i += 2, ++n)
      block[i] = block[i + 1] = static_cast<float>(0.3 * std::sin(0.0627 * n) * std::sin(0.0001 * n));
    film_add_sound(f, block);
  }
  film_destroy(f);
  std::filesystem::remove(path);
}
BENCHMARK(BM_FilmSound)->Unit(benchmark::kMicrosecond);
