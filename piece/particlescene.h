// The particle scene's camera: a slow closed path around the vertical axis,
// looking at (0, 0, 0.25). The particles face the same eye.
#pragma once

#include <cstdint>

#include <zeal/arch/opengl/geometry.h>
#include <zeal/arch/opengl/material.h>
#include "piece/vec4.h"

// Eye position for a camera time (the scene time times the speed ramp); w = 0.
vec4 particlescene_cpos(double camera_time);

struct display_frame;
struct texture;

enum : uint32_t {
  PARTICLESCENE_FLOOR = 1,
  PARTICLESCENE_BOX = 2,
  PARTICLESCENE_NOCLEAR = 4,
};

// What one call site keeps between frames: the box and the optional floor
// are resident and built on the first call through the site's slot.
struct particlescene_state {
  material scene_material;
  opengl_geometry box;
  opengl_geometry floor;  // made only when the first call asked for a floor
};

// Draws one layer: camera, optional clear, optional box and floor, then
// `geometry` with `m` and `tex` (null: untextured). `slot` is the call site's
// pointer, null before its first call.
void particlescene(display_frame* frame, uint32_t flags, double camera_time,
                   opengl_geometry* geometry, double box_depth, material* m, texture* tex,
                   void** slot);

// Frees a call site's state and empties its slot; the next call makes it
// again.
void particlescene_release(void** slot);

// The reverse of material_on.
void particlescene_material_off(const material* m);

// Defines `geometry` for the frame as one quad (plus the quads flag) and
// commits it.
void geometry_defquad2d(opengl_geometry* geometry, uint32_t flags, float x, float y, float w,
                        float h, float s, float t, float ds, float dt);

// The part of a texture's storage its image covers: (1, 1) without an image.
void texture_extent(const texture* tex, float* ts, float* tt);
