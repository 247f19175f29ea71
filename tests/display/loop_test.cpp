// The display loop driven call by call with a controllable clock.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <string>
#include <utility>

#include <zeal/arch/opengl/capture.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/display_loop.h>
#include "display_fixture.h"
#include <zeal/io/avstream.h>

namespace {

double fake_now;
double fake_clock() { return fake_now; }

struct Drawn {
  int calls = 0;
  double last_time = -1.0;
};

// Draws the top half red and the bottom half blue.
void draw(void* user, display_frame* frame) {
  auto* drawn = static_cast<Drawn*>(user);
  drawn->calls += 1;
  drawn->last_time = display_frame_in_ms(frame);
  display_frame_define(frame, nullptr);
  display_io* io = frame->context->device->io;
  glViewport(0, 0, io->view_width, io->view_height);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, io->view_height / 2, io->view_width, io->view_height - io->view_height / 2);
  glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  display_frame_commit(frame);
}

struct Loop : testing::Test {
  void SetUp() override {
    fake_now = 100000.0;
    testing::internal::CaptureStdout();
  }
  void TearDown() override { captured_stdout(); }
};

}  // namespace

TEST_F(Loop, PacesAtNinetyFivePercentOfAPeriod) {
  Drawn drawn;
  DisplayWindow w(0, nullptr, draw, &drawn);
  w.io->clock = fake_clock;
  display_loop_step(&w.handle);  // the first call presents at once
  EXPECT_EQ(std::pair(w.io->frame_counter, drawn.calls), std::pair(1, 1));
  EXPECT_DOUBLE_EQ(drawn.last_time, w.io->presentation_offset);

  fake_now += 31.0;
  display_loop_step(&w.handle);
  EXPECT_EQ(std::pair(w.io->frame_counter, drawn.calls), std::pair(1, 1));

  fake_now += 1.0;
  display_loop_step(&w.handle);
  EXPECT_EQ(std::pair(w.io->frame_counter, drawn.calls), std::pair(2, 2));
  EXPECT_DOUBLE_EQ(drawn.last_time, w.io->presentation_offset + 32.0);
  EXPECT_DOUBLE_EQ(w.io->frames[w.io->current].shown_at, 32.0);
  EXPECT_EQ(w.io->stats.counted, 2);
}

TEST_F(Loop, WithoutARollingClockFramesAreCountedButNotDrawn) {
  Drawn drawn;
  DisplayWindow w(0, nullptr, draw, &drawn);
  w.io->clock = fake_clock;
  // A channel whose clock was never started does not roll.
  display_device_command(w.device, "stream_name", "display-not-rolling");
  ASSERT_NE(w.io->channel, nullptr);
  ASSERT_FALSE(avstream_is_rolling(w.io->channel));
  for (int i = 0; i < 3; ++i) {
    display_loop_step(&w.handle);
    fake_now += 34.0;
  }
  EXPECT_EQ(std::pair(drawn.calls, w.io->frame_counter), std::pair(0, 3));
  EXPECT_EQ(w.io->stats.counted, 3);
  EXPECT_EQ(w.io->frames[w.io->current].none, 1u);
  EXPECT_EQ(w.io->frames[w.io->current].time, 0.0);
}

TEST_F(Loop, TwoAltReturnsBeforeTheNextCallCauseNoSwitch) {
  Drawn drawn;
  DisplayWindow w(0, nullptr, draw, &drawn);
  w.io->clock = fake_clock;
  int window = w.io->window;
  core_keyboard_key(w.device, 13, 1);
  core_keyboard_key(w.device, 13, 1);
  display_loop_step(&w.handle);
  EXPECT_EQ(w.io->window, window);
  EXPECT_EQ(drawn.calls, 1);
  std::string out = captured_stdout();
  EXPECT_EQ(out.find("switching to"), std::string::npos) << out;
  testing::internal::CaptureStdout();

  // One flip does switch; without game mode it ends in a new window.
  core_keyboard_key(w.device, 13, 1);
  fake_now += 40.0;
  display_loop_step(&w.handle);
  out = captured_stdout();
  testing::internal::CaptureStdout();
  EXPECT_NE(out.find("switching to fullscreen mode\n"), std::string::npos) << out;
  EXPECT_EQ(w.device->fullscreen_wanted, 0u);
  EXPECT_NE(w.io->window, window);
  EXPECT_EQ(drawn.calls, 1);  // the switching frame is skipped
  fake_now += 40.0;
  display_loop_step(&w.handle);
  EXPECT_EQ(drawn.calls, 2);
}

TEST_F(Loop, OfflineFramesAreWrittenUprightWithNumberedNames) {
  TempDir dir;
  Drawn drawn;
  DisplayWindow w(1, (dir.path + "/shot").c_str(), draw, &drawn);
  w.io->clock = fake_clock;
  for (int i = 0; i < 3; ++i) display_loop_step(&w.handle);
  EXPECT_EQ(drawn.calls, 3);
  // Offline frames advance by exactly one period whatever the wall clock does.
  EXPECT_DOUBLE_EQ(drawn.last_time, 2 * w.io->period);
  capture_flush(w.io->writer);  // frames are written on the writer's thread
  EXPECT_EQ(numbered_frames(dir.path, "shot"), (std::vector<int>{0, 1, 2}));
  Picture p(frame_name(dir.path, "shot", 2));
  EXPECT_EQ((std::vector<uint32_t>{p.rgb(10, 0), p.rgb(10, 719)}), (std::vector<uint32_t>{0xFF0000u, 0x0000FFu}));
}

TEST(FrameWriter, FramesHandedOverBackToBackKeepTheirOwnPixels) {
  TempDir dir;
  const int w = 64, h = 4, frames = 6;
  image capture{IMAGE_KIND_U8, calloc(w * h, 4), w, h, 1, 4, w, 1, 1};
  frame_writer* writer = frame_writer_make(nullptr);
  for (int f = 0; f < frames; ++f) {
    // The capture's buffer changes hands each time: fill whatever it is now.
    auto* p = static_cast<unsigned char*>(capture.pixels);
    for (int i = 0; i < w * h; ++i) {
      int row = i / w;  // bottom row first, as GL reads
      p[4 * i] = static_cast<unsigned char>(f), p[4 * i + 1] = static_cast<unsigned char>(row);
      p[4 * i + 2] = 7, p[4 * i + 3] = 255;
    }
    capture_write(writer, &capture, frame_name(dir.path, "f", f).c_str());
  }
  frame_writer_destroy(writer);
  for (int f = 0; f < frames; ++f) {
    Picture q(frame_name(dir.path, "f", f));
    ASSERT_TRUE(q.loaded()) << f;
    EXPECT_EQ(q.at(0, 0)[0], f);
    EXPECT_EQ(q.at(0, 0)[1], h - 1) << "the top row comes first in the picture";
    EXPECT_EQ(q.at(w - 1, h - 1)[1], 0);
  }
  free(capture.pixels);
}
