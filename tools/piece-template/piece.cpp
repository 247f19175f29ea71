// @NAME@: a new zeal piece. It plays a chord that swells and fades every
// four seconds and draws one ring per note that breathes with it; the
// notes come from resources/chord.txt.
//
//   build/@NAME@                          plays live; Escape quits
//   build/@NAME@ --film first.mp4         renders it to a film
//   build/@NAME@ --help                   every option
//
// A piece is one handler that the runtime calls with (stream, phase, app):
// (APP_STREAM_APP, APP_BEGIN) once to configure, then per output frame from
// that output's thread: APP_STREAM_AUDIO once per block of 256 samples,
// APP_STREAM_DISPLAY once per picture (the thread that owns OpenGL).
// APP_STEP goes on; APP_END stops that stream, and the process exits when no
// stream is left. Sound and picture compute from the time of their frame on
// one output clock, so they stay in step live and render in lock step.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/base/vpath.h>
#include <zeal/io/audio.h>

namespace {

constexpr double kLengthMs = 12000.0;  // a render ends here; live runs on
constexpr double kSwellMs = 4000.0;
constexpr int kMaxNotes = 8;

// The notes, read before the outputs start and only read afterwards.
struct Chord {
  int notes = 0;
  double hz[kMaxNotes] = {};
};
Chord chord;

// "virtual://root/chord.txt" is chord.txt in the resources folder beside
// the program, or in a folder of ZEAL_RPATH.
bool load_chord() {
  array path = vfreshfile("virtual://root/chord.txt", nullptr);
  FILE* file = path.size > 0 ? fopen(static_cast<const char*>(path.data), "r") : nullptr;
  array_reset(&path);
  if (file == nullptr) return false;
  char line[128];
  while (chord.notes < kMaxNotes && fgets(line, sizeof line, file) != nullptr) {
    double hz = 0;
    if (line[0] != '#' && sscanf(line, "%lf", &hz) == 1 && hz > 0 && hz < 20000) chord.hz[chord.notes++] = hz;
  }
  fclose(file);
  return chord.notes > 0;
}

// Loudness from 0 to 1 at `ms` on the output clock.
double swell(double ms) { return 0.5 - 0.5 * cos(2 * M_PI * fmod(ms, kSwellMs) / kSwellMs); }

bool finished(const App* app, double ms) { return app->config.diskwriter && ms >= kLengthMs; }

int32_t audio_step(App* app) {
  audio_frame* frame = app->audio_frame;
  double ms = audio_frame_in_ms(frame);  // the block's first sample
  if (finished(app, ms)) return APP_END;
  float* left = nullptr;
  float* right = nullptr;
  audio_frame_define_stereo(frame, &left, &right);
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
    double t = ms / 1000.0 + static_cast<double>(i) / AUDIO_SAMPLE_RATE;
    double sample = 0;
    for (int n = 0; n < chord.notes; ++n) sample += sin(2 * M_PI * chord.hz[n] * t);
    left[i] = static_cast<float>(0.15 * swell(t * 1000.0) * sample / chord.notes);
    right[i] = left[i];
  }
  audio_frame_commit(frame);
  return APP_STEP;
}

int32_t display_step(App* app) {
  display_frame* frame = app->display_frame;
  double ms = display_frame_in_ms(frame);  // when this picture is seen
  if (finished(app, ms)) return APP_END;
  display_frame_define(frame, nullptr);  // the GL context is current until commit
  GLint view[4];
  glGetIntegerv(GL_VIEWPORT, view);
  double aspect = view[3] > 0 ? static_cast<double>(view[2]) / view[3] : 16.0 / 9.0;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-aspect, aspect, -1, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0.02f, 0.02f, 0.06f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  double level = swell(ms);
  for (int n = 0; n < chord.notes; ++n) {
    double radius = 0.2 + 0.6 * (n + 1) / chord.notes * (0.8 + 0.2 * level);
    float glow = static_cast<float>(0.3 + 0.7 * level);
    glColor3f(glow, glow * (0.4f + 0.1f * n), 1.0f - glow * 0.5f);
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < 128; ++k) {
      double a = 2 * M_PI * k / 128;
      double r = radius * (1 + 0.03 * level * sin((n + 3) * a + ms / 1000.0));
      glVertex2d(r * cos(a), r * sin(a));
    }
    glEnd();
  }
  display_frame_commit(frame);
  return APP_STEP;
}

int32_t @NAME_ID@(uint32_t stream, uint32_t phase, App* app) {
  switch (stream) {
    case APP_STREAM_APP:
      if (phase == APP_BEGIN) {
        app->config.name = "@NAME@";  // labels the clock; the stem of rendered files
        app->config.duration_ms = kLengthMs;  // a render's progress counts down to it
        if (!load_chord()) {
          fprintf(stderr, "ERROR: @NAME@: no notes in virtual://root/chord.txt\n");
          return APP_END;
        }
      }
      return APP_STEP;
    case APP_STREAM_AUDIO:
      return phase == APP_STEP ? audio_step(app) : phase == APP_BEGIN ? APP_STEP : APP_END;
    case APP_STREAM_DISPLAY:
      return phase == APP_STEP ? display_step(app) : phase == APP_BEGIN ? APP_STEP : APP_END;
    default:
      return APP_END;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int status = app_run(argc, argv, APP_STREAM_AUDIO | APP_STREAM_DISPLAY, @NAME_ID@);
  // A piece that ends itself at begin leaves the runtime's status at 0.
  return chord.notes == 0 && status == 0 ? 1 : status;
}
