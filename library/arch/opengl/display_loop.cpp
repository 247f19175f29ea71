#include <zeal/arch/opengl/display_loop.h>

#include <GL/glew.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/arch/opengl/capture.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/framebuffer_texture.h>
#include <zeal/base/log.h>
#include <zeal/base/perf.h>
#include <zeal/base/stop.h>
#include <zeal/base/thread.h>
#include <zeal/io/avstream.h>
#include <zeal/io/film.h>

namespace {

// Full-screen check: starts a switch when the wish and the mode differ.
void check_fullscreen(display_io_handle* handle) {
  display_io* io = handle->io;
  int active = io->platform->fullscreen_active();
  if (static_cast<int>(io->device->fullscreen_wanted != 0) == active) {
    io->switching = 0;
  } else if (!io->switching) {
    io->switching = 1;
    io->switch_attempts = 0;
    io->platform->toggle_fullscreen(handle);
  }
}

void skip_frame(display_io_handle* handle) {
  display_io* io = handle->io;
  io->platform->present(handle);
  if (io->switch_attempts > 4)
    log_info("not calling display function, switching to %s mode [f: %d].",
           io->device->fullscreen_wanted ? "fullscreen" : "windowed", io->switch_attempts);
  io->switch_attempts += 1;
  if (io->switch_attempts % 64 == 0) {
    log_info("trying to switch again");
    io->platform->toggle_fullscreen(handle);
  }
}

void count_frame(display_io* io, display_frame* shown, const display_frame* previous, int index) {
  display_stats* s = &io->stats;
  double d = shown->time - previous->time;
  double k = shown->commit_time - shown->define_time;
  s->display_sum += d;
  s->creation_sum += k;
  if (d > s->display_max) s->display_max = d;
  if (d < s->display_min) s->display_min = d;
  if (k > s->creation_max) s->creation_max = k;
  if (k < s->creation_min) s->creation_min = k;
  s->counted += 1;
  if (s->counted > 100 || s->display_sum > 1000.0) display_loop_report(io, index);
}

// The application has ended its display: leave, from a window.
void end_display(display_io_handle* handle) {
  display_device* device = handle->io->device;
  if (!device->fullscreen_wanted) {
    my_exit(handle->io);
    return;
  }
  device->fullscreen_wanted = 0;
  const display_platform* platform = handle->io->platform;
  if (platform->fullscreen_active()) {
    platform->toggle_fullscreen(handle);
    if (platform->fullscreen_active()) my_exit(handle->io);
  }
}

int stop_raised_for(const display_io* io) { return io->stop != nullptr && stop_raised(io->stop); }

int range_has_end(const display_io* io) { return io->range_to > io->range_from; }

// The range's last frame is kept: the display no longer holds the other
// outputs in lock step, and waits for the end of the rendering.
void finish_range(display_io* io) {
  io->range_finished = 1;
  if (io->channel != nullptr) avstream_channel_stop(io->channel);
  if (io->range_done != nullptr) io->range_done(io->range_user);
}

// Asked to stop: the window goes (its context's last users are told first)
// and display_io_finish leaves its loop.
void leave(display_io_handle* handle) {
  display_io* io = handle->io;
  io->platform->close(handle);
  io->left = 1;
}

}  // namespace

void display_loop_report(display_io* io, int frame_index) {
  display_stats* s = &io->stats;
  double md = s->display_sum / s->counted;
  double mk = s->creation_sum / s->counted;
  perf_stat("display-ms", md, s->display_max, s->display_min);
  perf_stat("cpu-ms", mk, s->creation_max, s->creation_min);
  perf_log(
      "display-fps: %.2f [%.2f .. %.2f], creation-fps: %.2f [%.2f .. %.2f], "
      "cpu-load: %.5f [%.2f .. %.2f]\n",
      1000.0 / md, 1000.0 / s->display_max, 1000.0 / s->display_min, 1000.0 / mk,
      1000.0 / s->creation_max, 1000.0 / s->creation_min, mk / md, s->creation_min / md,
      s->creation_max / md);
  framebuffer_texture* fbt = io->frames[frame_index].fb_texture;
  if (fbt != nullptr && fbt->blit_count > 0) {
    perf_log("framebuffer-blit-ms: %f\n", fbt->blit_ms / fbt->blit_count);
    fbt->blit_ms = 0.0;
    fbt->blit_count = 0;
  }
  display_stats_reset(s);
}

namespace {

// Offline pictures into the film, encoded on its own thread: read straight
// into its buffer, or copied from the capture when that is read already.
void capture_into_film(display_io* io, film* f, const image* read) {
  if (film_failed(f)) return;
  std::span<uint8_t> pixels = film_picture_buffer(f);
  if (pixels.size() != static_cast<size_t>(io->view_width) * io->view_height * 4) return;
  if (read != nullptr && read->pixels != nullptr && read->width == io->view_width && read->height == io->view_height) {
    memcpy(pixels.data(), read->pixels, pixels.size());
  } else {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, io->view_width, io->view_height, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
  }
  film_add_picture(f);
}

}  // namespace

void display_loop_capture(display_io* io) {
  if (io->writer == nullptr) {
    if (io->device->film != nullptr) capture_into_film(io, io->device->film, nullptr);
    return;
  }
  image* capture = &io->device->capture;
  if (capture->pixels == nullptr) return;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (capture->stride == capture->width) {
    glReadPixels(0, 0, capture->width, capture->height, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV,
                 capture->pixels);
  } else {
    for (int32_t y = 0; y < capture->height; ++y)
      glReadPixels(0, y, capture->width, 1, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV,
                   static_cast<unsigned char*>(capture->pixels) +
                       static_cast<size_t>(y) * capture->stride * 4);
  }

  const array* prefix = &io->device->file_prefix;
  const char* stem = prefix->size > 0 ? static_cast<const char*>(prefix->data) : "";
  char name[4200];
  // Numbered from the first frame the clock rolled, so that renderings of the
  // same piece give the same files, whole or in ranges.
  if (snprintf(name, sizeof name, "%s-%08d.tga", stem, io->rolled_frames) >= static_cast<int>(sizeof name))
    return;
  if (io->device->film != nullptr) capture_into_film(io, io->device->film, capture);
  capture_write(io->writer, capture, name);
}

void display_loop_step(display_io_handle* handle) {
  display_io* io = handle->io;
  display_device* device = io->device;
  if (io->left) return;
  if (stop_raised_for(io)) {
    leave(handle);
    return;
  }
  if (io->range_finished) {
    inthread_sleep(1.0);
    return;
  }
  io->platform->attach_input(device, 0);

  const int c = io->current, n = 1 - c;
  display_frame* previous = &io->frames[c];
  display_frame* frame = &io->frames[n];
  double t = device->offline ? io->frame_counter * io->period : io->clock();
  double now = io->presentation_offset + (t - frame->start);
  if (io->frame_counter == 0) {
    previous->start = frame->start = t;
    std::atomic_ref<double>(previous->shown_at).store(-io->period, std::memory_order_relaxed);
    now = io->presentation_offset;
  } else {
    // Paced from the device time at which the last frame was begun: pacing
    // from its presentation (shown-at, taken after the swap) would add each
    // frame's drawing and swap time to the period.
    double wait = 0.95 * io->period - (t - frame->start - io->last_frame_at);
    if (wait > 0.0) {
      // Not due. Swapping again here would copy the whole picture once more
      // per idle call (a software renderer then misses the frame times) and,
      // with flipping buffers, show the frame before last; idle calls come
      // back at once, so spare the processor until the frame is near.
      inthread_sleep(wait < 2.0 ? wait : 2.0);
      return;
    }
  }
  io->last_frame_at = t - frame->start;
  frame->time = now;

  check_fullscreen(handle);
  int rolling = 1;
  if (io->channel != nullptr) {
    rolling = avstream_is_rolling(io->channel);
    if (!rolling) frame->time = 0.0;
    else if (device->offline)
      // Exactly one period per rendered frame from clock time 0, as the disk
      // writer counts its blocks, so that the files agree frame for frame.
      frame->time = io->rolled_frames * io->period;
    else
      frame->time = avstream_time(io->channel) + io->presentation_offset;
  }

  // A skipped frame still holds what it held a turn ago (none after it was
  // made or while the clock stood still), which says nothing of the end.
  int skipped = io->switching || io->switch_attempts > 4;
  if (skipped) {
    skip_frame(handle);
  } else {
    int kept = rolling && device->offline;
    // Frames before a range are computed as in a whole rendering, and not
    // rasterised: nothing of them reaches the picture or the files.
    int ahead = kept && io->rolled_frames < io->range_from;
    if (ahead) glEnable(GL_RASTERIZER_DISCARD);
    if (io->channel != nullptr && !rolling) display_frame_commit_none(frame);
    else if (io->display != nullptr) io->display(io->user, frame);
    if (ahead) glDisable(GL_RASTERIZER_DISCARD);
    // A frame during which the program was asked to stop is not kept: the
    // outputs end together at the request.
    if (stop_raised_for(io)) return;
    if (kept && !ahead) {
      io->platform->resolve(handle);
      display_loop_capture(io);
      handle->frames_kept += 1;
      if (io->report_progress) progress_frame(&io->progress);
    }
    if (kept) io->rolled_frames += 1;
    io->platform->present(handle);
    double shown = device->offline ? io->period + previous->shown_at : io->clock() - frame->start;
    // The clock's thread reads the presented frame's time (device_base_telltime).
    std::atomic_ref<double>(frame->shown_at).store(shown, std::memory_order_relaxed);
    if (io->channel != nullptr) avstream_channel_advance(io->channel, shown, shown + io->period);
    count_frame(io, frame, previous, n);
    std::atomic_ref<int32_t>(io->current).store(n, std::memory_order_release);
    io->frame_counter += 1;
    if (device->offline && range_has_end(io) && io->rolled_frames >= io->range_to) {
      finish_range(io);
      return;
    }
  }

  if (!skipped && rolling && frame->none) end_display(handle);
}

void display_make_context(display_io* io) {
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  frame_newcontext(&io->frames[0], io->device);
  frame_sharecontext(&io->frames[1], &io->frames[0]);
  if (io->attach != nullptr) io->attach(io->user, io->frames[0].context);
}

void display_release_context(display_io* io) {
  if (io->detach != nullptr) io->detach(io->user, io->frames[0].context);
  for (display_frame& frame : io->frames) {
    frame_closecontext(&frame);
    frame_drop_texture(&frame);
  }
}
