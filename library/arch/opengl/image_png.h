// PNG files into image records, for files anyone may have put on the
// resource path: the signature is checked before anything else is read, and
// sizes are bounded before anything is allocated. Only PNG is decoded,
// whatever else a file may be.
#pragma once
#include <cstddef>
#include <cstdint>

#include <zeal/arch/opengl/image.h>

constexpr int32_t IMAGE_PNG_MAX_SIDE = 16384;               // pixels, each way
constexpr int64_t IMAGE_PNG_MAX_BYTES = int64_t{256} << 20;  // the file, and the pixels

// Decodes the PNG file at `path` into 8-bit RGBA, rows top first (kind U8,
// 4 components, stride = width, owned pixels). On any failure prints
// "WARNING: <path>: <reason>" and returns an empty record (kind NONE, no
// pixels). A missing file is a failure like any other.
image image_load_png(const char* path);
// The same for `size` bytes in memory; `name` stands for them in the warning.
image image_decode_png(const char* name, const void* bytes, size_t size);
// Frees the pixels when the record owns them and clears it.
void image_free(image* img);
