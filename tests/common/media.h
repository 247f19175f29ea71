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

// The luma of frame `n` of a film (every frame of a picture file when n < 0),
// taken from RGB as decoded: films are tagged BT.709 and a picture has no
// colour space, so both come to RGB first and one weighting applies to both.
inline std::vector<float> luma(const std::string& path, int n = -1) {
  std::string select = n < 0 ? "" : " -vf \"select=eq(n\\," + std::to_string(n) + ")\" -frames:v 1";
  std::string rgb = run("ffmpeg -v error -i '" + path + "'" + select + " -pix_fmt rgb24 -f rawvideo -");
  std::vector<float> y(rgb.size() / 3);
  for (size_t i = 0; i < y.size(); ++i) {
    auto c = [&](int k) { return static_cast<float>(static_cast<unsigned char>(rgb[3 * i + k])); };
    y[i] = 0.2126f * c(0) + 0.7152f * c(1) + 0.0722f * c(2);
  }
  return y;
}

inline double level(float v) { return v; }
inline double level(char v) { return static_cast<unsigned char>(v); }

// Peak signal to noise ratio of two pictures of one size (lumas, or bytes as
// decoded), in dB; 0 when they differ in size.
template <class Picture>
double psnr(const Picture& a, const Picture& b) {
  if (a.empty() || a.size() != b.size()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (level(a[i]) - level(b[i])) * (level(a[i]) - level(b[i]));
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

// How alike two sounds are over samples [from, to): 1 for the same
// waveform, near 0 for unrelated ones or a shift.
inline double likeness(const std::vector<float>& a, const std::vector<float>& b, size_t from, size_t to) {
  double dot = 0, aa = 0, bb = 0;
  for (size_t i = from; i < to && i < a.size() && i < b.size(); ++i) {
    dot += a[i] * b[i];
    aa += a[i] * a[i];
    bb += b[i] * b[i];
  }
  return aa * bb > 0 ? dot / std::sqrt(aa * bb) : 0;
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
