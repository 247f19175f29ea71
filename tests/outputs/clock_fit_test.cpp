// The clock's fit of a channel's readings and its choice of master, with
// readings made up here rather than measured.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <zeal/io/avstream.h>

namespace {

struct Readings {
  std::vector<float> s;
  std::vector<float> v;
};

// 400 samplings 2.5 ms apart of a channel whose time is `f(sampling time)`.
template <typename F>
Readings sample(F f, int n = 400) {
  Readings r;
  for (int k = 0; k < n; ++k) {
    float t = 2.5f * static_cast<float>(k);
    r.s.push_back(t);
    r.v.push_back(static_cast<float>(f(t, k)));
  }
  return r;
}

avstream_fit fit(const Readings& r) { return avstream_fit_readings(r.s.data(), r.v.data(), static_cast<int>(r.s.size())); }

TEST(ClockFit, SmoothChannelFitsItsLineAndBlockwiseOneIsCompressedIntoRuns) {
  // Every reading distinct: one sample per run, slope 1.
  avstream_fit f = fit(sample([](float t, int) { return 1000.0 + t; }));
  EXPECT_EQ(f.runs, 400);
  EXPECT_NEAR(f.slope, 1.0, 1e-9);
  EXPECT_NEAR(f.intercept, 0.0, 1e-6);
  // The line is fitted from the second reading on, but measured from the
  // first sampling: the last reading lies one sampling interval off it.
  EXPECT_NEAR(f.error, 2.5, 1e-6);
  // An audio-like time that moves in 10 ms steps: runs of 4 equal readings.
  f = fit(sample([](float, int k) { return 10.0 * (k / 4); }));
  EXPECT_EQ(f.runs, 100);
  EXPECT_NEAR(f.slope, 1.0, 1e-9);
  EXPECT_TRUE(std::isfinite(f.error));
}

TEST(ClockFit, TooFewRunsGiveNoNumber) {
  EXPECT_TRUE(std::isnan(fit(sample([](float, int) { return 42.0; })).error));
  // Three runs leave one after dropping the first and last: still 0/0.
  EXPECT_TRUE(std::isnan(fit(sample([](float, int k) { return k < 100 ? 1.0 : k < 300 ? 2.0 : 3.0; })).error));
  // Wall-clock milliseconds since 1970 do not survive single precision.
  EXPECT_TRUE(std::isnan(fit(sample([](float t, int) { return 1.7e12 + t; })).error));
}

TEST(ClockMaster, SmallestErrorWinsAndTiesOrNoNumberGoToTheLater) {
  const struct {
    std::vector<double> errors;
    int master;
  } cases[] = {
      {{3.0, 1.0, 2.0}, 1}, {{1.0, 1.0, 2.0}, 1}, {{NAN}, 0},
      // NaN takes over, and a NaN best is replaced by whatever follows.
      {{1.0, NAN, 5.0}, 2}, {{NAN, 7.0}, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(avstream_choose_master(c.errors.data(), static_cast<int>(c.errors.size())), c.master) << c.master;
}

}  // namespace
