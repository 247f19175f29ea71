// Render state that a scene sets before drawing a geometry.
#pragma once
#include <cstdint>

enum : uint32_t {
  MATERIAL_NEAREST = 1,
  MATERIAL_BLEND = 2,       // source alpha, one minus source alpha
  MATERIAL_ADDITIVE = 4,    // source alpha, one
  MATERIAL_NO_DEPTH = 8,    // set by material_on whenever it blends
  MATERIAL_NO_MULTISAMPLE = 16,
  MATERIAL_KEEP_COLOUR = 32,
  MATERIAL_PROGRAM = 64,    // cleared when the program does not exist
  MATERIAL_REPEAT = 128,
  // Fragments of alpha 0 are dropped. Under either blend they leave the
  // picture as it was, so for a blended material this only spares the
  // renderer their blending.
  MATERIAL_SKIP_TRANSPARENT = 256,
};

struct material {
  uint32_t flags;
  float colour[4];
  uint32_t program;
};

void material_on(material* m);
