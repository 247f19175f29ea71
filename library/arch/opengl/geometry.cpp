#include <zeal/arch/opengl/geometry.h>

#include <GL/glew.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/trace.h>
#include <zeal/base/perf.h>

static const char* const SOURCE = "library/arch/opengl/geometry";
constexpr int32_t ATTRIBUTE = 16;  // four floats

// The geometry state of the display a frame belongs to (frames made for a
// framebuffer share their display's context); null for a bare frame.
static opengl_geometry_frames* frames_of(const display_frame* frame) {
  const display_context* context = frame != nullptr ? frame->context : nullptr;
  if (context == nullptr || context->device == nullptr || context->device->io == nullptr) return nullptr;
  return &context->device->io->geometry;
}

static opengl_geometry_buffers* active_top(opengl_geometry_frames* frames) {
  if (frames == nullptr) return nullptr;
  int32_t n = array_count(&frames->active, sizeof(void*));
  if (n <= 0) return nullptr;
  return *static_cast<opengl_geometry_buffers**>(array_element(&frames->active, sizeof(void*), n - 1));
}

static int has_frame_data_hook(const display_frame* frame) {
  const array* hooks = display_frame_hooks(frame);
  int32_t n = array_count(hooks, sizeof(frame_hook));
  for (int32_t i = 0; i < n; ++i)
    if (static_cast<const frame_hook*>(array_element(hooks, sizeof(frame_hook), i))->allocate == frame_data_allocate)
      return 1;
  return 0;
}

void buffers_delete(opengl_geometry_buffers* b) {
  array_reset(&b->interleaved);
  array_reset(&b->indices);
  array_reset(&b->vertices);
  array_reset(&b->colours);
  array_reset(&b->normals);
  array_reset(&b->texcoords);
}

static void release_resident(opengl_geometry* g) {
  if (!g->per_frame && g->buffers != nullptr) {
    buffers_delete(g->buffers);
    free(g->buffers);
    g->buffers = nullptr;
  }
}

static void invalidate(opengl_geometry* g) {
  g->valid = 0;
  release_resident(g);
}

void opengl_geometry_make_resident(opengl_geometry* g) {
  *g = opengl_geometry{};
  g->valid = 1;
}

void opengl_geometry_make(opengl_geometry* g, display_frame* frame) {
  if (display_frame_hooks(frame) != nullptr && !has_frame_data_hook(frame))
    display_frame_add_hooks(frame, frame_data_allocate, frame_data_free, frame_data_define_frame,
                            frame_data_commit_frame);
  *g = opengl_geometry{};
  g->valid = 1;
  g->per_frame = 1;
  g->frames = frames_of(frame);
}

// Element `offset` of an array of `width`-byte elements when `count` elements
// from there lie inside it; else null.
static void* region(const array* a, int32_t width, int32_t offset, int32_t count) {
  if (count <= 0 || offset < 0) return nullptr;
  int32_t n = array_count(a, width);
  if (n < 0 || static_cast<int64_t>(offset) + count > n) return nullptr;
  return array_element(a, width, offset);
}

void opengl_geometry_get_pointers(const opengl_geometry* g, uint32_t** indices, float** vertices,
                                  float** texcoords, float** colours, float** normals) {
  // A packed-only geometry owns no region of the separate arrays.
  const opengl_geometry_buffers* b = (g->flags & GEOMETRY_INTERLEAVED) ? nullptr : g->buffers;
  int32_t nv = g->vertex_count;
  if (indices)
    *indices = b ? static_cast<uint32_t*>(region(&b->indices, 4, g->index_offset, g->index_count))
                 : nullptr;
  if (vertices)
    *vertices = b ? static_cast<float*>(region(&b->vertices, ATTRIBUTE, g->vertex_offset, nv)) : nullptr;
  if (texcoords)
    *texcoords = b ? static_cast<float*>(region(&b->texcoords, ATTRIBUTE, g->texcoord_offset, nv))
                   : nullptr;
  if (colours)
    *colours = b && !(g->flags & GEOMETRY_NO_COLOURS)
                   ? static_cast<float*>(region(&b->colours, ATTRIBUTE, g->colour_offset, nv))
                   : nullptr;
  if (normals)
    *normals = b ? static_cast<float*>(region(&b->normals, ATTRIBUTE, g->normal_offset, nv)) : nullptr;
}

// Sets the array to exactly `elements` elements (resident) or grows it to
// that many (per-frame); a failed array stays as it is.
static void size_array(array* a, int32_t width, int32_t elements) {
  if (a->failed || elements < 0) return;
  int64_t bytes = static_cast<int64_t>(elements) * width;
  if (bytes > INT32_MAX) {
    array_fail(a);
    return;
  }
  if (bytes < a->size) array_truncate(a, 1, static_cast<int32_t>(bytes));
  else if (bytes > a->size) array_grow(a, static_cast<int32_t>(bytes));
}

static void place_regions(opengl_geometry* g) {
  opengl_geometry_buffers* b = g->buffers;
  g->serial = b->serial;
  if (g->per_frame) {
    g->index_offset = array_count(&b->indices, 4);
    g->vertex_offset = array_count(&b->vertices, ATTRIBUTE);
    g->colour_offset = array_count(&b->colours, ATTRIBUTE);
    g->normal_offset = array_count(&b->normals, ATTRIBUTE);
    g->texcoord_offset = array_count(&b->texcoords, ATTRIBUTE);
  } else {
    g->index_offset = g->vertex_offset = g->colour_offset = 0;
    g->normal_offset = g->texcoord_offset = 0;
  }
  int32_t ni = g->index_count < 0 ? 0 : g->index_count;
  int32_t nv = g->vertex_count < 0 ? 0 : g->vertex_count;
  size_array(&b->indices, 4, g->index_offset + ni);
  size_array(&b->vertices, ATTRIBUTE, g->vertex_offset + nv);
  size_array(&b->colours, ATTRIBUTE, g->colour_offset + nv);
  size_array(&b->normals, ATTRIBUTE, g->normal_offset + nv);
  size_array(&b->texcoords, ATTRIBUTE, g->texcoord_offset + nv);
}

void opengl_geometry_define(opengl_geometry* g, uint32_t flags, int32_t index_count,
                            uint32_t** indices, int32_t vertex_count, float** vertices,
                            float** colours, float** texcoords, float** normals) {
  for (float** out : {vertices, colours, texcoords, normals})
    if (out) *out = nullptr;
  if (indices) *indices = nullptr;
  // An invalid geometry stays so until it is made again; redefining it
  // would only allocate storage that nothing releases.
  if (!g->valid) return;
  if (g->per_frame) flags |= GEOMETRY_PER_FRAME;
  if (colours == nullptr) flags |= GEOMETRY_NO_COLOURS;
  bool was_packed = (g->flags & GEOMETRY_INTERLEAVED) != 0;
  g->flags = flags;
  int32_t old_indices = g->index_count, old_vertices = g->vertex_count;
  g->index_count = index_count;
  g->vertex_count = vertex_count;
  if (g->per_frame) {
    opengl_geometry_buffers* top = active_top(g->frames);
    if (top == nullptr) {
      g->valid = 0;
      g->buffers = nullptr;
      return;
    }
    // The frame data is the same record every frame, so the serial is what
    // tells a redefinition in this frame from a stale one.
    if (was_packed || g->buffers != top || g->serial != top->serial || old_indices != index_count ||
        old_vertices != vertex_count) {
      g->buffers = top;
      place_regions(g);
    }
  } else {
    if (g->buffers == nullptr)
      g->buffers = static_cast<opengl_geometry_buffers*>(calloc(1, sizeof(opengl_geometry_buffers)));
    if (g->buffers == nullptr) {
      g->valid = 0;
      return;
    }
    place_regions(g);
  }
  uint32_t* i = nullptr;
  float* v = nullptr;
  opengl_geometry_get_pointers(g, &i, &v, texcoords, colours, normals);
  if (indices) *indices = i;
  if (vertices) *vertices = v;
  if ((indices && i == nullptr) || (vertices && v == nullptr)) {
    for (float** out : {vertices, colours, texcoords, normals})
      if (out) *out = nullptr;
    if (indices) *indices = nullptr;
    invalidate(g);
    return;
  }
  if (index_count == vertex_count && indices)
    for (int32_t k = 0; k < index_count; ++k) i[k] = static_cast<uint32_t>(k);
}

float* opengl_geometry_define_interleaved(opengl_geometry* g, uint32_t flags, int32_t vertex_count) {
  if (!g->valid) return nullptr;
  flags |= GEOMETRY_INTERLEAVED;
  if (g->per_frame) flags |= GEOMETRY_PER_FRAME;
  g->flags = flags;
  g->index_count = g->vertex_count = vertex_count < 0 ? 0 : vertex_count;
  if (g->per_frame) {
    opengl_geometry_buffers* top = active_top(g->frames);
    if (top == nullptr) {
      g->valid = 0;
      g->buffers = nullptr;
      return nullptr;
    }
    g->buffers = top;
    g->serial = top->serial;
    g->interleaved_offset = array_count(&top->interleaved, 4);
  } else {
    if (g->buffers == nullptr)
      g->buffers = static_cast<opengl_geometry_buffers*>(calloc(1, sizeof(opengl_geometry_buffers)));
    if (g->buffers == nullptr) {
      g->valid = 0;
      return nullptr;
    }
    g->interleaved_offset = 0;
  }
  array* inter = &g->buffers->interleaved;
  int32_t floats = opengl_geometry_stride(g) * g->vertex_count;
  if (g->interleaved_offset >= 0) size_array(inter, 4, g->interleaved_offset + floats);
  auto* out = static_cast<float*>(region(inter, 4, g->interleaved_offset, floats));
  if (out == nullptr && floats > 0) invalidate(g);
  return out;
}

int32_t opengl_geometry_stride(const opengl_geometry* g) {
  return (g->flags & GEOMETRY_NO_COLOURS) ? 8 : 12;
}

const float* opengl_geometry_interleaved(const opengl_geometry* g) {
  if (g->buffers == nullptr) return nullptr;
  return static_cast<const float*>(region(&g->buffers->interleaved, 4, g->interleaved_offset,
                                          opengl_geometry_stride(g) * g->vertex_count));
}

void opengl_geometry_commit_with(opengl_geometry* g, int32_t index_count, int32_t vertex_count) {
  if (!g->valid) return;
  if (index_count > g->index_count || vertex_count > g->vertex_count) {
    invalidate(g);
    return;
  }
  if (g->flags & GEOMETRY_INTERLEAVED) {
    if (g->buffers == nullptr || (g->per_frame && (g->buffers != active_top(g->frames) || g->serial != g->buffers->serial))) {
      invalidate(g);
      return;
    }
    g->index_count = g->vertex_count = vertex_count < 0 ? 0 : vertex_count;
    // What was declared but not written goes back to the frame's store.
    size_array(&g->buffers->interleaved, 4, g->interleaved_offset + opengl_geometry_stride(g) * g->vertex_count);
    return;
  }
  // The region pointers are for the declared counts; take them before the
  // drawn counts replace those.
  float *v = nullptr, *c = nullptr, *tc = nullptr, *n = nullptr;
  opengl_geometry_get_pointers(g, nullptr, &v, &tc, &c, &n);
  g->index_count = index_count;
  g->vertex_count = vertex_count;
  opengl_geometry_buffers* top = active_top(g->frames);
  if ((g->per_frame && (g->buffers != top || top == nullptr || g->serial != top->serial)) ||
      g->buffers == nullptr) {
    invalidate(g);
    return;
  }
  array* inter = &g->buffers->interleaved;
  int32_t stride = opengl_geometry_stride(g);
  if (g->per_frame) {
    g->interleaved_offset = array_count(inter, 4);
  } else {
    array_truncate(inter, 4, 0);
    g->interleaved_offset = 0;
  }
  if (g->interleaved_offset < 0) return;
  size_array(inter, 4, g->interleaved_offset + stride * (vertex_count < 0 ? 0 : vertex_count));
  auto* out = static_cast<float*>(region(inter, 4, g->interleaved_offset, stride * vertex_count));
  if (out == nullptr || v == nullptr) return;
  for (int32_t k = 0; k < vertex_count; ++k) {
    const float* p = v + 4 * k;
    *out++ = tc ? tc[4 * k] : 0.0f;
    *out++ = tc ? tc[4 * k + 1] : 0.0f;
    if (stride == 12) {
      for (int32_t j = 0; j < 4; ++j) *out++ = c ? c[4 * k + j] : 0.0f;
    }
    for (int32_t j = 0; j < 3; ++j) *out++ = n ? n[4 * k + j] : 0.0f;
    for (int32_t j = 0; j < 3; ++j) *out++ = p[j];
  }
}

void opengl_geometry_commit(opengl_geometry* g) {
  opengl_geometry_commit_with(g, g->index_count, g->vertex_count);
}

static void draw_normals(const opengl_geometry* g) {
  float *v = nullptr, *n = nullptr;
  opengl_geometry_get_pointers(g, nullptr, &v, nullptr, nullptr, &n);
  if (v == nullptr || n == nullptr) return;
  GLint program = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  if (program != 0) glUseProgram(0);
  // One line per index, but never past the vertices that exist.
  int32_t count = g->index_count < g->vertex_count ? g->index_count : g->vertex_count;
  glBegin(GL_LINES);
  for (int32_t k = 0; k < count; ++k) {
    const float* p = v + 4 * k;
    const float* d = n + 4 * k;
    glVertex3f(p[0], p[1], p[2]);
    glVertex3f(p[0] + d[0], p[1] + d[1], p[2] + d[2]);
  }
  glEnd();
  if (program != 0) glUseProgram(static_cast<GLuint>(program));
}

void opengl_geometry_draw(opengl_geometry* g) {
  if (!g->valid) return;
  if (g->buffers == nullptr) {
    g->valid = 0;
    return;
  }
  const float* inter = opengl_geometry_interleaved(g);
  uint32_t* idx = nullptr;
  opengl_geometry_get_pointers(g, &idx, nullptr, nullptr, nullptr, nullptr);
  bool in_order = (g->flags & GEOMETRY_INTERLEAVED) != 0;
  if (inter == nullptr || (idx == nullptr && !in_order)) return;
  // Resident geometry is counted where it is drawn: in the open display.
  if (!g->per_frame && display_open_io() != nullptr) {
    const array* a = &g->buffers->interleaved;
    display_open_io()->geometry.bytes += a->failed ? -1 : a->size;
  }
  GLenum format = opengl_geometry_stride(g) == 12 ? GL_T2F_C4F_N3F_V3F : GL_T2F_N3F_V3F;
  glInterleavedArrays(format, 0, inter);
  opengl_trace(SOURCE, 575, nullptr);
  if (g->flags & GEOMETRY_WIREFRAME) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    opengl_trace(SOURCE, 579, nullptr);
  } else {
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    opengl_trace(SOURCE, 582, nullptr);
  }
  if ((g->flags & (GEOMETRY_TRIANGLES | GEOMETRY_QUADS)) && in_order) {
    glDrawArrays((g->flags & GEOMETRY_TRIANGLES) ? GL_TRIANGLES : GL_QUADS, 0, g->vertex_count);
    opengl_trace(SOURCE, __LINE__, nullptr);
  } else if (g->flags & GEOMETRY_TRIANGLES) {
    glDrawElements(GL_TRIANGLES, g->index_count, GL_UNSIGNED_INT, idx);
    opengl_trace(SOURCE, 587, nullptr);
  } else if (g->flags & GEOMETRY_QUADS) {
    glDrawElements(GL_QUADS, g->index_count, GL_UNSIGNED_INT, idx);
    opengl_trace(SOURCE, 590, nullptr);
  } else {
    // No primitive: never drawable. Its storage goes now, since delete
    // passes over invalid geometries.
    invalidate(g);
  }
  if (g->valid && (g->flags & GEOMETRY_NORMALS)) draw_normals(g);
  if (g->flags & GEOMETRY_WIREFRAME) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    opengl_trace(SOURCE, 626, nullptr);
  }
}

void opengl_geometry_resident_copy(opengl_geometry* destination, const opengl_geometry* source) {
  if (!source->valid || source->buffers == nullptr) {
    if (destination->valid && !destination->per_frame) release_resident(destination);
    destination->valid = 0;
    return;
  }
  if (source->flags & GEOMETRY_INTERLEAVED) {
    const float* from = opengl_geometry_interleaved(source);
    opengl_geometry_make_resident(destination);
    float* to = opengl_geometry_define_interleaved(destination, source->flags & ~GEOMETRY_PER_FRAME,
                                                   source->vertex_count);
    if (from != nullptr && to != nullptr)
      memcpy(to, from, sizeof(float) * opengl_geometry_stride(source) * source->vertex_count);
    return;
  }
  uint32_t* si = nullptr;
  float *sv = nullptr, *sc = nullptr, *st = nullptr, *sn = nullptr;
  opengl_geometry_get_pointers(source, &si, &sv, &st, &sc, &sn);
  opengl_geometry_make_resident(destination);
  uint32_t* di = nullptr;
  float *dv = nullptr, *dc = nullptr, *dt = nullptr, *dn = nullptr;
  opengl_geometry_define(destination, source->flags & ~GEOMETRY_PER_FRAME, source->index_count,
                         &di, source->vertex_count, &dv, &dc, &dt, &dn);
  if (!destination->valid) return;
  size_t vertex_bytes = static_cast<size_t>(source->vertex_count) * ATTRIBUTE;
  if (si) memcpy(di, si, static_cast<size_t>(source->index_count) * 4);
  if (sv) memcpy(dv, sv, vertex_bytes);
  if (sc && dc) memcpy(dc, sc, vertex_bytes);
  if (st && dt) memcpy(dt, st, vertex_bytes);
  if (sn && dn) memcpy(dn, sn, vertex_bytes);
  opengl_geometry_commit(destination);
}

void opengl_geometry_delete(opengl_geometry* g) {
  if (!g->valid) return;
  release_resident(g);
  g->buffers = nullptr;
  g->valid = 0;
}

void opengl_geometry_fail(opengl_geometry* g) {
  if (!g->valid) return;
  invalidate(g);
}

void* frame_data_allocate() { return calloc(1, sizeof(opengl_geometry_buffers)); }

void frame_data_free(void* instance) {
  auto* b = static_cast<opengl_geometry_buffers*>(instance);
  buffers_delete(b);
  free(b);
}

void frame_data_define_frame(void* instance, display_frame* frame) {
  auto* b = static_cast<opengl_geometry_buffers*>(instance);
  for (array* a : {&b->interleaved, &b->indices, &b->vertices, &b->colours, &b->normals, &b->texcoords})
    if (!a->failed) a->size = 0;
  b->serial += 1;
  opengl_geometry_frames* frames = frames_of(frame);
  if (frames == nullptr) return;
  array_append(&frames->active, &b, sizeof(b));
  if (frames->report_at < 0.0) frames->report_at = display_frame_in_ms(frame);
}

void frame_data_commit_frame(void*, display_frame* frame) {
  opengl_geometry_frames* frames = frames_of(frame);
  if (frames == nullptr) return;
  opengl_geometry_buffers* top = active_top(frames);
  frames->frames += 1;
  if (top != nullptr) frames->bytes += top->interleaved.failed ? -1 : top->interleaved.size;
  double now = display_frame_in_ms(frame);
  if (now - frames->report_at > 1000.0 && frames->frames >= 1) {
    double average = static_cast<double>(frames->bytes / frames->frames);
    perf_log("geometry-per-f: %.0f b (%.2f kiB / %.2f MiB)\n", average, average / 1024,
             average / 1048576);
    frames->frames = 0;
    frames->bytes = 0;
    frames->report_at = now;
  }
  int32_t n = array_count(&frames->active, sizeof(void*));
  if (n > 0) array_truncate(&frames->active, sizeof(void*), n - 1);
}
