#include <zeal/arch/opengl/image_png.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <zeal/base/log.h>

namespace {

constexpr size_t kSignatureBytes = 8;

image refuse(const char* name, const char* reason) {
  log_warning("%s: %s", name != nullptr ? name : "image", reason);
  fflush(stdout);
  return image{};
}

struct file_closer {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

image image_decode_png(const char* name, const void* bytes, size_t size) {
  if (bytes == nullptr || size < kSignatureBytes ||
      png_sig_cmp(static_cast<png_const_bytep>(bytes), 0, kSignatureBytes) != 0) {
    return refuse(name, "not a PNG file");
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  // Reads the header only; libpng refuses a zero width or height itself.
  if (!png_image_begin_read_from_memory(&png, bytes, size)) return refuse(name, png.message);
  if (png.width > IMAGE_PNG_MAX_SIDE || png.height > IMAGE_PNG_MAX_SIDE) {
    png_image_free(&png);
    return refuse(name, "larger than 16384 pixels each way");
  }
  png.format = PNG_FORMAT_RGBA;
  // 16-bit files are taken as sRGB, like 8-bit ones, rather than linear.
  png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  int64_t pixel_bytes = int64_t{png.width} * png.height * 4;
  if (pixel_bytes > IMAGE_PNG_MAX_BYTES) {
    png_image_free(&png);
    return refuse(name, "more than 256 MB of pixels");
  }
  void* pixels = malloc(static_cast<size_t>(pixel_bytes));
  if (pixels == nullptr) {
    png_image_free(&png);
    return refuse(name, "out of memory");
  }
  // Frees libpng's state whether it succeeds or not.
  if (!png_image_finish_read(&png, nullptr, pixels, 0, nullptr)) {
    free(pixels);
    return refuse(name, png.message);
  }
  auto width = static_cast<int32_t>(png.width);
  return image{IMAGE_KIND_U8, pixels, width, static_cast<int32_t>(png.height), 1, 4, width, 1, 1};
}

image image_load_png(const char* path) {
  if (path == nullptr) return refuse(path, "no file name");
  std::unique_ptr<FILE, file_closer> file(fopen(path, "rb"));
  if (file == nullptr) return refuse(path, "cannot be opened");
  std::vector<unsigned char> bytes(kSignatureBytes);
  if (fread(bytes.data(), 1, kSignatureBytes, file.get()) != kSignatureBytes ||
      png_sig_cmp(bytes.data(), 0, kSignatureBytes) != 0) {
    return refuse(path, "not a PNG file");
  }
  if (fseeko(file.get(), 0, SEEK_END) != 0) return refuse(path, "cannot be read");
  off_t size = ftello(file.get());
  if (size < 0 || fseeko(file.get(), 0, SEEK_SET) != 0) return refuse(path, "cannot be read");
  if (size > IMAGE_PNG_MAX_BYTES) return refuse(path, "file larger than 256 MB");
  bytes.resize(static_cast<size_t>(size));
  if (fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return refuse(path, "cannot be read");
  }
  return image_decode_png(path, bytes.data(), bytes.size());
}

void image_free(image* img) {
  if (img->owned) free(img->pixels);
  *img = image{};
}
