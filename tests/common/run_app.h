// Whole-program tests in this process: app_run with a command line and its
// standard output captured.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <zeal/app/app.h>

// app_run(args, flags, handler); what it printed goes to `output`.
inline int run_app(std::vector<std::string> args, uint32_t flags, AppHandler handler, std::string* output) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  int status = app_run(static_cast<int>(args.size()), argv.data(), flags, handler);
  *output = testing::internal::GetCapturedStdout();
  return status;
}

// The lines of `text` that begin with `word` and a space, without them.
inline std::vector<std::string> lines_starting(const std::string& text, const std::string& word) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(word + " ", 0) == 0) out.push_back(line.substr(word.size() + 1));
  return out;
}
