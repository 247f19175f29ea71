#include <zeal/base/directory.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

std::string directory_make(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) return error.message();
  if (!std::filesystem::is_directory(path, error)) return std::strerror(ENOTDIR);
  return "";
}

std::string directory_writable(const std::string& path) {
  // Trying is the only sure test: permissions say nothing of a read-only
  // mount, and nothing at all to root.
  std::string probe = path + "/.zeal-write-test-" + std::to_string(getpid());
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  unlink(probe.c_str());
  return "";
}
