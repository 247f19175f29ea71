#include "piece/scene.h"

#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/geometry.h>
#include <zeal/arch/opengl/image_png.h>
#include <zeal/arch/opengl/material.h>
#include <zeal/arch/opengl/ui.h>
#include <zeal/base/vpath.h>
#include "piece/layer_profile.h"
#include "piece/origin.h"
#include "piece/particlescene.h"
#include "piece/perftest.h"

static const char* const FISH_FILES[3] = {
    "virtual://root/dat/fish1.png",
    "virtual://root/dat/fish2.png",
    "virtual://root/dat/fish4.png",
};

image scene_load_image(const char* path) {
  image img{};
  array name = vfreshfile(path, nullptr);
  if (name.size > 0 && !name.failed) img = image_load_png(static_cast<const char*>(name.data));
  array_reset(&name);
  return img;
}

scene_resources* scene_resources_make() {
  auto* r = static_cast<scene_resources*>(calloc(1, sizeof(scene_resources)));
  if (r != nullptr) {
    r->perftest = perftest_scene_make();
    r->profile = layer_profile_make();
  }
  return r;
}

void scene_resources_free(scene_resources* r) {
  if (r == nullptr) return;
  image_free(&r->palette);
  for (image& img : r->fishimg) image_free(&img);
  free(r->perftest.ps);
  particlescene_release(&r->flock_slot);
  particlescene_release(&r->particle_slot);
  ui_destroy(&r->interface);
  layer_profile_free(r->profile);
  free(r);
}

void scene_make(scene_state* st, ftable* score, scene_resources* res) {
  ftable_env_make(&st->score, score);
  st->score.mask[0] = 30;
  st->score.mask[1] = 0;
  st->score_clock = 0.0f;
  ftable_env_check(&st->score);
  st->res = res;
  scene_resources* r = res;
  prng_seed(&r->particles_prng, 10116141);
  ParticleSystem_make(&st->ps, &r->particles_prng);
  prng_seed(&r->flocks_prng, 2393237);
  for (int32_t i = 0; i < SCENE_FLOCKS; ++i) {
    if (!st->flocks[i].made) boids_make(&st->flocks[i], &r->flocks_prng);
    st->offsets[i] = -2.0f * static_cast<float>(i);
  }
}

void scene_free(scene_state* st) {
  ftable_env_free(&st->score);
  for (boids& flock : st->flocks) boids_destroy(&flock);
}

int32_t scene_begin(App* app) {
  piece_shared* piece = piece_of(app);
  if (piece == nullptr) return APP_STEP;
  if (piece->resources == nullptr) piece->resources = scene_resources_make();
  scene_resources* r = piece->resources;
  if (r == nullptr) return APP_STEP;
  void** slot = &app->state[app_stream_index(APP_STREAM_DISPLAY)];
  if (*slot == nullptr) {
    auto* st = static_cast<scene_state*>(calloc(1, sizeof(scene_state)));
    if (st == nullptr) return APP_STEP;
    *slot = st;
    scene_make(st, &piece->score, r);
  }
  if (!r->ui_made) {
    ui_make(&r->interface);
    if (r->interface != nullptr) ui_attach(r->interface, app->display_context);
    r->ui_made = 1;
    r->flash[0] = r->flash[1] = r->flash[2] = 0.0f;
  }
  if (!r->palette_init_p) {
    r->palette = scene_load_image("virtual://root/dat/pal1.png");
    r->palette_init_p = 1;
  }
  if (!r->fishimg_init_p) {
    for (const char* file : FISH_FILES) {
      if (r->fishimg_count >= SCENE_FISH_SLOTS) break;
      image img = scene_load_image(file);
      if (img.pixels != nullptr) r->fishimg[r->fishimg_count++] = img;
    }
    r->fishimg_init_p = 1;
  }
  texture_delete(&r->particletex);
  texture_make(&r->particletex);
  texture_defparticle(&r->particletex, 64);
  texture_delete(&r->tinttex);
  texture_make(&r->tinttex);
  texture_deftint(&r->tinttex);
  for (int32_t i = 0; i < SCENE_FISH_SLOTS; ++i) {
    texture_delete(&r->fishtex[i]);
    texture_make(&r->fishtex[i]);
    texture_fromimage(&r->fishtex[i], &r->fishimg[i], 0);
  }
  return APP_STEP;
}

int32_t scene_end(App* app) {
  piece_shared* piece = piece_of(app);
  scene_resources* r = piece != nullptr ? piece->resources : nullptr;
  if (r == nullptr) return APP_STEP;
  if (r->interface != nullptr) ui_detach(r->interface, app->display_context);
  // Loaded again by the next begin, in the window made after this one.
  image_free(&r->palette);
  r->palette_init_p = 0;
  texture_delete(&r->particletex);
  texture_delete(&r->tinttex);
  for (texture& t : r->fishtex) texture_delete(&t);
  r->particletex = texture{};
  r->tinttex = texture{};
  for (texture& t : r->fishtex) t = texture{};
  // The window's geometry goes with it; the scene's own state goes when the
  // program ends (the runtime frees the record itself).
  particlescene_release(&r->flock_slot);
  particlescene_release(&r->particle_slot);
  auto* st = static_cast<scene_state*>(app->state[app_stream_index(APP_STREAM_DISPLAY)]);
  if (st != nullptr && app_stopping(app)) scene_free(st);
  return APP_STEP;
}

int32_t scene_step_score(scene_state* st, double s) {
  ftable_env* env = &st->score;
  env->speed = SCENE_SCORE_STEP_MS;
  int32_t steps = 0;
  while (s > st->score_clock) {
    int looping = env->mode & FTABLE_LOOP;
    if (env->valid && (looping || env->end - env->position > 0)) {
      float row[4] = {0, 0, 0, 0};
      ftable_env_range_front(env, row);
      int32_t spawn = static_cast<int32_t>(row[0]);
      int32_t attractors = static_cast<int32_t>(row[1]);
      st->ctl.spawn_max = spawn < 200 ? spawn : 200;
      st->ctl.attractor_count = attractors < 4 ? attractors : 4;
      st->ctl.mass_spread = row[2];
      st->ctl.lift_gain = row[3];
      env->position += env->speed;
      if (looping && env->position >= env->end)
        env->position = env->start + (env->position - env->end);
    }
    st->score_clock += SCENE_SCORE_STEP_MS;
    ++steps;
  }
  return steps;
}

static void black_frame(display_frame* frame, layer_profile* profile) {
  display_frame_define(frame, nullptr);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  layer_profile_mark(profile, LAYER_CLEAR);
  display_frame_commit(frame);
}

// Whether any flock layer was drawn.
static bool draw_flocks(scene_state* st, display_frame* frame, double s, float k, float ramp) {
  scene_resources* r = st->res;
  double camera_time = static_cast<double>(ramp) * s;
  // The box is the one thing drawn with depth, and each copy lies at exactly
  // the depth of the first: later copies fail the depth test on every sample
  // and change nothing, so only the first flock's layer draws it.
  uint32_t box = PARTICLESCENE_BOX;
  bool drawn = false;
  for (int32_t i = 0; i < SCENE_FLOCKS; ++i) {
    float h = timeline_flock_height(k, i);
    if (!timeline_flock_shown(h)) continue;
    float c = timeline_flock_fraction(h);
    boids* flock = &st->flocks[i];
    for (int32_t a = 0; a < st->ps.attractors_used; ++a) {
      const vec4& p = st->ps.attractors[a].position;
      const float centre[4] = {p.x, p.y, p.z - h, p.w};
      boids_add_sphere(flock, centre, 0.435f);
    }
    boids_update(flock, s, c);
    material m{MATERIAL_BLEND, {1.0f, 1.0f, 1.0f, 1.0f}, 0};
    texture* tex = &r->fishtex[i % SCENE_FISH_SLOTS];
    opengl_geometry g;
    opengl_geometry_make(&g, frame);
    boids_geometry(flock, &g, tex, c, h, s);
    layer_profile_mark(r->profile, LAYER_FLOCKS_CPU);
    particlescene(frame, box | PARTICLESCENE_NOCLEAR, camera_time, &g, k, &m, tex, &r->flock_slot);
    layer_profile_mark(r->profile, LAYER_FLOCKS);
    opengl_geometry_delete(&g);
    box = 0;
    drawn = true;
  }
  return drawn;
}

// Whether any particle was drawn.
static bool draw_particles(scene_state* st, display_frame* frame, double s, float k, float ramp) {
  scene_resources* r = st->res;
  double fade = timeline_particle_fade(s);
  int32_t palette_size = r->palette.height > 0 ? r->palette.width : 0;
  float cp = r->perftest.cp;
  ParticleSystem_update(&st->ps, &st->ctl, &r->particles_prng, palette_size, cp, static_cast<float>(s));
  opengl_geometry g;
  opengl_geometry_make(&g, frame);
  ParticleSystem_define(&st->ps, &g, &r->particletex, &r->palette, cp * fade, s, ramp);
  // Most of each particle's square is transparent: its fragments would add
  // nothing, and dropping them spares the renderer their blending.
  material m{MATERIAL_ADDITIVE | MATERIAL_NO_MULTISAMPLE | MATERIAL_KEEP_COLOUR |
                 MATERIAL_SKIP_TRANSPARENT,
             {0, 0, 0, 0}, 0};
  layer_profile_mark(r->profile, LAYER_PARTICLES_CPU);
  particlescene(frame, PARTICLESCENE_NOCLEAR, static_cast<double>(ramp) * s, &g, k, &m,
                &r->particletex, &r->particle_slot);
  layer_profile_mark(r->profile, LAYER_PARTICLES);
  bool drawn = g.valid && g.vertex_count > 0;
  opengl_geometry_delete(&g);
  return drawn;
}

static void draw_tint(scene_resources* r, display_frame* frame, float k) {
  float c = 0.5f * k;
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(-1.0, 1.0, 1.0, -1.0, 1.0, -1.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  material m{MATERIAL_BLEND | MATERIAL_NO_DEPTH, {c, c, c, 1.0f}, 0};
  opengl_geometry g;
  opengl_geometry_make(&g, frame);
  geometry_defquad2d(&g, 0, -1.0f, 1.0f, 2.0f, -2.0f, 0.0f, 0.0f, 1.0f, 1.0f);
  material_on(&m);
  texture_bind(&r->tinttex);
  opengl_geometry_draw(&g);
  texture_unbind(&r->tinttex);
  particlescene_material_off(&m);
  opengl_geometry_delete(&g);
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  layer_profile_mark(r->profile, LAYER_TINT);
}

int32_t scene_draw(scene_state* st, display_frame* frame, double s) {
  display_frame_define(frame, nullptr);
  if (display_frame_is_being_defined(frame)) {
    float k = timeline_left(s);
    float ramp = timeline_ramp(s);
    scene_step_score(st, s);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    layer_profile_mark(st->res->profile, LAYER_CLEAR);
    bool flocks = draw_flocks(st, frame, s, k, ramp);
    bool particles = draw_particles(st, frame, s, k, ramp);
    // Once the tint is black (the piece's last seconds), over a frame still
    // black it only blends black with black.
    if (flocks || particles || 0.5f * k > 0.0f) draw_tint(st->res, frame, k);
  }
  display_frame_commit(frame);
  return s >= SCENE_END_MS ? APP_END : APP_STEP;
}

int32_t scene_step(App* app) {
  display_frame* frame = app->display_frame;
  if (frame == nullptr) return APP_STEP;
  auto* st = static_cast<scene_state*>(app->state[app_stream_index(APP_STREAM_DISPLAY)]);
  piece_shared* piece = piece_of(app);
  scene_resources* r = piece != nullptr ? piece->resources : nullptr;
  if (r == nullptr) {
    black_frame(frame, nullptr);
    return APP_STEP;
  }
  double now = display_frame_in_ms(frame);
  double s = -1.0;
  if (r->ended_p) {
    s = now - piece_origin_ms(app);
  } else {
    perftest_scene* test = &r->perftest;
    int32_t r0 = APP_STEP;
    int32_t begun_now = 0;
    if (!r->init_p) {
      r0 = perftest(test, APP_STREAM_DISPLAY, APP_BEGIN, app);
      r->init_p = 1;
      begun_now = 1;
    }
    int32_t result = perftest(test, APP_STREAM_DISPLAY, static_cast<uint32_t>(r0), app);
    if (result == APP_END && r0 != APP_END) perftest(test, APP_STREAM_DISPLAY, APP_END, app);
    if (result != APP_END) {
      if (!begun_now) return APP_STEP;
    } else {
      r->ended_p = 1;
      piece_set_origin_ms(app, now + 2000.0);
      s = now - piece_origin_ms(app);
    }
  }
  layer_profile_frame(r->profile, s);
  if (piece_origin_ms(app) < 0.0 || s < 0.0 || st == nullptr) {
    black_frame(frame, r->profile);
    return APP_STEP;
  }
  int32_t result = scene_draw(st, frame, s);
  // The runtime frees the record when the stream stops; what it holds goes first.
  if (result == APP_END) scene_free(st);
  return result;
}
