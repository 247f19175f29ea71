// Where a frame's drawing time goes, layer by layer; for measuring only.
// With ZEAL_PROFILE_LAYERS set, each mark waits for the renderer (glFinish)
// and charges the time since the previous mark to the part just finished;
// means per part go to standard error every five seconds of scene time.
// Unset, a mark is one test of a flag. The waits split the renderer's work
// into more batches than a normal frame has, so the profiled frame is a
// little slower than an unprofiled one.
#pragma once

enum layer_part {
  LAYER_OUTSIDE,  // from the last mark of a frame to the next frame: readback, files, loop
  LAYER_CLEAR,
  LAYER_FLOCKS_CPU,  // steering and geometry of the fish
  LAYER_BOX,
  LAYER_FISH,
  LAYER_PARTICLES_CPU,
  LAYER_PARTICLES,
  LAYER_TINT,
  LAYER_PARTS
};

// Starts a frame at scene time s: what passed since the last mark was outside.
void layer_profile_frame(double s);
void layer_profile_mark(layer_part finished);
