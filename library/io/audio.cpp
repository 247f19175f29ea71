#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/base/log.h>
#include <zeal/base/stop.h>
#include <zeal/io/audio_devices.h>
#include <zeal/io/avstream.h>
#include <zeal/io/sound_libraries.h>

namespace {

constexpr double kMsPerFrame = 1000.0 / 44100.0;
constexpr size_t kBufferBytes = AUDIO_FRAME_SAMPLES * sizeof(float);

int in_list(const audio_io* io, const audio_device* device) {
  for (int i = 0; i < AUDIO_MAX_DEVICES && io->devices[i] != nullptr; ++i)
    if (io->devices[i] == device) return 1;
  return 0;
}

void free_device(audio_device* device) {
  if (device->kind == AUDIO_DEVICE_FILE_WRITER)
    audio_file_writer_free(reinterpret_cast<audio_file_writer*>(device));
  else
    free(device);
}

}  // namespace

audio_device* audio_file_writer_make() {
  auto* writer = static_cast<audio_file_writer*>(calloc(1, sizeof(audio_file_writer)));
  if (writer == nullptr) return nullptr;
  writer->head.kind = AUDIO_DEVICE_FILE_WRITER;
  writer->file_name = const_cast<char*>("/dev/null");
  writer->buffer_count = DISKWRITER_BLOCKS;
  writer->sample_type = SF_FORMAT_PCM_16;
  return &writer->head;
}

void audio_file_writer_free(audio_file_writer* writer) {
  if (writer->file_name_owned) free(writer->file_name);
  free(writer->blocks);
  free(writer);
}

audio_device* audio_realtime_make(int index, double latency) {
  auto* device = static_cast<audio_realtime_device*>(calloc(1, sizeof(audio_realtime_device)));
  if (device == nullptr) return nullptr;
  device->head.kind = AUDIO_DEVICE_REALTIME;
  device->parameters.device = index;
  device->parameters.channelCount = 2;
  device->parameters.sampleFormat = paFloat32;
  device->parameters.suggestedLatency = latency;
  device->parameters.hostApiSpecificStreamInfo = nullptr;
  return &device->head;
}

void audio_io_make(audio_io** result) {
  auto* io = static_cast<audio_io*>(calloc(1, sizeof(audio_io)));
  *result = io;
  if (io == nullptr) return;
  io->devices[0] = audio_file_writer_make();
  sound_libraries_quiet();
  if (io->devices[0] == nullptr || Pa_Initialize() != paNoError) return;
  io->portaudio = 1;

  int count = Pa_GetDeviceCount();
  int preferred = Pa_GetDefaultOutputDevice();
  int listed = 1;
  for (int i = 0; i < count && listed - 1 < AUDIO_MAX_REALTIME; ++i) {
    // The default output comes first: it and device 0 change places.
    int index = i;
    if (preferred > 0 && preferred < count) {
      if (i == 0) index = preferred;
      else if (i == preferred) index = 0;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    if (info == nullptr || info->maxOutputChannels < 2) continue;
    audio_device* device = audio_realtime_make(index, info->defaultLowOutputLatency);
    if (device != nullptr) io->devices[listed++] = device;
  }
}

void audio_io_define(audio_io* io, audio_device*** list) { *list = io != nullptr ? io->devices : nullptr; }

int audio_device_is_realtime(const audio_device* device) { return device->kind == AUDIO_DEVICE_REALTIME; }

double audio_device_time(void* arg) {
  auto* device = static_cast<audio_device*>(arg);
  if (device->kind == AUDIO_DEVICE_REALTIME) {
    PaStream* stream = reinterpret_cast<audio_realtime_device*>(device)->stream;
    return stream != nullptr ? Pa_GetStreamTime(stream) * 1000.0 : 0.0;
  }
  if (device->kind == AUDIO_DEVICE_FILE_WRITER) return device->frames * kMsPerFrame;
  return 0.0;
}

void audio_file_writer_set_film(audio_device* device, film* f) {
  if (device->kind == AUDIO_DEVICE_FILE_WRITER) reinterpret_cast<audio_file_writer*>(device)->film = f;
}

void audio_file_writer_set_range(audio_device* device, int64_t from, int64_t to, void (*done)(void* user),
                                 void* user) {
  if (device->kind != AUDIO_DEVICE_FILE_WRITER) return;
  auto* writer = reinterpret_cast<audio_file_writer*>(device);
  writer->range_from = from > 0 ? from : 0;
  writer->range_to = to;
  writer->range_done = done;
  writer->range_user = user;
}

int audio_device_command(audio_device* device, const char* command, const char* value) {
  if (strcmp(command, "stream_name") == 0) {
    device->channel = avstream_add_channel(value, audio_device_time, device);
    return 1;
  }
  if (device->kind != AUDIO_DEVICE_FILE_WRITER) return 0;
  auto* writer = reinterpret_cast<audio_file_writer*>(device);
  if (strcmp(command, "set-file") == 0) {
    if (writer->file_name_owned) free(writer->file_name);
    writer->file_name_owned = 0;
    writer->file_name = const_cast<char*>("/dev/null");
    if (value != nullptr) {
      char* copy = strdup(value);
      if (copy != nullptr) {
        writer->file_name = copy;
        writer->file_name_owned = 1;
      }
    }
    return 1;
  }
  if (strcmp(command, "set-sample-type") == 0) {
    writer->sample_type = value != nullptr && strcmp(value, "float") == 0 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
    return 1;
  }
  return 0;
}

void audio_device_attach(audio_device* device, audio_callback callback, void* arg) {
  device->callback = callback;
  device->callback_arg = arg;
  if (device->kind != AUDIO_DEVICE_FILE_WRITER) return;
  auto* writer = reinterpret_cast<audio_file_writer*>(device);
  writer->buffer_count = DISKWRITER_BLOCKS;
  writer->buffer_index = 0;
  free(writer->blocks);
  writer->blocks = static_cast<float*>(malloc(DISKWRITER_BLOCKS * 2 * kBufferBytes));
}

int audio_realtime_prepare(audio_realtime_device* device) {
  audio_frame* frame = &device->frame;
  audio_frame_reset(frame);
  frame->left = static_cast<float*>(calloc(AUDIO_FRAME_SAMPLES, sizeof(float)));
  frame->right = static_cast<float*>(calloc(AUDIO_FRAME_SAMPLES, sizeof(float)));
  return frame->left != nullptr && frame->right != nullptr;
}

void audio_realtime_release(audio_realtime_device* device) {
  free(device->frame.left);
  free(device->frame.right);
  device->frame.left = device->frame.right = nullptr;
}

int audio_io_commit(audio_io* io, audio_device* device) {
  if (device == nullptr || !in_list(io, device)) {
    io->committed = nullptr;
    io->finished.store(1);
    return paInvalidDevice;
  }
  io->committed = device;
  io->finished.store(device->callback == nullptr ? 1 : 0);
  device->sounding = 0;
  if (device->kind == AUDIO_DEVICE_FILE_WRITER) {
    auto* writer = reinterpret_cast<audio_file_writer*>(device);
    writer->io = io;
    if (writer->sample_type == 0) writer->sample_type = SF_FORMAT_PCM_16;
    PaError error = paNoError;
    if (writer->blocks == nullptr) error = paInsufficientMemory;
    else if (writer->file_name_owned && !audio_file_writer_open(writer)) error = paBadIODeviceCombination;
    else if (thread_start(&writer->thread, diskwriter_thread, io) != 0) error = paInternalError;
    if (error != paNoError) io->finished.store(1);
    return error;
  }
  auto* realtime = reinterpret_cast<audio_realtime_device*>(device);
  if (!audio_realtime_prepare(realtime)) {
    io->finished.store(1);
    return paInsufficientMemory;
  }
  PaError error = Pa_OpenStream(&realtime->stream, nullptr, &realtime->parameters, AUDIO_SAMPLE_RATE,
                                AUDIO_FRAME_SAMPLES, paDitherOff, portaudio_callback, realtime);
  if (error == paNoError) {
    error = Pa_StartStream(realtime->stream);
    if (error != paNoError) Pa_CloseStream(realtime->stream);
  }
  if (error != paNoError) {
    realtime->stream = nullptr;
    io->finished.store(1);
  }
  return error;
}

int portaudio_callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                       PaStreamCallbackFlags, void* user) {
  // Only while in here: whoever drives the callback may be an ordinary thread
  // outside it (a host's, a test's).
  log_realtime_scope realtime;
  auto* device = static_cast<audio_realtime_device*>(user);
  if (frames != AUDIO_FRAME_SAMPLES) return paComplete;
  audio_frame* frame = &device->frame;
  avstream_channel* channel = device->head.channel;
  double t = time->outputBufferDacTime * 1000.0;
  if (frame->first_output_ms <= 0) frame->first_output_ms = t;

  int call = 1;
  if (channel != nullptr) {
    frame->frame_ms = avstream_reltime(channel, t);
    if (!avstream_is_rolling(channel)) {
      audio_frame_commit_none(frame);
      call = 0;
    }
  } else {
    frame->frame_ms = t - frame->first_output_ms;
  }
  if (call) {
    if (device->head.callback != nullptr)
      device->head.callback(device->head.callback_arg, frame);
    else
      audio_frame_commit_none(frame);
  }

  int result = paContinue;
  int silent = frame->silent;
  if (frame->state & 1) {
    log_info("defined frame without corresponding commit!");
    result = paComplete;
    silent = 1;
  } else {
    frame->frame_number += 1;
    if (device->head.sounding) {
      if (frame->silent) result = paComplete;
    } else if (!frame->silent) {
      device->head.sounding = 1;
    }
  }

  auto* out = static_cast<float*>(output);
  if (silent) {
    memset(out, 0, 2 * kBufferBytes);
  } else {
    for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
      out[2 * i] = frame->left[i];
      out[2 * i + 1] = frame->right[i];
    }
  }
  device->head.frames += AUDIO_FRAME_SAMPLES;
  if (channel != nullptr) avstream_channel_advance(channel, t, t + AUDIO_BLOCK_MS);
  return result;
}

void audio_io_watch(audio_io* io, stop_request* stop) {
  if (io != nullptr) io->stop = stop;
}

namespace {

int stop_raised_for(const audio_io* io) { return io->stop != nullptr && stop_raised(io->stop); }

void finish_realtime(audio_io* io, audio_realtime_device* device) {
  if (device->stream != nullptr) {
    // Without a stop to watch, the stream ends when its handler goes silent.
    while (!stop_raised_for(io) && Pa_IsStreamActive(device->stream) == 1) Pa_Sleep(10);
    // The stream's time is about to go: the clock keeps the last reading.
    if (device->head.channel != nullptr) avstream_channel_stop(device->head.channel);
    Pa_StopStream(device->stream);
    Pa_CloseStream(device->stream);
    device->stream = nullptr;
  }
  audio_realtime_release(device);
}

}  // namespace

void audio_io_finish(audio_io** pointer, int64_t* samples_kept) {
  audio_io* io = *pointer;
  if (samples_kept != nullptr) *samples_kept = 0;
  if (io == nullptr) return;
  audio_device* device = io->committed;
  if (device != nullptr) {
    if (device->channel != nullptr) avstream_start(device->channel, device->kind == AUDIO_DEVICE_FILE_WRITER);
    if (device->kind == AUDIO_DEVICE_FILE_WRITER) {
      auto* writer = reinterpret_cast<audio_file_writer*>(device);
      if (writer->thread.record != nullptr)
        while (!thread_waitfor(&writer->thread)) inthread_sleep(1.0);
      if (samples_kept != nullptr) *samples_kept = writer->kept;
    } else {
      finish_realtime(io, reinterpret_cast<audio_realtime_device*>(device));
    }
  }
  for (int i = 0; i < AUDIO_MAX_DEVICES && io->devices[i] != nullptr; ++i) {
    if (io->devices[i]->channel != nullptr) avstream_destroy(io->devices[i]->channel);
    free_device(io->devices[i]);
  }
  if (io->portaudio) Pa_Terminate();
  free(io);
  *pointer = nullptr;
}
