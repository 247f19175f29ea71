// A film: rendered pictures as H.264 and sound as AAC in one file, written in
// process with FFmpeg's libraries while the piece renders.
//
// Pictures are handed over from one thread and encoded on the film's own
// thread (at most one waits); sound is encoded on the thread that hands it
// over. For .mp4 and .mov the file is fragmented at every key frame, so that a
// film cut short (a full disk, a killed process) still plays up to its last
// whole fragment.
#pragma once
#include <cstdint>
#include <span>
#include <string>

struct film;
struct stop_request;

struct film_settings {
  int32_t width = 0, height = 0;  // pixels, even numbers
  int32_t frame_rate = 30;        // frames per second
  int32_t sample_rate = 44100;
  int32_t channels = 2;
  int32_t key_interval = 30;  // frames between key frames
  // x264's constant quantiser, speed preset and the tools turned back on over
  // it (x264's own option syntax), chosen on the piece's own frames: the
  // fastest preset alone falls below 45 dB luma PSNR on the detailed scenes.
  // With the deblocking filter at a constant quantiser of 20 it keeps 45 dB
  // and more there. A constant quantiser spares x264 the analysis a rate
  // factor needs: about 30 % less time than a rate factor of 20 with the
  // small intra partitions (the same quality), for about a fifth more bytes.
  int32_t qp = 20;
  std::string preset = "ultrafast";
  std::string tuning = "deblock=0,0";
  int32_t audio_bit_rate = 192000;
};

// Opens `path` for writing, before anything is drawn: checks that its
// extension names a format that can hold H.264 and AAC, makes its directory
// (as mkdir -p would) and opens the file. On failure returns null, leaves no
// file and sets *why to a short reason; the caller prints
// ERROR: cannot write film "<path>": <why>.
// A write that fails later prints that line itself once, marks the film
// failed and raises `stop` (which may be null) with status 1.
film* film_open(const char* path, const film_settings& settings, stop_request* stop,
                std::string* why);

// The buffer to read the next picture into: width * height * 4 bytes of
// RGBA, rows bottom first (as glReadPixels gives them with GL_RGBA and
// GL_UNSIGNED_INT_8_8_8_8_REV). Waits while the encoder still holds it.
std::span<uint8_t> film_picture_buffer(film* f);
// Queues the picture in that buffer as the next video frame and returns;
// 0 once the film has failed or is finished.
int film_add_picture(film* f);
// Appends interleaved samples (frames * channels); 0 once the film has failed
// or is finished. One thread at a time.
int film_add_sound(film* f, std::span<const float> interleaved);

// Encodes what is queued, flushes the encoders and closes the file, once both
// pictures and sound have stopped coming; 1 when the film is complete.
int film_finish(film* f);
// Also finishes, if that has not been done.
void film_destroy(film* f);
int film_failed(const film* f);
