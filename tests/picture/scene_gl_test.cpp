// The picture drawn for real under the virtual X server: a flock layer with
// the backdrop box, then the particle cloud over it, read back as pixels.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cstdlib>
#include <string>
#include <utility>

#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/geometry.h>
#include <zeal/arch/opengl/material.h>
#include <zeal/arch/opengl/texture.h>
#include "graphics/gl_fixture.h"
#include "piece/boids.h"
#include "piece/particles.h"
#include "piece/origin.h"
#include "piece/particlescene.h"
#include "piece/scene.h"
#include "picture_test_util.h"

namespace {

struct Rgb { int r, g, b; };
Rgb rgb(uint32_t word) { return Rgb{int(word & 255), int((word >> 8) & 255), int((word >> 16) & 255)}; }

std::vector<uint32_t> screen() {
  std::vector<uint32_t> words(1280 * 720);
  glFinish();
  glReadPixels(0, 0, 1280, 720, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, words.data());
  return words;
}

struct SceneGl : GlTest {
  display_frame* frame = nullptr;
  void begin(double time) {
    frame = &window->io->frames[0];
    frame->time = time;
    display_frame_define(frame, nullptr);
  }
  void end() { display_frame_commit(frame); }
};

TEST_F(SceneGl, FlockInTheBoxThenParticlesInFront) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr ps = new_system();
  ParticleSystem_make(ps.get(), &g);
  controls c{200, 4, 5.0f, 8.0f};
  for (double t = 33; t < 3000; t += 33) ParticleSystem_update(ps.get(), &c, &g, 0, 1.0f, t);
  ASSERT_GT(ps->alive, 1000);

  auto* flock = static_cast<boids*>(calloc(1, sizeof(boids)));
  prng g2{};
  prng_seed(&g2, 2393237);
  boids_make(flock, &g2);
  boids_update(flock, 3000.0, 1.0f);

  texture particle{};
  texture_make(&particle);
  texture_defparticle(&particle, 64);
  void* flock_slot = nullptr;
  void* particle_slot = nullptr;

  testing::internal::CaptureStdout();
  begin(3000.0);
  opengl_geometry fg;
  opengl_geometry_make(&fg, frame);
  boids_geometry(flock, &fg, nullptr, 1.0f, 0.0f, 3000.0);
  material fish{MATERIAL_BLEND, {1, 1, 1, 1}, 0};
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  particlescene(frame, PARTICLESCENE_BOX | PARTICLESCENE_NOCLEAR, 3000.0, &fg, 1.0, &fish,
                nullptr, &flock_slot);
  opengl_geometry_delete(&fg);
  std::vector<uint32_t> words = screen();
  // The box fills the background: the four corners are its blue-grey, not black.
  for (int at : {2 * 1280 + 2, 2 * 1280 + 1277, 717 * 1280 + 2, 717 * 1280 + 1277})
    EXPECT_TRUE(rgb(words[at]).b > 5 && rgb(words[at]).b >= rgb(words[at]).r) << at;
  // White fish over the dark box: some pixels near the middle are bright.
  int fish_pixels = 0;
  for (uint32_t w : words) fish_pixels += rgb(w).r > 150 && rgb(w).g > 150;
  EXPECT_GT(fish_pixels, 50);

  opengl_geometry pg;
  opengl_geometry_make(&pg, frame);
  ParticleSystem_define(ps.get(), &pg, &particle, nullptr, 1.0, 3000.0, 1.0);
  material glow{MATERIAL_ADDITIVE | MATERIAL_NO_MULTISAMPLE | MATERIAL_KEEP_COLOUR, {0, 0, 0, 0}, 0};
  particlescene(frame, PARTICLESCENE_NOCLEAR, 3000.0, &pg, 1.0, &glow, &particle, &particle_slot);
  opengl_geometry_delete(&pg);
  std::vector<uint32_t> after = screen();
  end();
  EXPECT_EQ(captured_stdout(), "");

  // The cloud sits where the camera looks: the middle third gains warm light
  // (the default colour is orange), the corners keep the box.
  int warmer = 0, centre = 0;
  for (int y = 240; y < 480; ++y)
    for (int x = 426; x < 853; ++x) {
      Rgb a = rgb(words[y * 1280 + x]), b = rgb(after[y * 1280 + x]);
      ++centre;
      warmer += b.r > a.r + 20;
    }
  EXPECT_GT(warmer, centre / 10);
  for (int at : {2 * 1280 + 2, 2 * 1280 + 1277, 717 * 1280 + 2, 717 * 1280 + 1277}) EXPECT_GT(rgb(after[at]).b, 5);
  // Each call site keeps its own state.
  ASSERT_TRUE(flock_slot != nullptr && particle_slot != nullptr && flock_slot != particle_slot);
  particlescene_release(&flock_slot);
  particlescene_release(&particle_slot);
  texture_delete(&particle);
  boids_destroy(flock);
  free(flock);
}

// Alt+Return makes the window again: the scene ends and begins in the new
// one, and the palette the end let go is loaded again, not left empty.
TEST_F(SceneGl, ABeginAfterAnEndLoadsThePaletteAgain) {
  setenv("ZEAL_RPATH", ZEAL_SOURCE_DIR "/resources", 1);
  App app{};
  piece_shared piece{};
  app.state[app_stream_index(APP_STREAM_APP)] = &piece;
  for (int begin = 0; begin < 2; ++begin) {
    testing::internal::CaptureStdout();
    scene_begin(&app);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(piece.resources, nullptr);
    EXPECT_EQ(piece.resources->palette.width, 64) << "begin " << begin;
    scene_end(&app);
  }
  auto* st = static_cast<scene_state*>(app.state[app_stream_index(APP_STREAM_DISPLAY)]);
  scene_free(st);
  free(st);
  scene_resources_free(piece.resources);
  unsetenv("ZEAL_RPATH");
}

TEST(TextureExtent, ImageShareOfPowerOfTwoStorage) {
  auto extent = [](const texture* t) {
    float s = 0, u = 0;
    texture_extent(t, &s, &u);
    return std::pair(s, u);
  };
  texture t{};
  t.has_image = 1, t.name = 3, t.target = GL_TEXTURE_2D;
  t.width = 96, t.height = 40, t.storage_width = 128, t.storage_height = 64;
  EXPECT_EQ(extent(nullptr), std::pair(1.0f, 1.0f));
  EXPECT_EQ(extent(&t), std::pair(0.75f, 0.625f));
  t.target = GL_TEXTURE_1D;
  EXPECT_EQ(extent(&t), std::pair(0.75f, 1.0f));
  t.name = 0;  // no GL texture
  EXPECT_EQ(extent(&t), std::pair(1.0f, 1.0f));
}

}  // namespace
