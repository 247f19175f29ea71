// The piece's images found through ZEAL_RPATH: the real ones load with four
// channels; a truncated or garbage file and a missing one leave an empty
// record instead of crashing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "common/test_files.h"
#include "piece/scene.h"

TEST(Images, RealOnesLoadBrokenOnesLeaveAnEmptyRecord) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir.path + "/dat").c_str(), 0755), 0);
  std::string fish = read_file(std::string(ZEAL_SOURCE_DIR) + "/resources/dat/fish1.png");
  ASSERT_GT(fish.size(), 100u);
  auto write_file = [&](const char* name, const std::string& bytes) {
    FILE* f = fopen((dir.path + "/dat/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  };
  write_file("cut.png", fish.substr(0, fish.size() / 2));
  write_file("noise.png", std::string(300, '\x5a'));
  std::string rpath = dir.path + ":" + ZEAL_SOURCE_DIR + "/resources";
  setenv("ZEAL_RPATH", rpath.c_str(), 1);

  image palette = scene_load_image("virtual://root/dat/pal1.png");
  ASSERT_NE(palette.pixels, nullptr);
  EXPECT_EQ(palette.kind, IMAGE_KIND_U8);
  EXPECT_EQ(palette.components, 4);
  EXPECT_GT(palette.width, 0);
  EXPECT_EQ(palette.stride, palette.width);
  EXPECT_EQ(palette.owned, 1);
  free(palette.pixels);

  for (const char* name : {"virtual://root/dat/cut.png", "virtual://root/dat/noise.png",
                           "virtual://root/dat/absent.png"}) {
    image img = scene_load_image(name);
    EXPECT_EQ(img.pixels, nullptr) << name;
    EXPECT_EQ(img.kind, IMAGE_KIND_NONE) << name;
    EXPECT_EQ(img.width, 0) << name;
  }
}
