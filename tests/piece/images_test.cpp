// The piece's images found through ZEAL_RPATH: PNG files of every colour
// type load as 8-bit RGBA; anything else named "*.png" (the hostile inputs, a
// cut or forged PNG) leaves an empty record and a warning naming the file; a
// missing file leaves an empty record quietly.
#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include <zeal/arch/opengl/image_png.h>
#include "common/test_files.h"
#include "piece/scene.h"

namespace {

using Rgba = std::array<unsigned char, 4>;

// A 2 x 1 PNG of `format` from `pixels`, written by libpng itself.
std::string Png(uint32_t format, std::vector<unsigned char> pixels) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = 2;
  png.height = 1;
  png.format = format;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&png, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string bytes(size, '\0');
  EXPECT_TRUE(png_image_write_to_memory(&png, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
  bytes.resize(size);
  return bytes;
}

}  // namespace

TEST(Images, PngFilesLoadAndEverythingElseIsRefusedWithAWarning) {
  TempDir dir;
  std::string rpath = dir.path + ":" + ZEAL_SOURCE_DIR + "/resources";
  setenv("ZEAL_RPATH", rpath.c_str(), 1);
  const std::string hostile = std::string(ZEAL_SOURCE_DIR) + "/tests/data/hostile/";
  const std::string seeds = std::string(ZEAL_SOURCE_DIR) + "/fuzz/corpus/png_image/";
  std::string fish = read_file(std::string(ZEAL_SOURCE_DIR) + "/resources/dat/fish1.png");
  const struct {
    std::string name, bytes;  // bytes written to dat/<name>; none: a resource or a missing file
    int width;                // 0: refused
    Rgba first;
  } cases[] = {
      {"pal1.png", "", 64, {}},
      {"gray.png", Png(PNG_FORMAT_GRAY, {0x40, 0x41}), 2, {0x40, 0x40, 0x40, 0xFF}},
      {"ga.png", Png(PNG_FORMAT_GA, {0x80, 0x40, 0, 0}), 2, {0x80, 0x80, 0x80, 0x40}},
      {"rgb.png", Png(PNG_FORMAT_RGB, {10, 20, 30, 40, 50, 60}), 2, {10, 20, 30, 0xFF}},
      {"rgba.png", Png(PNG_FORMAT_RGBA, {1, 2, 3, 4, 5, 6, 7, 8}), 2, {1, 2, 3, 4}},
      {"absent.png", "", 0, {}},
      {"cut.png", fish.substr(0, fish.size() / 2), 0, {}},
      {"noise.png", std::string(300, '\x5a'), 0, {}},
      {"wide.png", read_file(seeds + "forged-wide.png"), 0, {}},  // 16385 x 1
      {"huge.png", read_file(seeds + "forged-huge.png"), 0, {}},  // 16384 x 4097
      {"short.png", read_file(seeds + "forged-short.png"), 0, {}},  // rows missing
      {"pnm16.png", read_file(hostile + "pnm16-overread.ppm"), 0, {}},
      {"jpeg.png", read_file(hostile + "jpeg-bad-huffman.jpg"), 0, {}},
      {"pgm.png", read_file(hostile + "pnm-size-overflow.pgm"), 0, {}},
      {"gif.png", read_file(hostile + "gif-huge-alloc.gif"), 0, {}},
      {"zero.png", read_file(hostile + "pnm-height-zero.ppm"), 0, {}},
      {"ogg.png", read_file(hostile + "ogg-small-valid.ogg"), 0, {}},
  };
  for (const auto& c : cases) {
    std::string file = c.bytes.empty() ? "" : dir.Write("dat/" + c.name, c.bytes);
    testing::internal::CaptureStdout();
    image img = scene_load_image(("virtual://root/dat/" + c.name).c_str());
    std::string printed = testing::internal::GetCapturedStdout();
    SCOPED_TRACE(c.name);
    if (c.width == 0) {
      EXPECT_TRUE(img.pixels == nullptr && img.kind == IMAGE_KIND_NONE && img.width == 0);
      // A missing file is not worth a line; a bad one names itself.
      EXPECT_EQ(printed.rfind("WARNING: " + file + ": ", 0), file.empty() ? std::string::npos : 0u) << printed;
      continue;
    }
    EXPECT_EQ(printed, "");
    ASSERT_NE(img.pixels, nullptr);
    EXPECT_EQ((std::vector<int>{img.kind, img.width, img.components, img.stride, img.owned, img.height >= 1}),
              (std::vector<int>{IMAGE_KIND_U8, c.width, 4, c.width, 1, 1}));
    const auto* p = static_cast<const unsigned char*>(img.pixels);
    EXPECT_TRUE(c.bytes.empty() || (Rgba{p[0], p[1], p[2], p[3]} == c.first));
    image_free(&img);
    EXPECT_EQ(img.pixels, nullptr);
  }
  unsetenv("ZEAL_RPATH");
}
