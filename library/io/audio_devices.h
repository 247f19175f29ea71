// The audio devices' own records, shared by the audio output and the disk
// writer (and by tests that drive a device's callback directly).
#pragma once
#include <portaudio.h>
#include <sndfile.h>

#include <atomic>

#include <zeal/io/audio.h>

constexpr int AUDIO_MAX_DEVICES = 16;
constexpr int AUDIO_MAX_REALTIME = 14;
constexpr int DISKWRITER_BLOCKS = 8;

struct film;
struct stop_request;

struct audio_io {
  audio_device* devices[AUDIO_MAX_DEVICES];  // file writer, realtime devices, null
  audio_device* committed;
  std::atomic<int32_t> finished;
  // Watched by the disk writer, and raised when its file cannot be written.
  stop_request* stop;
  int32_t portaudio;  // initialised by this record
};

struct audio_file_writer {
  audio_device head;
  char* file_name;
  int32_t file_name_owned;
  int32_t buffer_count;
  int32_t buffer_index;
  float* blocks;  // buffer_count blocks of 256 interleaved stereo frames
  SNDFILE* file;
  thread_handle thread;
  int32_t sample_type;  // libsndfile subtype: SF_FORMAT_PCM_16 or SF_FORMAT_FLOAT
  audio_io* io;
  audio_frame frame;
  int32_t failed;  // a write failed: the recording has ended
  // Only rolled sample frames [range_from, range_to) are written (no end
  // when range_to <= range_from); range_done(range_user) once they are.
  int64_t range_from;
  int64_t range_to;
  void (*range_done)(void* user);
  void* range_user;
  int64_t kept;  // sample frames kept in the recording
  struct film* film;  // the sound goes here instead of the file, when set
};

struct audio_realtime_device {
  audio_device head;
  PaStreamParameters parameters;
  PaStream* stream;
  audio_frame frame;
};

audio_device* audio_file_writer_make();
void audio_file_writer_free(audio_file_writer* writer);
// A realtime device for PortAudio device `index` (nothing opened yet).
audio_device* audio_realtime_make(int index, double latency);
// The frame part of a realtime commit: buffers, statistics, times unknown.
int audio_realtime_prepare(audio_realtime_device* device);
void audio_realtime_release(audio_realtime_device* device);
int portaudio_callback(const void* input, void* output, unsigned long frames,
                       const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags status, void* user);
double audio_device_time(void* device);

// Opens the writer's file; 0 (after an ERROR line) when it cannot be written.
int audio_file_writer_open(audio_file_writer* writer);
// The disk writer's thread body; its argument is the audio I/O record.
void* diskwriter_thread(void* io);
