// Compares two renderings frame by frame: the numbered frames a diskwriter
// wrote into two directories, read as RGB.
//
//   compare-frames BEFORE_DIR AFTER_DIR
//
// Prints how many frames were compared, how many differ, the largest
// difference of one channel, and the worst PSNR (RGB, peak 255) with its
// frame. Status 0 when both hold the same frames, 1 when a frame is missing
// or cannot be read.
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace {

struct pixels {
  std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> data{nullptr, stbi_image_free};
  int width = 0, height = 0;
};

bool load(const std::string& path, pixels* p) {
  int components = 0;
  p->data.reset(stbi_load(path.c_str(), &p->width, &p->height, &components, 3));
  return p->data != nullptr;
}

std::vector<std::string> frames_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tga") == 0) names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]) == "--help") {
    fprintf(argc == 2 ? stdout : stderr, "usage: compare-frames BEFORE_DIR AFTER_DIR\n");
    return argc == 2 ? 0 : 2;
  }
  const std::string a_dir = argv[1], b_dir = argv[2];
  std::vector<std::string> names = frames_in(a_dir);
  if (names.empty()) {
    fprintf(stderr, "ERROR: no frames (.tga) in \"%s\"\n", a_dir.c_str());
    return 1;
  }
  if (frames_in(b_dir) != names) {
    fprintf(stderr, "ERROR: \"%s\" and \"%s\" do not hold the same frames\n", a_dir.c_str(), b_dir.c_str());
    return 1;
  }
  long differing = 0, pixels_differing = 0;
  int largest = 0;
  double worst_psnr = INFINITY;
  std::string worst_frame = "-";
  for (const std::string& name : names) {
    pixels a, b;
    if (!load(a_dir + "/" + name, &a) || !load(b_dir + "/" + name, &b)) {
      fprintf(stderr, "ERROR: cannot read frame \"%s\"\n", name.c_str());
      return 1;
    }
    if (a.width != b.width || a.height != b.height) {
      fprintf(stderr, "ERROR: frame \"%s\" is %dx%d in one and %dx%d in the other\n", name.c_str(), a.width,
              a.height, b.width, b.height);
      return 1;
    }
    size_t n = static_cast<size_t>(a.width) * a.height;
    double squares = 0;
    long here = 0;
    for (size_t i = 0; i < n; ++i) {
      bool differs = false;
      for (int c = 0; c < 3; ++c) {
        int d = std::abs(a.data.get()[3 * i + c] - b.data.get()[3 * i + c]);
        if (d == 0) continue;
        differs = true;
        largest = std::max(largest, d);
        squares += static_cast<double>(d) * d;
      }
      here += differs;
    }
    if (here == 0) continue;
    ++differing;
    pixels_differing += here;
    double psnr = 10.0 * std::log10(255.0 * 255.0 / (squares / (3.0 * static_cast<double>(n))));
    if (psnr < worst_psnr) worst_psnr = psnr, worst_frame = name;
  }
  printf("frames compared: %zu\nframes that differ: %ld\npixels that differ: %ld\n", names.size(), differing,
         pixels_differing);
  printf("largest difference: %d level(s)\n", largest);
  if (differing > 0)
    printf("worst PSNR: %.2f dB (%s)\n", worst_psnr, worst_frame.c_str());
  else
    printf("worst PSNR: identical\n");
  return 0;
}
