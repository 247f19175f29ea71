// Files that tests make and read back: whole files, private directories,
// numbered TGA frames and the pictures in them.
#pragma once
#include <fcntl.h>
#include <stb_image.h>
#include <sys/stat.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

inline std::string read_file(const std::string& path) {
  std::string text;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
    fclose(f);
  }
  return text;
}

// A private directory under /tmp, removed with its contents.
struct TempDir {
  std::string path;
  TempDir() {
    char pattern[] = "/tmp/zeal-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::string File(const std::string& relative) const { return path + "/" + relative; }
  // Writes `bytes` to `relative` (making its folders), optionally setting its mtime.
  std::string Write(const std::string& relative, const std::string& bytes, time_t mtime = 0) const {
    std::filesystem::path file = std::filesystem::path(path) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    if (mtime != 0) {
      struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
      utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
    return file.string();
  }
  std::string Read(const std::string& relative) const { return read_file(File(relative)); }
};

// The sorted numbers of the files named <prefix>-NNNNNNNN.tga in `dir`.
inline std::vector<int> numbered_frames(const std::string& dir, const std::string& prefix) {
  std::vector<int> numbers;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
    std::string name = entry.path().filename().string();
    size_t digits = prefix.size() + 1;
    bool frame = name.size() == digits + 12 && name.compare(0, digits, prefix + "-") == 0 &&
                 name.compare(digits + 8, 4, ".tga") == 0 &&
                 name.find_first_not_of("0123456789", digits) == digits + 8;
    if (frame) numbers.push_back(std::stoi(name.substr(digits, 8)));
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

inline std::string frame_name(const std::string& dir, const std::string& prefix, int number) {
  char digits[32];
  snprintf(digits, sizeof digits, "-%08d.tga", number);
  return dir + "/" + prefix + digits;
}

// An image file as RGBA bytes, row 0 at the top; empty if unreadable.
struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgba;
  explicit Picture(const std::string& path) {
    int n = 0;
    if (unsigned char* data = stbi_load(path.c_str(), &width, &height, &n, 4)) {
      rgba.assign(data, data + static_cast<size_t>(width) * height * 4);
      stbi_image_free(data);
    }
  }
  bool loaded() const { return !rgba.empty(); }
  const unsigned char* at(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
  uint32_t rgb(int x, int y) const {
    const unsigned char* p = at(x, y);
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  }
};
