// Window size fitting, aspect reduction, viewports and the device life cycle.
#include <gtest/gtest.h>

#include <vector>

#include <zeal/arch/opengl/display.h>
#include "display_fixture.h"

TEST(DisplaySize, FitsReducesAndBoxes) {
  // aspect, screen -> window size and reduced aspect
  const struct { int32_t n, d, sw, sh, w, h, rn, rd; } fits[] = {
      {16, 9, 1920, 1200, 1280, 720, 16, 9},
      {16, 9, 1280, 800, 904, 509, 0, 0},  // 1280 is not less than the screen: one shrink
      {0, 9, 4000, 4000, 1280, 720, 16, 9},  // a zero part: 1280 wide before fitting
      {16, 0, 4000, 4000, 1280, 720, 16, 9},
      {4, 3, 1920, 1080, 960, 720, 0, 0},
  };
  for (const auto& f : fits) {
    display_view v = display_fit_view(f.n, f.d, f.sw, f.sh);
    EXPECT_EQ(v.width, f.w) << f.n << ":" << f.d << " on " << f.sw << "x" << f.sh;
    EXPECT_EQ(v.height, f.h) << f.n << ":" << f.d << " on " << f.sw << "x" << f.sh;
    if (f.rn == 0) continue;
    EXPECT_EQ(v.numerator, f.rn) << f.n << ":" << f.d;
    EXPECT_EQ(v.denominator, f.rd) << f.n << ":" << f.d;
  }
  // No small denominator fits 1000 : 7: it stays as given.
  const int32_t ratios[][4] = {{21, 9, 7, 3}, {16, 9, 16, 9}, {4, 3, 4, 3}, {16, 10, 16, 10},
                               {1000, 7, 1000, 7}};
  for (const auto& r : ratios) {
    int32_t n = 0, d = 0;
    display_aspect_reduce(r[0], r[1], &n, &d);
    EXPECT_EQ(n, r[2]) << r[0] << ":" << r[1];
    EXPECT_EQ(d, r[3]) << r[0] << ":" << r[1];
  }
  // game mode, screen, aspect -> viewport: letter box, pillar box, none in a window
  const int32_t boxes[][9] = {{1, 1920, 1200, 16, 9, 0, 60, 1920, 1080},
                              {1, 1920, 1080, 4, 3, 240, 0, 1440, 1080},
                              {0, 1920, 1200, 16, 9, 0, 0, 1920, 1200}};
  for (const auto& b : boxes) {
    int32_t vp[4];
    display_viewport_for(b[0], b[1], b[2], b[3], b[4], vp);
    EXPECT_EQ(std::vector<int32_t>(vp, vp + 4), std::vector<int32_t>(b + 5, b + 9)) << b[3] << ":" << b[4];
  }
}

TEST(DisplayWindowTest, OpensAWindowOfTheFittedSize) {
  testing::internal::CaptureStdout();
  {
    DisplayWindow w;
    EXPECT_EQ(std::pair(w.io->view_width, w.io->view_height), std::pair(1280, 720));
    EXPECT_GE(w.io->green_bits, 8);
    // A double-buffered window presents one period late.
    EXPECT_DOUBLE_EQ(w.io->presentation_offset, w.io->period);
  }
  std::string out = captured_stdout();
  for (const char* line : {"trying out: 1280x720:32.. ko\n", "trying out: 640x480:32.. ko\n", "Status: Using GLEW "})
    EXPECT_NE(out.find(line), std::string::npos) << out;
}
