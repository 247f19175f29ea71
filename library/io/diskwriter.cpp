// The disk writer: renders audio blocks as fast as the handler makes them and
// writes them to a WAV file in groups of 8, in lock step with the clock.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/audio_devices.h"
#include "io/avstream.h"

namespace {

constexpr double kMsPerFrame = 1000.0 / 44100.0;
constexpr int kBlockFloats = 2 * AUDIO_FRAME_SAMPLES;

// Guards the blocks and the file of the writer being run against the exit
// hook, which may come from any thread. Never held while the handler runs or
// while the clock makes the writer wait.
thread_lock writer_lock;
audio_file_writer* active_writer;
thread_local int on_writer_thread;
// When the current block's callback began (writer thread only).
thread_local double block_started_ms;

void interleave(const audio_frame* frame, float* block) {
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
    block[2 * i] = frame->left[i];
    block[2 * i + 1] = frame->right[i];
  }
}

void write_blocks(audio_file_writer* writer, int count) {
  avstream_channel* channel = writer->head.channel;
  if (writer->file != nullptr && count >= 1 && (channel == nullptr || avstream_is_rolling(channel)))
    sf_writef_float(writer->file, writer->blocks, static_cast<sf_count_t>(count) * AUDIO_FRAME_SAMPLES);
}

void close_file(audio_file_writer* writer) {
  if (writer->file != nullptr) sf_close(writer->file);
  writer->file = nullptr;
  writer->closed = 1;
}

void open_file(audio_file_writer* writer) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | writer->sample_type;
  const char* name = writer->file_name;
  if (!sf_format_check(&info)) {
    printf("ERROR: cannot write sound file \"%s\": format 0x%x refused\n", name, info.format);
    return;
  }
  writer->file = sf_open(name, SFM_WRITE, &info);
  if (writer->file == nullptr) {
    printf("ERROR: cannot write sound file \"%s\": %s\n", name, sf_strerror(nullptr));
    return;
  }
  sf_command(writer->file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
}

// One block: render, check, store; 0 when the recording ends.
int render_block(audio_io* io, audio_file_writer* writer) {
  audio_device* device = &writer->head;
  audio_frame* frame = &writer->frame;
  int slot = writer->buffer_index;
  frame->frame_ms = device->frames * kMsPerFrame;
  block_started_ms = get_milliseconds();
  device->callback(device->callback_arg, frame);

  int stopping = 0;
  if (frame->state & 1) {
    printf("defined frame without corresponding commit!\n");
    stopping = 1;
  } else {
    frame->frame_number += 1;
    if (frame->silent) stopping = 1;
  }

  avstream_channel* channel = device->channel;
  // Blocks rendered before the clock rolls are not part of the recording:
  // the file starts at clock time 0, as the rendered pictures do.
  int rolling = channel == nullptr || avstream_is_rolling(channel);
  inthread_lock(&writer_lock);
  if (writer->closed) {
    inthread_unlock(&writer_lock);
    return 0;
  }
  io->finished.store(stopping);
  interleave(frame, writer->blocks + slot * kBlockFloats);
  int filled = rolling ? slot + 1 : 0;
  if (stopping || filled == writer->buffer_count) {
    // The block that ends the recording is not written.
    write_blocks(writer, stopping ? filled - 1 : filled);
    writer->buffer_index = 0;
  } else {
    writer->buffer_index = filled;
  }
  inthread_unlock(&writer_lock);

  if (channel != nullptr) {
    if (rolling) device->frames += AUDIO_FRAME_SAMPLES;
    double t = frame->frame_ms;
    avstream_channel_advance(channel, t, t + AUDIO_BLOCK_MS);
  } else {
    device->frames += AUDIO_FRAME_SAMPLES;
  }
  return !stopping;
}

}  // namespace

void audio_diskwriter_prepare() {
  if (writer_lock.mutex == nullptr) thread_lock_make(&writer_lock);
}

void* diskwriter_thread(void* arg) {
  auto* io = static_cast<audio_io*>(arg);
  auto* writer = reinterpret_cast<audio_file_writer*>(io->committed);
  audio_device* device = &writer->head;
  device->sounding = 1;
  if (writer->sample_type == 0) writer->sample_type = SF_FORMAT_PCM_16;
  open_file(writer);

  audio_frame* frame = &writer->frame;
  audio_frame_reset(frame);
  frame->left = static_cast<float*>(calloc(AUDIO_FRAME_SAMPLES, sizeof(float)));
  frame->right = static_cast<float*>(calloc(AUDIO_FRAME_SAMPLES, sizeof(float)));
  on_writer_thread = 1;
  inthread_lock(&writer_lock);
  writer->closed = 0;
  active_writer = writer;
  inthread_unlock(&writer_lock);

  if (frame->left != nullptr && frame->right != nullptr)
    while (!io->finished.load() && render_block(io, writer)) {
    }

  inthread_lock(&writer_lock);
  close_file(writer);
  active_writer = nullptr;
  inthread_unlock(&writer_lock);
  on_writer_thread = 0;
  // Outputs held in lock step with this one must not wait for it any more.
  if (device->channel != nullptr) avstream_channel_stop(device->channel);

  free(frame->left);
  free(frame->right);
  frame->left = frame->right = nullptr;
  if (writer->file_name_owned) free(writer->file_name);
  writer->file_name = const_cast<char*>("/dev/null");
  writer->file_name_owned = 0;
  free(writer->blocks);
  writer->blocks = nullptr;
  return nullptr;
}

void audio_io_close_at_exit(void*) {
  if (writer_lock.mutex == nullptr) return;
  inthread_lock(&writer_lock);
  audio_file_writer* writer = active_writer;
  if (writer != nullptr && !writer->closed) {
    int count = writer->buffer_index;
    // Ending inside the handler on the writer's own thread (the audio stream
    // was the last to stop): the block it has just committed belongs in the file.
    const audio_frame* frame = &writer->frame;
    if (on_writer_thread && !(frame->state & 1) && !frame->silent && frame->commit_ms >= block_started_ms &&
        count < writer->buffer_count) {
      interleave(frame, writer->blocks + count * kBlockFloats);
      count += 1;
    }
    write_blocks(writer, count);
    writer->buffer_index = 0;
    close_file(writer);
  }
  inthread_unlock(&writer_lock);
}
