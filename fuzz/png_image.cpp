// Any bytes as a PNG resource, decoded into an image record (no window or
// texture needed).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <zeal/arch/opengl/image_png.h>
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quiet_standard_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  image img = image_decode_png("fuzz", bytes, size);
  if (img.pixels != nullptr) {
    check(img.kind == IMAGE_KIND_U8 && img.components == 4 && img.stride == img.width);
    check(img.width >= 1 && img.width <= IMAGE_PNG_MAX_SIDE);
    check(img.height >= 1 && img.height <= IMAGE_PNG_MAX_SIDE);
    int64_t last = int64_t{img.width} * img.height * 4 - 1;
    check(last < IMAGE_PNG_MAX_BYTES);
    // The whole buffer is there: reading its last byte is checked by ASan.
    volatile unsigned char tail = static_cast<const unsigned char*>(img.pixels)[last];
    (void)tail;
  } else {
    check(img.kind == IMAGE_KIND_NONE && img.width == 0);
  }
  image_free(&img);
  return 0;
}
