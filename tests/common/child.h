// Runs a function (usually app_run) in a forked child with its standard
// output captured, so that a test can watch a whole program end.
#pragma once
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "common/whole_program.h"

// `body` runs in the child, `meanwhile(pid)` in the parent; then the child has
// `ms` to end. Returns its exit status (128 + signal when a signal ended it,
// -1 when it had to be killed) and, in `output`, what it printed.
template <class Body, class Meanwhile>
int child_run(Body body, double ms, std::string* output, Meanwhile meanwhile) {
  Program child;
  if (!child.run(body)) return -2;
  meanwhile(child.pid);
  int status = child.wait_exit(ms);
  if (output != nullptr) *output = child.output;
  return status;
}

// app_run(args, flags, handler) in a child; see child_run.
template <class Meanwhile>
int app_child(std::vector<std::string> args, uint32_t flags, AppHandler handler, double ms,
              std::string* output, Meanwhile meanwhile) {
  auto body = [&] {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    exit_child(app_run(static_cast<int>(args.size()), argv.data(), flags, handler));
  };
  return child_run(body, ms, output, meanwhile);
}

inline int app_child(std::vector<std::string> args, uint32_t flags, AppHandler handler, double ms,
                     std::string* output) {
  return app_child(std::move(args), flags, handler, ms, output, [](pid_t) {});
}

// The lines of `text` that begin with `word` and a space, without them.
inline std::vector<std::string> lines_starting(const std::string& text, const std::string& word) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(word + " ", 0) == 0) out.push_back(line.substr(word.size() + 1));
  return out;
}
