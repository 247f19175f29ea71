// The 4-float vector that carries positions, colours and texture coordinates
// through the piece's simulations and into geometry buffers.
#pragma once

struct vec4 {
  float x, y, z, w;
};
