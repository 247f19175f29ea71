// Audio output: blocks of 256 stereo float frames at 44100 Hz, played through
// PortAudio or written to a sound file by the disk writer.
#pragma once
#include <cstdint>

#include <zeal/base/thread.h>

constexpr int AUDIO_FRAME_SAMPLES = 256;
constexpr double AUDIO_SAMPLE_RATE = 44100.0;
// 256 frames at 44.1 kHz, in milliseconds.
constexpr double AUDIO_BLOCK_MS = 5.804988662131519;

struct avstream_channel;

struct audio_frame {
  int32_t state;   // bit 0: defined, not yet committed; bit 1: mono
  int32_t silent;  // the block carries no samples
  float* left;
  float* right;
  int32_t frame_number;
  double first_output_ms;
  double define_ms;
  double commit_ms;
  double frame_ms;  // the block's time on the output clock
  double report_ms;
  double work_sum_ms;
  double work_max_ms;
  int32_t work_count;
};

using audio_callback = void (*)(void* arg, audio_frame* frame);

enum { AUDIO_DEVICE_FILE_WRITER = 0, AUDIO_DEVICE_REALTIME = 1 };

struct audio_device {
  int32_t kind;
  audio_callback callback;
  void* callback_arg;
  int32_t sounding;
  avstream_channel* channel;
  int32_t frames;
};

struct audio_io;

// Frame operations for the handler, between define and commit.
void audio_frame_define_stereo(audio_frame* frame, float** left, float** right);
void audio_frame_define_mono(audio_frame* frame, float** buffer);
void audio_frame_commit(audio_frame* frame);
void audio_frame_commit_none(audio_frame* frame);
double audio_frame_in_ms(const audio_frame* frame);
// Starts a frame's statistics (report time now, sums zero, times unknown).
void audio_frame_reset(audio_frame* frame);

// The audio I/O and its devices.
void audio_io_make(audio_io** io);
void audio_io_define(audio_io* io, audio_device*** list);
int audio_device_is_realtime(const audio_device* device);
int audio_device_command(audio_device* device, const char* command, const char* value);
void audio_device_attach(audio_device* device, audio_callback callback, void* arg);
// Opens the file writer's file, or the realtime stream, and starts it;
// paNoError (0) when it runs.
int audio_io_commit(audio_io* io, audio_device* device);
// Ends the committed device (the disk writer finishes its file, a realtime
// stream is stopped and closed) and frees the I/O record.
// `samples_kept`, when given, receives the sample frames the file writer kept
// in its recording (0 for a realtime device).
void audio_io_finish(audio_io** io, int64_t* samples_kept = nullptr);

// The stop that the disk writer watches (it ends its recording when one is
// raised) and raises itself, with status 1, when its file cannot be written.
struct stop_request;
void audio_io_watch(audio_io* io, stop_request* stop);
// The file writer hands its sound to `f` instead of writing a WAV file.
struct film;
void audio_file_writer_set_film(audio_device* device, film* f);
// The file writer keeps only sample frames [from, to) of the recording (to <=
// from: to the end) and calls `done(user)` once it has them.
void audio_file_writer_set_range(audio_device* device, int64_t from, int64_t to, void (*done)(void* user),
                                 void* user);
