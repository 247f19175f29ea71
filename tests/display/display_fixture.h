// Helpers for display tests: a display io committed to one of its devices,
// with or without a real window under the virtual X server.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/platform_glut.h>
#include "common/test_files.h"

// Makes a display io and commits it to its device of the given kind.
inline display_device* display_test_commit(display_io_handle* handle, int offline) {
  display_io_make(handle);
  display_device** list = nullptr;
  display_io_define(handle, &list);
  display_device* chosen = nullptr;
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i)
    if (static_cast<int>(list[i]->offline) == offline) chosen = chosen ? chosen : list[i];
  display_io_commit(handle, chosen);
  return chosen;
}

// A committed display with its window open (16:9 unless told otherwise).
struct DisplayWindow {
  display_io_handle handle{};
  display_device* device = nullptr;
  display_io* io = nullptr;

  explicit DisplayWindow(int offline = 0, const char* prefix = nullptr, display_fn fn = nullptr,
                         void* user = nullptr) {
    device = display_test_commit(&handle, offline);
    io = handle.io;
    if (prefix != nullptr) display_device_command(device, "set-file", prefix);
    display_device_attach(device, fn, nullptr, nullptr, user);
    display_device_set_aspect_ratio(device, 16, 9);
    display_io_open(&handle);
  }
  ~DisplayWindow() {
    if (handle.io != nullptr) {
      glut_delete_window(&handle, 0);
      display_io_teardown(&handle);
    }
  }
};

inline std::string captured_stdout() {
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}
