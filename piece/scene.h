// The display side of the piece: the start gate behind the performance test,
// the score, and each frame's flocks, particle cloud and tint.
#pragma once
#include <cstdint>

#include <zeal/arch/opengl/image.h>
#include <zeal/arch/opengl/texture.h>
#include "piece/boids.h"
#include "piece/ftable.h"
#include "piece/particles.h"
#include "piece/perftest.h"
#include "piece/prng.h"
#include "piece/timeline.h"

struct App;
struct display_frame;

constexpr int32_t SCENE_FISH_SLOTS = 5;
constexpr float SCENE_SCORE_STEP_MS = 16.0f;

struct scene_resources;

// The display slot's record.
struct scene_state {
  scene_resources* res;  // the app's, shared with later display begins
  ftable_env score;
  float score_clock;  // scene ms up to which the score has been stepped
  controls ctl;       // from score channels 1 to 4
  ParticleSystem ps;
  boids flocks[SCENE_FLOCKS];
  float offsets[SCENE_FLOCKS];
};

// Made on the first display begin and kept until the app ends; the textures
// are made again on every begin (each window has a context of its own).
struct layer_profile;

struct scene_resources {
  prng particles_prng;  // 10116141
  prng flocks_prng;     // 2393237
  int32_t palette_init_p;
  image palette;
  int32_t fishimg_init_p;
  int32_t fishimg_count;
  image fishimg[SCENE_FISH_SLOTS];
  texture fishtex[SCENE_FISH_SLOTS];
  texture particletex;
  texture tinttex;
  struct ui* interface;  // made and attached once per process, for mouse input
  int32_t ui_made;
  float flash[3];
  layer_profile* profile;  // null unless measuring
  void* flock_slot;     // particlescene state shared by the flock layers
  void* particle_slot;  // and the particle layer's
  int32_t init_p;       // the performance test has been begun
  int32_t ended_p;      // it has ended and the start time is set
  perftest_scene perftest;
};

// A record with nothing loaded yet; null when memory runs out.
scene_resources* scene_resources_make();
// Frees what the record holds in memory (GL objects went with their context).
void scene_resources_free(scene_resources* r);

// The display handler's three phases.
int32_t scene_begin(App* app);
int32_t scene_end(App* app);
int32_t scene_step(App* app);

// Fills a zero-filled state over the score table (null: an empty sequence),
// seeding the resources' generators.
void scene_make(scene_state* st, ftable* score, scene_resources* res);
// Releases what the state points to; the record stays.
void scene_free(scene_state* st);
// Samples the score every 16 ms of scene time up to s; returns the steps.
int32_t scene_step_score(scene_state* st, double s);
// Draws the frame at scene time s >= 0 into the defined `frame` and commits
// it; 1 once s has reached the end, else 2.
int32_t scene_draw(scene_state* st, display_frame* frame, double s);

// A PNG resource by virtual path, loaded with four channels; the record is
// cleared (kind NONE) when the file is missing, and also, with a "WARNING:"
// line, when it is not a PNG file that decodes within the limits.
image scene_load_image(const char* vpath);
