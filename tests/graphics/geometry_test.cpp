// Geometry buffers: per-frame regions, validity rules, the packed formats,
// and what a draw leaves in the framebuffer.
#include <GL/glew.h>

#include <cstring>
#include <string>
#include <utility>

#include <zeal/base/perf.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/geometry.h>
#include "gl_fixture.h"

namespace {

// One frame with one hooks array for the whole program, drawn in the shared
// window's context (which leads to its display's geometry state).
array hooks;
display_stats stats;
display_frame frame;
bool frames_made;

struct Geometry : GlTest {
  void SetUp() override {
    GlTest::SetUp();
    if (!frames_made) {
      frame_make(&frame, 0.0, &stats, &hooks);
      frames_made = true;
    }
    frame.context = window->io->frames[0].context;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  void begin(double time = 0.0) {
    frame.time = time;
    display_frame_define(&frame, nullptr);
  }
  void end() { display_frame_commit(&frame); }
};

// The square from (-0.5, -0.5) to (0.5, 0.5) as the four vertices of one quad.
void square(float* v) {
  const float corners[16] = {-0.5f, -0.5f, 0, 1, 0.5f, -0.5f, 0, 1, 0.5f, 0.5f, 0, 1, -0.5f, 0.5f, 0, 1};
  memcpy(v, corners, sizeof corners);
}

}  // namespace

TEST_F(Geometry, PerFrameGeometryOutsideItsFrameIsInvalid) {
  opengl_geometry g{};
  opengl_geometry_make(&g, &frame);
  float* v = nullptr;
  opengl_geometry_define(&g, GEOMETRY_QUADS, 4, nullptr, 4, &v, nullptr, nullptr, nullptr);
  EXPECT_EQ(g.valid, 0u);
  EXPECT_EQ(v, nullptr);

  opengl_geometry_make(&g, &frame);
  begin();
  opengl_geometry_define(&g, GEOMETRY_QUADS, 4, nullptr, 4, &v, nullptr, nullptr, nullptr);
  EXPECT_EQ(g.valid, 1u);
  end();
  begin(16.0);
  opengl_geometry_commit(&g);  // defined in the previous frame
  EXPECT_EQ(g.valid, 0u);
  end();

  // Same counts every frame: each frame places fresh regions, after the
  // geometries defined before it in that frame.
  opengl_geometry other{};
  opengl_geometry_make(&g, &frame);
  opengl_geometry_make(&other, &frame);
  for (int f = 0; f < 3; ++f) {
    begin(32.0 + f);
    opengl_geometry_define(&other, GEOMETRY_QUADS, 4, nullptr, 4, &v, nullptr, nullptr, nullptr);
    opengl_geometry_define(&g, GEOMETRY_QUADS, 4, nullptr, 4, &v, nullptr, nullptr, nullptr);
    ASSERT_NE(v, nullptr) << f;
    EXPECT_EQ(g.vertex_offset, 4);
    opengl_geometry_commit(&g);
    EXPECT_EQ(g.valid, 1u);
    end();
  }
}

TEST_F(Geometry, ZeroCountsAndOvercommitInvalidateAndNothingIsDrawn) {
  opengl_geometry g{};
  opengl_geometry_make_resident(&g);
  float* v = nullptr;
  uint32_t* i = nullptr;
  opengl_geometry_define(&g, GEOMETRY_QUADS, 0, &i, 4, &v, nullptr, nullptr, nullptr);
  EXPECT_EQ(g.valid, 0u);
  EXPECT_EQ(g.buffers, nullptr);
  opengl_geometry_make_resident(&g);
  opengl_geometry_define(&g, GEOMETRY_QUADS, 4, &i, 0, &v, nullptr, nullptr, nullptr);
  EXPECT_EQ(g.valid, 0u);

  opengl_geometry_make_resident(&g);
  opengl_geometry_define(&g, GEOMETRY_QUADS, 4, &i, 4, &v, nullptr, nullptr, nullptr);
  square(v);
  opengl_geometry_commit_with(&g, 4, 5);
  EXPECT_EQ(g.valid, 0u);
  EXPECT_EQ(g.buffers, nullptr);
  glColor4f(1, 1, 1, 1);
  opengl_geometry_draw(&g);
  EXPECT_EQ(read_pixel(640, 360) & 0xFFFFFFu, 0u);

  // Neither triangles nor quads: the first draw gives up on the geometry.
  opengl_geometry_make_resident(&g);
  opengl_geometry_define(&g, 0, 4, &i, 4, &v, nullptr, nullptr, nullptr);
  square(v);
  opengl_geometry_commit(&g);
  opengl_geometry_draw(&g);
  EXPECT_EQ(g.valid, 0u);
  EXPECT_EQ(g.buffers, nullptr);  // released: delete will not see it
  EXPECT_EQ(read_pixel(640, 360) & 0xFFFFFFu, 0u);
  opengl_geometry_delete(&g);
  opengl_geometry_fail(&g);
  opengl_geometry_make_resident(&g);
  opengl_geometry_define(&g, 0, 4, &i, 4, &v, nullptr, nullptr, nullptr);
  opengl_geometry_delete(&g);
  EXPECT_EQ(g.buffers, nullptr);
}

TEST_F(Geometry, InterleavedDataFollowsTheAttributesInBothFormats) {
  opengl_geometry g{};
  opengl_geometry_make_resident(&g);
  uint32_t* i = nullptr;
  float *v = nullptr, *c = nullptr, *t = nullptr, *n = nullptr;
  opengl_geometry_define(&g, GEOMETRY_TRIANGLES, 3, &i, 3, &v, &c, &t, &n);
  for (int k = 0; k < 12; ++k) v[k] = 100.0f + k, c[k] = 200.0f + k, t[k] = 300.0f + k, n[k] = 400.0f + k;
  opengl_geometry_commit(&g);
  ASSERT_EQ(opengl_geometry_stride(&g), 12);
  const float* p = opengl_geometry_interleaved(&g);
  for (int k = 0; k < 3; ++k) {
    const float expected[12] = {300.0f + 4 * k, 301.0f + 4 * k, 200.0f + 4 * k, 201.0f + 4 * k,
                                202.0f + 4 * k, 203.0f + 4 * k, 400.0f + 4 * k, 401.0f + 4 * k,
                                402.0f + 4 * k, 100.0f + 4 * k, 101.0f + 4 * k, 102.0f + 4 * k};
    EXPECT_EQ(0, memcmp(p + 12 * k, expected, sizeof(expected))) << k;
  }

  // Without colours and normals; two of three vertices committed.
  opengl_geometry_define(&g, GEOMETRY_TRIANGLES, 3, &i, 3, &v, nullptr, &t, nullptr);
  opengl_geometry_commit_with(&g, 3, 2);
  ASSERT_EQ(opengl_geometry_stride(&g), 8);
  EXPECT_EQ(array_count(&g.buffers->interleaved, 4), 16);
  p = opengl_geometry_interleaved(&g);
  const float second[8] = {304, 305, 404, 405, 406, 104, 105, 106};
  EXPECT_EQ(0, memcmp(p + 8, second, sizeof(second)));
  opengl_geometry_delete(&g);
}


// Written straight into the packed array: drawn in order as an indexed
// geometry is, committed short of what was declared, copied, and never
// handing out another geometry's regions of the separate arrays.
TEST_F(Geometry, PackedOnlyGeometryDrawsWhatItWasGiven) {
  const float corners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
  opengl_geometry before{}, g{};
  opengl_geometry_make(&before, &frame);
  opengl_geometry_make(&g, &frame);
  begin();
  float* v = nullptr;
  opengl_geometry_define(&before, GEOMETRY_QUADS, 4, nullptr, 4, &v, nullptr, nullptr, nullptr);
  square(v);
  float* packed = opengl_geometry_define_interleaved(&g, GEOMETRY_QUADS, 8);
  ASSERT_NE(packed, nullptr);
  for (int k = 0; k < 8; ++k) {
    float* o = packed + 12 * k;
    const float fields[12] = {0, 0, 1, 0.5f, 0.25f, 1, 0, 0, 0, corners[k % 4][0], corners[k % 4][1], 0};
    memcpy(o, fields, sizeof fields);
  }
  opengl_geometry_commit_with(&g, 4, 4);
  EXPECT_EQ(g.valid, 1u);
  float* separate = nullptr;
  opengl_geometry_get_pointers(&g, nullptr, &separate, nullptr, nullptr, nullptr);
  EXPECT_EQ(separate, nullptr);
  EXPECT_EQ(array_count(&g.buffers->interleaved, 4), 12 * 4);
  opengl_geometry_draw(&g);
  EXPECT_EQ(read_pixel(640, 360) & 0xFFFFFFu, 0x4080FFu);  // red, half green, a quarter blue
  EXPECT_EQ(read_pixel(5, 5) & 0xFFFFFFu, 0u);

  opengl_geometry copy{};
  opengl_geometry_resident_copy(&copy, &g);
  ASSERT_EQ(copy.valid, 1u);
  EXPECT_EQ(copy.vertex_count, 4);
  EXPECT_EQ(0, memcmp(opengl_geometry_interleaved(&copy), opengl_geometry_interleaved(&g), 48 * sizeof(float)));
  opengl_geometry_delete(&copy);

  opengl_geometry_commit_with(&g, 12, 12);  // more than was declared
  EXPECT_EQ(g.valid, 0u);
  end();
}
