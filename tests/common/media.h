// Rendered films and sound read back with the ffmpeg tools, and small file
// systems of a test's own to write them onto.
#pragma once
#include <sys/mount.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

// What a command prints on standard output.
inline std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    pclose(pipe);
  }
  return out;
}

// What each stream is, one line per stream: codec, size and rate.
inline std::string streams(const std::string& path) {
  return run("ffprobe -v error -show_entries stream=codec_name,width,height,r_frame_rate,"
             "sample_rate,channels -of csv=p=0 '" + path + "'");
}

// Where each stream ends on the film's time line, in whole milliseconds.
inline std::vector<long> ends(const std::string& path) {
  std::istringstream lines(run("ffprobe -v error -show_entries stream=start_time,duration "
                               "-of csv=p=0 '" + path + "'"));
  std::vector<long> out;
  double start, duration;
  char comma;
  while (lines >> start >> comma >> duration) out.push_back(std::lround(1000 * (start + duration)));
  return out;
}

// Interleaved float samples of a sound file or a film's sound, decoded and
// placed by their time stamps: the sound encoder's priming, which comes
// before time 0, is left out as a player leaves it out.
inline std::vector<float> decoded_sound(const std::string& path) {
  std::string pcm = run("ffmpeg -v error -copyts -i '" + path +
                        "' -map 0:a -af 'aresample=async=1:min_hard_comp=0:first_pts=0' -f f32le -");
  std::vector<float> samples(pcm.size() / 4);
  memcpy(samples.data(), pcm.data(), samples.size() * 4);
  return samples;
}

// A file system of the test's own, let go at the end; mounting needs root.
struct Mount {
  std::string dir;
  bool mounted = false;
  Mount(const std::string& path, unsigned long flags, const char* options) : dir(path) {
    std::filesystem::create_directories(dir);
    mounted = mount("tmpfs", dir.c_str(), "tmpfs", flags, options) == 0;
  }
  ~Mount() {
    if (mounted) umount(dir.c_str());
  }
};
