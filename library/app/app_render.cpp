// Rendering targets of the main sequence: the directory of files or the one
// film. Both are checked (and the film opened) after the outputs are chosen
// and before any of them starts, so that a target that cannot be written
// ends the program before anything is drawn; the film is finished once both
// outputs have ended.
#include <cmath>
#include <cstdio>
#include <string>

#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/base/directory.h>
#include <zeal/base/log.h>
#include <zeal/io/audio.h>
#include <zeal/io/film.h>

namespace {

// A draft's film is named apart from the final one: "-draft" before the
// extension, unless the name says so already.
std::string film_name(const App* app) {
  std::string path = app->config.film_path;
  if (!app->config.draft || path.find("draft") != std::string::npos) return path;
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  return path.substr(0, dot) + "-draft" + path.substr(dot);
}

int open_film(App* app) {
  std::string path = film_name(app);
  std::string why;
  if (app->display == nullptr) {
    why = "this program draws no pictures";
  } else {
    display_view view = display_device_view(app->display);
    film_settings settings;
    settings.width = view.width;
    settings.height = view.height;
    app->film = film_open(path.c_str(), settings, &app->stop, &why);
  }
  if (app->film == nullptr) {
    log_error("cannot write film \"%s\": %s", path.c_str(), why.c_str());
    return 0;
  }
  if (app->display != nullptr) display_device_set_film(app->display, app->film);
  if (app->audio != nullptr) audio_file_writer_set_film(app->audio, app->film);
  return 1;
}

// Each output that has its part of the range calls this; the last one ends
// the rendering.
void range_output_done(void* user) {
  auto* app = static_cast<App*>(user);
  if (app->range_outputs.fetch_sub(1) == 1) stop_raise(&app->stop, 0);
}

// Frames [from, to) of the pictures, and of the sound the samples that start
// at frame `from`: 1470 a frame at 44100 Hz and 30 frames a second.
void set_range(App* app) {
  int32_t from = app->config.range_from, to = app->config.range_to;
  if (from <= 0 && to <= from) return;
  app->range_unreached = 1;
  constexpr int64_t kSamplesPerFrame = static_cast<int64_t>(AUDIO_SAMPLE_RATE) / 30;
  int32_t outputs = (app->display != nullptr) + (app->audio != nullptr);
  app->range_outputs.store(outputs);
  if (app->display_io != nullptr && app->display != nullptr)
    display_io_set_range(app->display_io, from, to, range_output_done, app);
  if (app->audio != nullptr)
    audio_file_writer_set_range(app->audio, from * kSamplesPerFrame, to > from ? to * kSamplesPerFrame : -1,
                                range_output_done, app);
}

// A range that starts after the piece's last frame would draw nothing; where
// the handler knows the piece's length, that is said before anything is.
int check_range_start(App* app) {
  int32_t from = app->config.range_from;
  double frames = std::ceil(app->config.duration_ms * 30.0 / 1000.0);
  if (app->config.duration_ms <= 0.0 || from < frames) return 1;
  log_error("--range starts at frame %d, after the last frame of the piece (%.0f)", from, frames - 1);
  stop_raise(&app->stop, 2);
  return 0;
}

int check_directory(const App* app) {
  std::string path = app->config.diskwriter_path;
  std::string why = directory_make(path);
  if (why.empty()) why = directory_writable(path);
  if (why.empty()) return 1;
  log_error("cannot write into \"%s\": %s", path.c_str(), why.c_str());
  return 0;
}

}  // namespace

std::string app_render_stem(const App* app) {
  return std::string(app->config.diskwriter_path) + "/" + app->config.name + (app->config.draft ? "-draft" : "");
}

int app_render_prepare(App* app) {
  // Nothing renders without an output, and nothing is made for it.
  if (!app->config.diskwriter || (app->audio == nullptr && app->display == nullptr)) return 1;
  if (!check_range_start(app)) return 0;
  if (app->config.diskwriter_path != nullptr && !check_directory(app)) return 0;
  if (app->config.film_path != nullptr && !open_film(app)) return 0;
  set_range(app);
  if (app->display_io != nullptr) {
    // What the progress counts: the range's frames, or all of them.
    double period_ms = 1000.0 / 30.0;
    int32_t from = app->config.range_from, to = app->config.range_to;
    double total_ms = app->config.duration_ms;
    if (to > from) total_ms = (to - from) * period_ms;
    else if (total_ms > 0.0) total_ms -= from * period_ms;
    display_io_report_progress(app->display_io, total_ms > 0.0 ? total_ms : 0.0);
  }
  return 1;
}

void app_render_finish(App* app) {
  if (app->film != nullptr) {
    if (!film_finish(app->film)) stop_raise(&app->stop, 1);
    film_destroy(app->film);
    app->film = nullptr;
  }
  // A rendering that ended before its range began made nothing: not a
  // success, though it is only known now.
  if (app->range_unreached) {
    log_warning("nothing was rendered: the program ended before frame %d, where --range starts",
           app->config.range_from);
    stop_raise(&app->stop, 1);
  }
}
