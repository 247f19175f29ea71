// Shell commands run by the package tests: what a user types, with its
// exit status and everything it printed.
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

struct Shell {
  int status = -1;
  std::string output;
};

// Runs `command` in bash with standard error joined to standard output.
inline Shell shell(const std::string& command) {
  Shell result;
  std::string quoted;
  for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  if (FILE* pipe = popen(("bash -c '" + quoted + "' 2>&1").c_str(), "r")) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
    int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  return result;
}

// Sanitizer flags do not travel with an installed library: a piece built
// outside the tree links it without them. Packaging is checked in the
// normal build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
