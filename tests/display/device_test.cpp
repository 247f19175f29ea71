// Window size fitting, aspect reduction, viewports and the device life cycle.
#include <gtest/gtest.h>

#include <cstring>

#include "arch/opengl/display.h"
#include "display_fixture.h"

TEST(DisplaySize, FitsTheDrawnAreaInsideTheScreen) {
  display_view v = display_fit_view(16, 9, 1920, 1200);
  EXPECT_EQ(v.width, 1280);
  EXPECT_EQ(v.height, 720);
  EXPECT_EQ(v.numerator, 16);
  EXPECT_EQ(v.denominator, 9);

  // 1280 is not less than the screen width: one shrink by 1/sqrt 2.
  v = display_fit_view(16, 9, 1280, 800);
  EXPECT_EQ(v.height, 509);
  EXPECT_EQ(v.width, 904);

  // A zero part means 1280 wide before fitting: 1280 x 720 is 16 : 9.
  v = display_fit_view(0, 9, 4000, 4000);
  EXPECT_EQ(v.width, 1280);
  EXPECT_EQ(v.height, 720);
  EXPECT_EQ(v.numerator, 16);
  EXPECT_EQ(v.denominator, 9);
  v = display_fit_view(16, 0, 4000, 4000);
  EXPECT_EQ(v.width, 1280);

  v = display_fit_view(4, 3, 1920, 1080);
  EXPECT_EQ(v.width, 960);
  EXPECT_EQ(v.height, 720);
}

TEST(DisplaySize, ReducesAspectRatios) {
  int32_t n = 0, d = 0;
  display_aspect_reduce(21, 9, &n, &d);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(d, 3);
  display_aspect_reduce(16, 9, &n, &d);
  EXPECT_EQ(n, 16);
  EXPECT_EQ(d, 9);
  display_aspect_reduce(4, 3, &n, &d);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(d, 3);
  display_aspect_reduce(16, 10, &n, &d);
  EXPECT_EQ(n, 16);
  EXPECT_EQ(d, 10);
  // No small denominator fits: the ratio stays as given.
  display_aspect_reduce(1000, 7, &n, &d);
  EXPECT_EQ(n, 1000);
  EXPECT_EQ(d, 7);
}

TEST(DisplaySize, BoxesTheViewportOnlyInGameMode) {
  int32_t vp[4];
  display_viewport_for(1, 1920, 1200, 16, 9, vp);
  EXPECT_EQ(vp[0], 0);
  EXPECT_EQ(vp[1], 60);
  EXPECT_EQ(vp[2], 1920);
  EXPECT_EQ(vp[3], 1080);
  // Pillar box: a 4 : 3 picture on a wide screen.
  display_viewport_for(1, 1920, 1080, 4, 3, vp);
  EXPECT_EQ(vp[0], 240);
  EXPECT_EQ(vp[1], 0);
  EXPECT_EQ(vp[2], 1440);
  EXPECT_EQ(vp[3], 1080);
  display_viewport_for(0, 1920, 1200, 16, 9, vp);
  EXPECT_EQ(vp[0], 0);
  EXPECT_EQ(vp[1], 0);
  EXPECT_EQ(vp[2], 1920);
  EXPECT_EQ(vp[3], 1200);
}

TEST(DisplayDevice, ListsClaimsAndCommits) {
  display_io_handle handle{};
  display_io_make(&handle);
  ASSERT_NE(handle.io, nullptr);
  EXPECT_STREQ(handle.title, "");
  EXPECT_DOUBLE_EQ(handle.io->period, 1000.0 / 30.0);
  EXPECT_EQ(handle.io->stats.display_min, 1e20);

  display_device** list = nullptr;
  display_io_define(&handle, &list);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list[0], nullptr);
  ASSERT_NE(list[1], nullptr);
  EXPECT_EQ(list[2], nullptr);
  display_device* realtime = list[0];
  display_device* offline = list[1];
  EXPECT_TRUE(display_device_is_realtime(realtime));
  EXPECT_FALSE(display_device_is_realtime(offline));
  EXPECT_EQ(realtime->io, handle.io);
  EXPECT_EQ(offline->io, handle.io);
  EXPECT_GT(realtime->screen_width, 0);

  // Only the offline device takes a file prefix; a second replaces the first.
  EXPECT_EQ(display_device_command(realtime, "set-file", "out/a"), 0);
  EXPECT_EQ(realtime->file_prefix.size, 0);
  display_device_command(offline, "set-file", "out/first");
  display_device_command(offline, "set-file", "out/b");
  EXPECT_STREQ(static_cast<const char*>(offline->file_prefix.data), "out/b");
  display_device_command(offline, "set-file", "");
  EXPECT_EQ(offline->file_prefix.size, 0);
  EXPECT_EQ(display_device_command(offline, "no-such-command", "x"), 0);

  display_device_prefer_fullscreen(offline, 1);
  EXPECT_EQ(offline->fullscreen_wanted, 0u);
  display_device_prefer_fullscreen(realtime, 1);
  EXPECT_EQ(realtime->fullscreen_wanted, 1u);
  display_device_prefer_fullscreen(realtime, 0);

  EXPECT_EQ(display_device_set_aspect_ratio(realtime, 21, 9), 7);
  EXPECT_EQ(handle.io->aspect_numerator, 7);
  EXPECT_EQ(handle.io->aspect_denominator, 3);

  display_io_commit(&handle, realtime);
  EXPECT_EQ(handle.io->device, realtime);
  EXPECT_EQ(realtime->available, 0u);
  EXPECT_EQ(offline->io, nullptr);
  EXPECT_EQ(handle.io->define_list, nullptr);
  EXPECT_EQ(handle.io->frames[0].none, 1u);
  EXPECT_EQ(handle.io->frames[1].start, handle.io->frames[0].start);

  // A second display io is offered only what is still free.
  display_io_handle other{};
  display_io_make(&other);
  display_io_define(&other, &list);
  for (int i = 0; list[i] != nullptr; ++i) EXPECT_NE(list[i], realtime);
  display_io_commit(&other, nullptr);
  EXPECT_EQ(other.io->device, nullptr);
  display_io_teardown(&other);
  display_io_teardown(&handle);
  EXPECT_EQ(handle.io, nullptr);
}

TEST(DisplayDevice, StreamNameRegistersTheChannel) {
  display_io_handle handle{};
  display_device* device = display_test_commit(&handle, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(display_device_command(device, "stream_name", "display-test"), 1);
  EXPECT_NE(handle.io->channel, nullptr);
  display_io_teardown(&handle);
}

TEST(DisplayWindowTest, OpensAWindowOfTheFittedSize) {
  testing::internal::CaptureStdout();
  {
    DisplayWindow w;
    EXPECT_GT(w.io->window, 0);
    EXPECT_EQ(w.io->view_width, 1280);
    EXPECT_EQ(w.io->view_height, 720);
    EXPECT_GE(w.io->green_bits, 8);
    EXPECT_EQ(w.io->frames[0].context, w.io->frames[1].context);
    EXPECT_EQ(display_context_get_device(w.io->frames[0].context), w.device);
    EXPECT_EQ(display_frame_device(&w.io->frames[1]), w.device);
    EXPECT_EQ(display_device_bpp(w.device), 32);
    EXPECT_FLOAT_EQ(display_device_pixel_ratio(w.device), 1280.0f / 720.0f);
    // A double-buffered window presents one period late.
    EXPECT_DOUBLE_EQ(w.io->presentation_offset, w.io->period);
  }
  std::string out = captured_stdout();
  EXPECT_NE(out.find("trying out: 1280x720:32.. ko\n"), std::string::npos) << out;
  EXPECT_NE(out.find("trying out: 640x480:32.. ko\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Status: Using GLEW "), std::string::npos) << out;
}

TEST(DisplayWindowTest, FullScreenWishFallsBackToAWindow) {
  // Xvfb offers no game mode: the wish ends in a window and is cleared.
  display_io_handle handle{};
  display_device* device = display_test_commit(&handle, 0);
  display_device_set_aspect_ratio(device, 16, 9);
  display_device_prefer_fullscreen(device, 1);
  testing::internal::CaptureStdout();
  display_io_open(&handle);
  captured_stdout();
  EXPECT_GT(handle.io->window, 0);
  EXPECT_EQ(device->fullscreen_wanted, 0u);
  glut_delete_window(&handle, 0);
  display_io_teardown(&handle);
}
