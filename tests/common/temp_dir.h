// A private directory under /tmp for a test's files, removed with its contents.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char name[] = "/tmp/zeal-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string File(const std::string& relative) const { return (path / relative).string(); }
  // Writes `bytes` to `relative` (making its folders), optionally setting its mtime.
  std::string Write(const std::string& relative, const std::string& bytes, time_t mtime = 0) const {
    std::filesystem::path file = path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    if (mtime != 0) {
      struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
      utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
    return file.string();
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(path / relative, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};
