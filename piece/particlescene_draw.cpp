// Drawing half of the particle scene: camera, backdrop box, floor and the
// caller's layer.
#include <GL/glew.h>
#include <GL/glu.h>

#include <cstdlib>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/texture.h>
#include <zeal/arch/opengl/trace.h>
#include "piece/particlescene.h"

static const char* const SOURCE = "piece/particlescene";

// Bytes alpha, red, green, blue; only row 1 colours anything.
static const float scene_palette[5][4] = {
    {255, 216, 202, 168}, {255, 92, 131, 47}, {255, 40, 73, 7},
    {255, 56, 37, 19},    {255, 54, 57, 66},
};

static void make_floor(particlescene_state* st) {
  opengl_geometry* g = &st->floor;
  opengl_geometry_make_resident(g);
  uint32_t* indices = nullptr;
  float *v = nullptr, *tc = nullptr, *n = nullptr;
  opengl_geometry_define(g, GEOMETRY_QUADS, 4, &indices, 4, &v, nullptr, &tc, &n);
  if (indices != nullptr && v != nullptr) {
    const float corners[4][2] = {{-400, -400}, {400, -400}, {400, 400}, {-400, 400}};
    const float st_coords[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
      indices[i] = static_cast<uint32_t>(i);
      float* p = v + 4 * i;
      p[0] = corners[i][0], p[1] = corners[i][1], p[2] = 0, p[3] = 1;
      if (tc != nullptr) {
        float* t = tc + 4 * i;
        t[0] = st_coords[i][0], t[1] = st_coords[i][1], t[2] = 0, t[3] = 1;
      }
      if (n != nullptr) {
        float* m = n + 4 * i;
        m[0] = 0, m[1] = 0, m[2] = 1, m[3] = 0;
      }
    }
  }
  opengl_geometry_commit(g);
}

static void make_box(particlescene_state* st) {
  opengl_geometry* g = &st->box;
  opengl_geometry_make_resident(g);
  uint32_t* indices = nullptr;
  float *v = nullptr, *c = nullptr, *tc = nullptr;
  opengl_geometry_define(g, GEOMETRY_QUADS, 24, &indices, 8, &v, &c, &tc, nullptr);
  if (indices != nullptr && v != nullptr) {
    const float lower[4][2] = {{-800, -800}, {800, -800}, {800, 800}, {-800, 800}};
    const float s_coord[4] = {0, 1, 1, 0};
    for (int i = 0; i < 4; ++i) {
      float* p = v + 4 * i;
      p[0] = lower[i][0], p[1] = lower[i][1], p[2] = 0, p[3] = 1;
    }
    for (int i = 0; i < 4; ++i) {
      float* p = v + 4 * (i + 4);
      for (int j = 0; j < 4; ++j) p[j] = v[4 * i + j];
      p[2] += 1600.0f;
    }
    for (int i = 0; i < 8; ++i) {
      int upper = i >= 4;
      if (c != nullptr) {
        float* col = c + 4 * i;
        col[0] = upper ? 0.4f : 0.04f;
        col[1] = upper ? 0.7f : 0.07f;
        col[2] = upper ? 0.8f : 0.08f;
        col[3] = 0;
      }
      if (tc != nullptr) {
        float* t = tc + 4 * i;
        t[0] = s_coord[i % 4], t[1] = static_cast<float>(upper), t[2] = 0, t[3] = 1;
      }
    }
    const uint32_t quads[24] = {0, 1, 2, 3, 1, 0, 4, 5, 2, 1, 5, 6,
                                3, 2, 6, 7, 4, 0, 3, 7, 5, 4, 7, 6};
    for (int i = 0; i < 24; ++i) indices[i] = quads[i];
  }
  opengl_geometry_commit(g);
}

static particlescene_state* state_make(uint32_t flags) {
  auto* st = static_cast<particlescene_state*>(calloc(1, sizeof(particlescene_state)));
  st->scene_material.flags = 0;
  st->scene_material.program = 0;
  const float* row = scene_palette[1];
  st->scene_material.colour[0] = row[1] * 0.003921569f;
  st->scene_material.colour[1] = row[2] * 0.003921569f;
  st->scene_material.colour[2] = row[3] * 0.003921569f;
  st->scene_material.colour[3] = row[0] * 0.003921569f;
  if (flags & PARTICLESCENE_FLOOR) make_floor(st);
  make_box(st);
  return st;
}

void particlescene_release(void** slot) {
  auto* st = static_cast<particlescene_state*>(*slot);
  if (st == nullptr) return;
  opengl_geometry_delete(&st->box);
  opengl_geometry_delete(&st->floor);
  free(st);
  *slot = nullptr;
}

void particlescene_material_off(const material* m) {
  if ((m->flags & MATERIAL_PROGRAM) && glUseProgram != nullptr) glUseProgram(0);
  if (m->flags & (MATERIAL_BLEND | MATERIAL_ADDITIVE)) glDisable(GL_BLEND);
  if (m->flags & MATERIAL_SKIP_TRANSPARENT) glDisable(GL_ALPHA_TEST);
  glDisable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  if (m->flags & MATERIAL_NO_MULTISAMPLE) glEnable(GL_MULTISAMPLE);
  opengl_trace(SOURCE, __LINE__, nullptr);
}

void particlescene(display_frame* frame, uint32_t flags, double camera_time,
                   opengl_geometry* geometry, double box_depth, material* m, texture* tex,
                   void** slot) {
  display_device* device = display_frame_device(frame);
  double aspect = device != nullptr ? display_device_pixel_ratio(device) : 16.0 / 9.0;
  if (*slot == nullptr) *slot = state_make(flags);
  auto* st = static_cast<particlescene_state*>(*slot);

  if (!(flags & PARTICLESCENE_NOCLEAR)) {
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(40.0, aspect, 0.1, 4000.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  vec4 c = particlescene_cpos(camera_time);
  gluLookAt(c.x, c.y, c.z, 0.0, 0.0, 0.25, 0.0, 0.0, 1.0);
  opengl_trace(SOURCE, __LINE__, nullptr);

  if (flags & PARTICLESCENE_BOX) {
    glPushMatrix();
    double d = 1.0 + 0.15 * box_depth;
    glTranslatef(0.0f, 0.0f, static_cast<float>(-800.0 * d));
    material_on(&st->scene_material);
    opengl_geometry_draw(&st->box);
    particlescene_material_off(&st->scene_material);
    glPopMatrix();
  }
  if ((flags & PARTICLESCENE_FLOOR) && st->floor.valid) {
    material_on(&st->scene_material);
    glPushMatrix();
    opengl_geometry_draw(&st->floor);
    glPopMatrix();
    particlescene_material_off(&st->scene_material);
  }
  glPushMatrix();
  glTranslatef(0.0f, 0.0f, 0.25f);
  material_on(m);
  if (tex != nullptr) {
    texture_bind(tex);
    opengl_geometry_draw(geometry);
    texture_unbind(tex);
  } else {
    opengl_geometry_draw(geometry);
  }
  particlescene_material_off(m);
  glPopMatrix();
  opengl_trace(SOURCE, __LINE__, nullptr);
}

void geometry_defquad2d(opengl_geometry* geometry, uint32_t flags, float x, float y, float w,
                        float h, float s, float t, float ds, float dt) {
  uint32_t* indices = nullptr;
  float *v = nullptr, *tc = nullptr;
  opengl_geometry_define(geometry, flags | GEOMETRY_QUADS, 4, &indices, 4, &v, nullptr, &tc,
                         nullptr);
  if (v != nullptr && tc != nullptr && indices != nullptr) {
    const float px[4] = {x, x + w, x + w, x};
    const float py[4] = {y, y, y + h, y + h};
    const float ps[4] = {s, s + ds, s + ds, s};
    const float pt[4] = {t, t, t + dt, t + dt};
    for (int i = 0; i < 4; ++i) {
      indices[i] = static_cast<uint32_t>(i);
      float* p = v + 4 * i;
      p[0] = px[i], p[1] = py[i], p[2] = 0, p[3] = 1;
      float* q = tc + 4 * i;
      q[0] = ps[i], q[1] = pt[i], q[2] = 0, q[3] = 1;
    }
  }
  opengl_geometry_commit(geometry);
}

void texture_extent(const texture* tex, float* ts, float* tt) {
  *ts = 1.0f;
  *tt = 1.0f;
  if (tex == nullptr || !tex->has_image || tex->name == 0) return;
  if (tex->target == GL_TEXTURE_1D) {
    *ts = static_cast<float>(tex->width) / static_cast<float>(tex->storage_width);
  } else if (tex->target == GL_TEXTURE_2D || tex->target == GL_TEXTURE_3D) {
    *ts = static_cast<float>(tex->width) / static_cast<float>(tex->storage_width);
    *tt = static_cast<float>(tex->height) / static_cast<float>(tex->storage_height);
  }
}
