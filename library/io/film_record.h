// The film record, shared by the code that opens a film and the code that
// feeds and finishes it.
#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zeal/io/film.h>

template <class T, void (*Free)(T**)>
struct av_free_with {
  void operator()(T* p) const { Free(&p); }
};
struct av_format_free {
  void operator()(AVFormatContext* format) const {
    if (format->pb != nullptr) avio_closep(&format->pb);
    avformat_free_context(format);
  }
};
struct av_scaler_free {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
using av_codec_ptr = std::unique_ptr<AVCodecContext, av_free_with<AVCodecContext, avcodec_free_context>>;
using av_frame_ptr = std::unique_ptr<AVFrame, av_free_with<AVFrame, av_frame_free>>;
using av_packet_ptr = std::unique_ptr<AVPacket, av_free_with<AVPacket, av_packet_free>>;

struct film {
  std::string path;
  film_settings settings;
  stop_request* stop = nullptr;

  std::unique_ptr<AVFormatContext, av_format_free> format;
  bool header_written = false;
  std::mutex muxing;  // around the muxer, which both encoders write to

  av_codec_ptr video;
  AVStream* video_stream = nullptr;
  std::unique_ptr<SwsContext, av_scaler_free> scaler;
  av_frame_ptr picture;  // the encoder's input, in YUV 4:2:0
  av_packet_ptr video_packet;
  int64_t pictures_encoded = 0;

  // Two RGBA buffers: the caller reads into one while the encoder thread
  // converts the other.
  std::vector<uint8_t> buffers[2];
  std::mutex handoff;
  std::condition_variable changed;
  bool held[2] = {false, false};  // queued or being encoded
  int fill = 0;                   // the buffer the caller reads into next
  int take = 0;                   // the buffer the encoder takes next
  int queued = 0;
  bool closing = false;
  std::thread encoder;

  av_codec_ptr audio;
  AVStream* audio_stream = nullptr;
  av_frame_ptr sound;  // one encoder frame of planar samples, being filled
  av_packet_ptr audio_packet;
  int32_t sound_filled = 0;  // samples per channel in `sound`
  int64_t sound_sent = 0;    // samples per channel handed to the encoder

  std::atomic<int> failed{0};
  bool finished = false;
};

std::string av_error_text(int err);
// Marks the film failed; the first failure prints its ERROR line and raises the stop.
void film_fail(film* f, int err);
// Runs on the film's own thread until the film closes: encodes queued pictures.
void film_encode_pictures(film* f);
