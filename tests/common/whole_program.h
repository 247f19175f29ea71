// Whole-program tests: a program run as a child process with its output
// captured and waited for with a time limit.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zeal/base/thread.h>
#include "common/test_files.h"

struct Program {
  pid_t pid = -1;
  int out = -1;
  int status = -1;  // once ended: the exit status, 128 + the signal if killed
  std::string output;

  // Runs argv[0] with its standard output (and its errors, if asked)
  // captured; `env` holds "NAME=value" texts added to its environment (a
  // bare "NAME" takes NAME out of it).
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
             bool with_errors = false) {
    if (out >= 0) close(out);
    out = -1;
    output.clear();
    int fds[2];
    if (pipe(fds) != 0) return false;
    fflush(nullptr);
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      if (with_errors) dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      for (const std::string& e : env) {
        if (e.find('=') == std::string::npos) unsetenv(e.c_str());
        else putenv(const_cast<char*>(e.c_str()));
      }
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    return pid > 0;
  }

  // Reads what the child prints for `ms`.
  void read_for(double ms) {
    double deadline = get_milliseconds() + ms;
    for (int left; (left = static_cast<int>(deadline - get_milliseconds())) > 0;) {
      if (out < 0) {
        inthread_sleep(left);
        return;
      }
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(out, buffer, sizeof buffer);
      if (n > 0) {
        output.append(buffer, static_cast<size_t>(n));
      } else {
        close(out);
        out = -1;
      }
    }
  }

  bool wait_for_text(const std::string& text, double ms) {
    double deadline = get_milliseconds() + ms;
    while (output.find(text) == std::string::npos && get_milliseconds() < deadline) read_for(50);
    return output.find(text) != std::string::npos;
  }

  bool running() {
    int s = 0;
    if (pid > 0 && waitpid(pid, &s, WNOHANG) == pid) {
      pid = -1;
      status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
    }
    return pid > 0;
  }

  // The exit status, or -1 if the child still runs after `ms` (it is then killed).
  int wait_exit(double ms) {
    double deadline = get_milliseconds() + ms;
    while (running()) {
      if (get_milliseconds() > deadline) {
        stop();
        return -1;
      }
      read_for(20);
    }
    read_for(100);
    return status;
  }

  void stop(int signal = SIGKILL) {
    if (pid > 0) {
      kill(pid, signal);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }

  ~Program() {
    stop();
    if (out >= 0) close(out);
  }
};
