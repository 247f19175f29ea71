// Textures read back from GL: storage sizes, the fill beyond the image,
// the generated tint and particle, and the target rule.
#include <GL/glew.h>

#include <string>
#include <utility>
#include <vector>

#include <zeal/arch/opengl/image.h>
#include <zeal/arch/opengl/texture.h>
#include "gl_fixture.h"

namespace {

using Textures = GlTest;

std::vector<uint32_t> numbered_pixels(int32_t count) {
  std::vector<uint32_t> pixels(count);
  for (int32_t i = 0; i < count; ++i) pixels[i] = 0xFF000000u | static_cast<uint32_t>(i * 7919);
  return pixels;
}

image rgba_image(std::vector<uint32_t>& pixels, int32_t width, int32_t height, int32_t stride) {
  return image{IMAGE_KIND_U8, pixels.data(), width, height, 1, 4, stride, 1, 0};
}

}  // namespace

TEST_F(Textures, ImageOfAnySizeGetsPowerOfTwoStorageAndItsBox) {
  std::vector<uint32_t> pixels = numbered_pixels(100 * 50);
  image img = rgba_image(pixels, 100, 50, 100);
  texture t{};
  texture_make(&t);
  texture_fromimage(&t, &img, 0);
  ASSERT_EQ(t.made, 1u);
  EXPECT_EQ(std::pair(t.storage_width, t.storage_height), std::pair(128, 64));
  EXPECT_EQ((std::vector<float>{t.s_min, t.s_max, t.t_min, t.t_max}),
            (std::vector<float>{0.0f, 0.78125f, 0.0f, 0.78125f}));
  EXPECT_EQ(t.pixels, nullptr);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> stored = texture_words(t.name, &w, &h);
  ASSERT_EQ(w, 128);
  ASSERT_EQ(h, 64);
  // The image, then copies of the buffer's first pixels to the right, below
  // and in the corner (each laid out at its own width).
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 128; ++x) {
      int32_t row = y < 50 ? y : y - 50, width = x < 100 ? 100 : 28, column = x < 100 ? x : x - 100;
      ASSERT_EQ(stored[y * 128 + x], pixels[row * width + column]) << x << "," << y;
    }
  GLint filter = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
  EXPECT_EQ(filter, GL_LINEAR);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  texture_delete(&t);
}

TEST_F(Textures, TinyImageFillsItsStorage) {
  texture t{};
  texture_make(&t);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> one = {0xFF112233u};
  image single = rgba_image(one, 1, 1, 1);
  texture_fromimage(&t, &single, 0);
  std::vector<uint32_t> stored = texture_words(t.name, &w, &h);
  EXPECT_EQ(std::pair(w, h), std::pair(2, 2));
  EXPECT_EQ(stored, std::vector<uint32_t>(4, 0xFF112233u));
  texture_delete(&t);
}

TEST_F(Textures, TintIsClearInTheMiddleAndDarkInTheCorners) {
  texture t{};
  texture_make(&t);
  texture_deftint(&t);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> stored = texture_words(t.name, &w, &h);
  ASSERT_EQ(w, 256);
  ASSERT_EQ(h, 256);
  EXPECT_EQ(stored[128 * 256 + 128], 0x00998120u);
  EXPECT_EQ(stored[0], 163u << 24 | 0x998120u);
  EXPECT_GT(stored[255 * 256 + 255] >> 24, 150u);
  texture_delete(&t);
}

