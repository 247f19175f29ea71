// The disk writer: renders audio blocks as fast as the handler makes them and
// writes them to a WAV file in groups of 8, in lock step with the clock.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/base/log.h>
#include <zeal/base/stop.h>
#include <zeal/io/audio_devices.h>
#include <zeal/io/avstream.h>
#include <zeal/io/film.h>

namespace {

constexpr double kMsPerFrame = 1000.0 / 44100.0;
constexpr int kBlockFloats = 2 * AUDIO_FRAME_SAMPLES;

// A failed write ends the render: what is in the file stays readable, and
// the main thread is asked to stop the other outputs.
void fail(audio_file_writer* writer, const char* reason) {
  log_error("cannot write sound file \"%s\": %s", writer->file_name, reason);
  fflush(stdout);
  writer->failed = 1;
  if (writer->io->stop != nullptr) stop_raise(writer->io->stop, 1);
}

// Writes the frames kept so far.
void flush(audio_file_writer* writer) {
  int32_t count = writer->buffer_index;
  writer->buffer_index = 0;
  if (writer->failed || count < 1) return;
  // The film says itself what went wrong, and stops the render.
  size_t floats = static_cast<size_t>(count) * 2;
  if (writer->film != nullptr && !film_add_sound(writer->film, std::span<const float>(writer->blocks, floats)))
    writer->failed = 1;
  if (writer->file != nullptr && !writer->failed && sf_writef_float(writer->file, writer->blocks, count) != count)
    fail(writer, sf_strerror(writer->file));
}

// Keeps frames [first, first + count) of the block, interleaved, writing the
// buffer out whenever it is full.
void keep(audio_file_writer* writer, const audio_frame* frame, int32_t first, int32_t count) {
  const int32_t capacity = writer->buffer_count * AUDIO_FRAME_SAMPLES;
  for (int32_t i = first; i < first + count; ++i) {
    if (writer->buffer_index == capacity) flush(writer);
    float* out = writer->blocks + 2 * writer->buffer_index++;
    out[0] = frame->left[i];
    out[1] = frame->right[i];
  }
  writer->kept += count > 0 ? count : 0;
}

int range_has_end(const audio_file_writer* writer) { return writer->range_to > writer->range_from; }

// One block: render, check, keep what belongs to the recording; 0 when the
// recording ends.
int render_block(audio_io* io, audio_file_writer* writer) {
  audio_device* device = &writer->head;
  audio_frame* frame = &writer->frame;
  frame->frame_ms = device->frames * kMsPerFrame;
  device->callback(device->callback_arg, frame);

  int stopping = 0;
  if (frame->state & 1) {
    log_info("defined frame without corresponding commit!");
    stopping = 1;
  } else {
    frame->frame_number += 1;
    if (frame->silent) stopping = 1;
  }

  avstream_channel* channel = device->channel;
  // Blocks rendered before the clock rolls are not part of the recording:
  // the file starts at clock time 0, as the rendered pictures do. The block
  // that ends the recording is not part of it either.
  int rolling = channel == nullptr || avstream_is_rolling(channel);
  if (rolling && !stopping) {
    int64_t start = device->frames;
    int64_t from = start > writer->range_from ? start : writer->range_from;
    int64_t to = start + AUDIO_FRAME_SAMPLES;
    if (range_has_end(writer) && writer->range_to < to) to = writer->range_to;
    if (to > from) keep(writer, frame, static_cast<int32_t>(from - start), static_cast<int32_t>(to - from));
  }
  if (stopping) flush(writer);
  io->finished.store(stopping);

  if (channel != nullptr) {
    if (rolling) device->frames += AUDIO_FRAME_SAMPLES;
    double t = frame->frame_ms;
    avstream_channel_advance(channel, t, t + AUDIO_BLOCK_MS);
  } else {
    device->frames += AUDIO_FRAME_SAMPLES;
  }
  if (range_has_end(writer) && device->frames >= writer->range_to) {
    flush(writer);
    io->finished.store(1);
    if (writer->range_done != nullptr) writer->range_done(writer->range_user);
    return 0;
  }
  return !stopping && !writer->failed;
}

}  // namespace

int audio_file_writer_open(audio_file_writer* writer) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | writer->sample_type;
  const char* name = writer->file_name;
  if (!sf_format_check(&info)) {
    log_error("cannot write sound file \"%s\": format 0x%x refused", name, info.format);
    return 0;
  }
  writer->file = sf_open(name, SFM_WRITE, &info);
  if (writer->file == nullptr) {
    log_error("cannot write sound file \"%s\": %s", name, sf_strerror(nullptr));
    return 0;
  }
  sf_command(writer->file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  // The peak chunk carries the time of writing: without it, renderings of
  // the same piece give the same bytes.
  sf_command(writer->file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  return 1;
}

void* diskwriter_thread(void* arg) {
  auto* io = static_cast<audio_io*>(arg);
  auto* writer = reinterpret_cast<audio_file_writer*>(io->committed);
  audio_device* device = &writer->head;
  device->sounding = 1;

  audio_frame* frame = &writer->frame;
  audio_frame_reset(frame);
  frame->left = static_cast<float*>(calloc(AUDIO_FRAME_SAMPLES, sizeof(float)));
  frame->right = static_cast<float*>(calloc(AUDIO_FRAME_SAMPLES, sizeof(float)));

  // A stop asked for by anyone ends the recording after the block in hand.
  if (frame->left != nullptr && frame->right != nullptr)
    while (!io->finished.load() && (io->stop == nullptr || !stop_raised(io->stop)) &&
           render_block(io, writer)) {
    }
  flush(writer);
  if (writer->file != nullptr) sf_close(writer->file);
  writer->file = nullptr;
  // Outputs held in lock step with this one must not wait for it any more.
  if (device->channel != nullptr) avstream_channel_stop(device->channel);

  free(frame->left);
  free(frame->right);
  frame->left = frame->right = nullptr;
  return nullptr;
}
