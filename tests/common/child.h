// Runs a function (usually app_run) in a forked child with its standard
// output captured, so that a test can watch a whole program end.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "base/thread.h"

// `body` runs in the child, `meanwhile(pid)` in the parent; then the child has
// `ms` to end. Returns its exit status (128 + signal when a signal ended it,
// -1 when it had to be killed) and, in `output`, what it printed.
template <class Body, class Meanwhile>
int child_run(Body body, double ms, std::string* output, Meanwhile meanwhile) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -2;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    close(pipefd[0]);
    close(pipefd[1]);
    body();
    _exit(127);
  }
  close(pipefd[1]);
  if (pid < 0) {
    close(pipefd[0]);
    return -2;
  }
  meanwhile(pid);
  std::string text;
  double deadline = get_milliseconds() + ms;
  for (;;) {
    pollfd p{pipefd[0], POLLIN, 0};
    int left = static_cast<int>(deadline - get_milliseconds());
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    char buffer[512];
    ssize_t n = read(pipefd[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(pipefd[0]);
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && get_milliseconds() < deadline) inthread_sleep(10);
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (output != nullptr) *output = text;
  if (ended == 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// app_run(args, flags, handler) in a child; see child_run.
template <class Meanwhile>
int app_child(std::vector<std::string> args, uint32_t flags, AppHandler handler, double ms,
              std::string* output, Meanwhile meanwhile) {
  auto body = [&] {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    app_run(static_cast<int>(args.size()), argv.data(), flags, handler);
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
