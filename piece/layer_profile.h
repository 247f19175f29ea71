// Where a frame's drawing time goes, layer by layer; for measuring only.
// With ZEAL_PROFILE_LAYERS set, each mark waits for the renderer (glFinish)
// and charges the time since the previous mark to the part just finished;
// means per part go to standard error every five seconds of scene time.
// Unset, a mark is one test of a pointer. The waits split the renderer's work
// into more batches than a normal frame has, so the profiled frame is a
// little slower than an unprofiled one.
#pragma once

enum layer_part {
  LAYER_OUTSIDE,  // from the last mark of a frame to the next frame: readback, files, loop
  LAYER_CLEAR,
  LAYER_FLOCKS_CPU,  // steering and geometry of the fish
  LAYER_FLOCKS,      // the box behind them and the fish
  LAYER_PARTICLES_CPU,
  LAYER_PARTICLES,
  LAYER_TINT,
  LAYER_PARTS
};

struct layer_profile;

// Null unless ZEAL_PROFILE_LAYERS is set; the functions take null as "off".
layer_profile* layer_profile_make();
void layer_profile_free(layer_profile* p);

// Starts a frame at scene time s: what passed since the last mark was outside.
void layer_profile_frame(layer_profile* p, double s);
void layer_profile_mark(layer_profile* p, layer_part finished);
