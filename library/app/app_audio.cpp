// Audio output glue of the main sequence: make, choose and name the device,
// attach the runtime's frame callback, commit, and wait for the end.
#include <portaudio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>
#include <zeal/app/bus.h>
#include <zeal/base/log.h>
#include <zeal/io/audio.h>
#include <zeal/io/avstream.h>

void audiofn(void* arg, audio_frame* frame) {
  auto* app = static_cast<App*>(arg);
  // Once audio has quit, the display frames run the control tick; an audio
  // stream that never sounded keeps calling back, and must not tick as well.
  if (app_has_stream(app, APP_STREAM_CONTROL_IN) &&
      (app_has_stream(app, APP_STREAM_AUDIO) || !app_has_stream(app, APP_STREAM_DISPLAY)))
    app_controlin(app, audio_frame_in_ms(frame));
  if (!app_has_stream(app, APP_STREAM_AUDIO)) {
    audio_frame_commit_none(frame);
    return;
  }
  app->audio_frame = frame;
  app_two_call_step(app, APP_STREAM_AUDIO);
  app->audio_frame = nullptr;
}

void app_audio_make(App* app) {
  audio_io_make(&app->audio_output);
  audio_io_watch(app->audio_output, &app->stop);
}

void app_audio_setup(App* app) {
  audio_device** list = nullptr;
  audio_io_define(app->audio_output, &list);
  audio_device* chosen = nullptr;
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i) {
    if (audio_device_is_realtime(list[i]) == !app->config.diskwriter) {
      chosen = list[i];
      break;
    }
  }
  if (chosen == nullptr) {
    app->config.streams &= ~static_cast<int32_t>(APP_STREAM_AUDIO);
    return;
  }
  if (app->config.diskwriter && app->config.diskwriter_path != nullptr) {
    std::string file = app_render_stem(app) + ".wav";
    audio_device_command(chosen, "set-file", file.c_str());
    audio_device_command(chosen, "set-sample-type", "float");
  }
  audio_device_command(chosen, "stream_name", app->config.name);
  audio_device_attach(chosen, audiofn, app);
  app->audio = chosen;
}

int app_audio_commit(App* app) {
  int error = audio_io_commit(app->audio_output, app->audio);
  if (error == paNoError) return 1;
  // A file that cannot be written ends the render before it starts; a sound
  // device that cannot be opened only leaves the program without sound.
  if (!audio_device_is_realtime(app->audio)) return 0;
  log_warning("no sound: %s", Pa_GetErrorText(error));
  app_quit(app, APP_STREAM_AUDIO);
  return 1;
}

void app_audio_start_clock(App* app) {
  if (app->audio != nullptr && app->audio->channel != nullptr)
    avstream_start(app->audio->channel, !audio_device_is_realtime(app->audio));
}

void app_audio_finish(App* app) {
  int64_t kept = 0;
  audio_io_finish(&app->audio_output, &kept);
  if (kept > 0) app->range_unreached = 0;
  app->audio = nullptr;
}