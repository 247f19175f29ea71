// layers: a picture drawn in two steps. Each frame first renders a spinning
// triangle into an offscreen framebuffer (a texture), then shows that texture
// as a quad that drifts across the window. It runs for twenty seconds;
// Escape ends it earlier.
//
//   build/examples/layers
//
// The handler protocol (see chord.cpp for sound): the runtime calls the
// handler with (stream, phase, app). For the display (stream 8) the phases are
// APP_BEGIN when a GL context is there (make GL objects here), APP_STEP once
// per video frame (draw into app->display_frame) and APP_END when the context
// goes (delete GL objects here). The state record lives in app->state and the
// runtime frees it when the stream stops.
#include <GL/glew.h>

#include <cmath>
#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/framebuffer.h>
#include <zeal/arch/opengl/geometry.h>

namespace {

constexpr double kLengthMs = 20000.0;

struct Layers {
  array layer_hooks;      // the framebuffer's frame needs its own hooks array
  display_stats layer_stats;
  opengl_framebuffer layer;
  opengl_geometry quad;   // resident: built once, drawn every frame
};

// A square of side 1 centred on the origin, textured with the part of the
// framebuffer's texture that holds the picture (its storage is larger).
void make_quad(Layers* s) {
  opengl_geometry_make_resident(&s->quad);
  float *vertices = nullptr, *texcoords = nullptr;
  uint32_t* indices = nullptr;
  opengl_geometry_define(&s->quad, GEOMETRY_QUADS, 4, &indices, 4, &vertices, nullptr, &texcoords,
                         nullptr);
  if (vertices == nullptr) return;
  const texture& t = s->layer.tex;
  const float corners[4][4] = {{-0.5f, -0.5f, t.s_min, t.t_min},
                               {0.5f, -0.5f, t.s_max, t.t_min},
                               {0.5f, 0.5f, t.s_max, t.t_max},
                               {-0.5f, 0.5f, t.s_min, t.t_max}};
  for (int k = 0; k < 4; ++k) {
    vertices[4 * k] = corners[k][0];
    vertices[4 * k + 1] = corners[k][1];
    texcoords[4 * k] = corners[k][2];
    texcoords[4 * k + 1] = corners[k][3];
  }
  opengl_geometry_commit(&s->quad);  // packs the attributes for GL
}

int32_t display_begin(App* app) {
  int slot = app_stream_index(APP_STREAM_DISPLAY);
  if (app->state[slot] == nullptr) app->state[slot] = calloc(1, sizeof(Layers));
  auto* s = static_cast<Layers*>(app->state[slot]);
  if (s == nullptr) return APP_END;
  // A framebuffer at a quarter of the window's power-of-two size.
  frame_make(&s->layer.frame, 0.0, &s->layer_stats, &s->layer_hooks);
  s->layer.device = display_context_get_device(app->display_context);
  s->layer.divisor = 4;
  opengl_framebuffer_make(&s->layer);
  make_quad(s);
  return APP_STEP;
}

void identity_view(double aspect) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-aspect, aspect, -1, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

// The inner layer: a triangle turning once every four seconds.
void draw_layer(double ms) {
  identity_view(1.0);
  glClearColor(0.1f, 0.1f, 0.3f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glRotated(ms * 0.09, 0, 0, 1);
  glBegin(GL_TRIANGLES);
  glColor3f(1.0f, 0.3f, 0.2f);
  glVertex2f(0.0f, 0.8f);
  glColor3f(0.2f, 1.0f, 0.3f);
  glVertex2f(-0.7f, -0.5f);
  glColor3f(0.3f, 0.4f, 1.0f);
  glVertex2f(0.7f, -0.5f);
  glEnd();
}

int32_t display_step(App* app) {
  auto* s = static_cast<Layers*>(app->state[app_stream_index(APP_STREAM_DISPLAY)]);
  display_frame* frame = app->display_frame;
  double ms = display_frame_in_ms(frame);  // time on the output clock
  if (ms >= kLengthMs) return APP_END;

  display_frame_define(frame, nullptr);
  // Defining the framebuffer's frame sends drawing into its texture;
  // committing it sends drawing back to the window.
  display_frame* layer = opengl_framebuffer_addf(&s->layer, frame);
  display_frame_define(layer, nullptr);
  draw_layer(ms);
  display_frame_commit(layer);

  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  identity_view(16.0 / 9.0);
  glTranslated(std::sin(ms * 0.0005) * 1.0, std::cos(ms * 0.0007) * 0.3, 0.0);
  glColor4f(1, 1, 1, 1);
  texture_bind(&s->layer.tex);
  opengl_geometry_draw(&s->quad);
  texture_unbind(&s->layer.tex);
  display_frame_commit(frame);
  return APP_STEP;
}

void display_end(App* app) {
  auto* s = static_cast<Layers*>(app->state[app_stream_index(APP_STREAM_DISPLAY)]);
  if (s == nullptr) return;
  opengl_geometry_delete(&s->quad);
  opengl_framebuffer_destroy(&s->layer);
  texture_delete(&s->layer.tex);  // the framebuffer's texture is ours to delete
  frame_delete(&s->layer.frame);
  array_reset(&s->layer_hooks);
}

int32_t layers(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) app->config.name = "layers";
    return APP_STEP;
  }
  if (stream != APP_STREAM_DISPLAY) return APP_END;
  switch (phase) {
    case APP_BEGIN:
      return display_begin(app);
    case APP_STEP:
      return display_step(app);
    default:
      display_end(app);
      return APP_END;
  }
}

}  // namespace

int main(int argc, char** argv) { return app_run(argc, argv, APP_STREAM_DISPLAY, layers); }
