// A decoded picture in memory: what the PNG decoder gives (4 components of 8
// bits, rows first to last) and what the display captures for offline
// rendering.
#pragma once
#include <cstdint>

enum { IMAGE_KIND_NONE = 0, IMAGE_KIND_U8 = 1 };

struct image {
  int32_t kind;    // IMAGE_KIND_U8 when pixels hold 8-bit samples
  void* pixels;
  int32_t width;
  int32_t height;
  int32_t depth;
  int32_t components;  // per pixel
  int32_t stride;      // row length in pixels
  int32_t planes;
  int32_t owned;       // pixels are the record's to free
};
