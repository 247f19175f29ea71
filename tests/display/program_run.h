// Runs a built program as a child process with its standard output
// captured, and helps send it keys through the virtual X server.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/thread.h"

struct Program {
  pid_t pid = -1;
  int out = -1;
  std::string output;

  // `env` holds "NAME=value" texts added to the child's environment.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return false;
    fflush(nullptr);
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(pipefd[1], STDOUT_FILENO);
      close(pipefd[0]);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(pipefd[1]);
    out = pipefd[0];
    return true;
  }

  // Reads what the child printed for up to `ms`.
  void read_for(double ms) {
    double deadline = get_milliseconds() + ms;
    while (out >= 0) {
      int left = static_cast<int>(deadline - get_milliseconds());
      pollfd p{out, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) return;
      char buffer[1024];
      ssize_t n = read(out, buffer, sizeof buffer);
      if (n <= 0) {
        close(out);
        out = -1;
        return;
      }
      output.append(buffer, static_cast<size_t>(n));
    }
  }

  // Waits until `text` has been printed, for up to `ms`.
  bool wait_for_text(const std::string& text, double ms) {
    double deadline = get_milliseconds() + ms;
    while (output.find(text) == std::string::npos && get_milliseconds() < deadline) read_for(50);
    return output.find(text) != std::string::npos;
  }

  // The exit status, or -1 if the child still runs after `ms` (it is then killed).
  int wait_exit(double ms) {
    double deadline = get_milliseconds() + ms;
    int status = 0;
    for (;;) {
      read_for(20);
      pid_t ended = waitpid(pid, &status, WNOHANG);
      if (ended == pid) break;
      if (get_milliseconds() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
        return -1;
      }
    }
    pid = -1;
    read_for(100);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  bool running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

  ~Program() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
};

// Sends `keys` (xdotool names) to the display windows on the virtual X
// server: the windows the framework opens carry an empty title. Each test
// runs alone on its server, so these are the child's.
inline bool send_keys(const std::string& keys) {
  std::string command =
      "ws=$(xdotool search --onlyvisible --name '^$') || exit 1; for w in $ws; do "
      "xdotool key --window $w " + keys + " || exit 1; done";
  return system(command.c_str()) == 0;
}

inline bool jack_running() {
  return getenv("JACK_DEFAULT_SERVER") != nullptr && system("jack_lsp >/dev/null 2>&1") == 0;
}
