// Indexed meshes filled on the CPU and drawn from one interleaved array.
// Resident storage belongs to the geometry; per-frame storage comes from a
// scratch store of the display frame being defined, emptied every frame.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

struct display_frame;

enum : uint32_t {
  GEOMETRY_PER_FRAME = 1,
  GEOMETRY_TRIANGLES = 2,
  GEOMETRY_QUADS = 4,
  GEOMETRY_WIREFRAME = 8,
  GEOMETRY_NORMALS = 16,
  GEOMETRY_NO_COLOURS = 0x200,
  GEOMETRY_INTERLEAVED = 0x400,  // written straight into the packed array: see below
};

// Also the frame data instance: the scratch store of one display frame.
struct opengl_geometry_buffers {
  array interleaved;  // float
  array indices;      // u32
  array vertices;     // 4 floats each, from here on
  array colours;
  array normals;
  array texcoords;
  uint32_t serial;  // frame definitions so far: tells this frame from the last
};

// A display's per-frame geometry state: the frame data of the frames being
// defined (innermost on top) and the statistics of the streamed bytes.
struct opengl_geometry_frames {
  array active;  // of opengl_geometry_buffers*
  int64_t frames;
  int64_t bytes;
  double report_at;  // frame time of the last report; negative before the first
};

struct opengl_geometry {
  uint32_t valid;
  uint32_t per_frame;
  uint32_t flags;
  int32_t index_count;
  int32_t vertex_count;
  opengl_geometry_buffers* buffers;
  int32_t index_offset;  // in elements of the respective arrays
  int32_t vertex_offset;
  int32_t colour_offset;
  int32_t normal_offset;
  int32_t texcoord_offset;
  int32_t interleaved_offset;
  uint32_t serial;  // per-frame: the buffers' serial when the regions were placed
  opengl_geometry_frames* frames;  // per-frame: the state of the display it was made for
};

void opengl_geometry_make_resident(opengl_geometry* g);
void opengl_geometry_make(opengl_geometry* g, display_frame* frame);
void opengl_geometry_define(opengl_geometry* g, uint32_t flags, int32_t index_count,
                            uint32_t** indices, int32_t vertex_count, float** vertices,
                            float** colours, float** texcoords, float** normals);
void opengl_geometry_get_pointers(const opengl_geometry* g, uint32_t** indices, float** vertices,
                                  float** texcoords, float** colours, float** normals);
// For geometry written once and drawn as written (a particle cloud): defines
// `vertex_count` vertices directly in the packed layout the draw reads
// (texture s, t; colour r, g, b, a unless GEOMETRY_NO_COLOURS; normal x, y, z;
// position x, y, z) and returns that array, or null. It keeps no separate
// arrays and no indices: the draw takes the vertices in order. Commit the
// count written with opengl_geometry_commit_with(g, n, n).
float* opengl_geometry_define_interleaved(opengl_geometry* g, uint32_t flags, int32_t vertex_count);
void opengl_geometry_commit_with(opengl_geometry* g, int32_t index_count, int32_t vertex_count);
void opengl_geometry_commit(opengl_geometry* g);
void opengl_geometry_draw(opengl_geometry* g);
void opengl_geometry_resident_copy(opengl_geometry* destination, const opengl_geometry* source);
void opengl_geometry_delete(opengl_geometry* g);
void opengl_geometry_fail(opengl_geometry* g);
// The packed array handed to GL: 8 or 12 floats per vertex.
const float* opengl_geometry_interleaved(const opengl_geometry* g);
int32_t opengl_geometry_stride(const opengl_geometry* g);

void buffers_delete(opengl_geometry_buffers* b);

// The frame hook behind per-frame storage.
void* frame_data_allocate();
void frame_data_free(void* instance);
void frame_data_define_frame(void* instance, display_frame* frame);
void frame_data_commit_frame(void* instance, display_frame* frame);
