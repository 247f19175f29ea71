// Feeding a film: pictures through the encoder thread, sound on the caller's
// thread, both into one muxer; and finishing it in order.
#include <algorithm>
#include <cstdio>

#include <zeal/base/log.h>
#include <zeal/base/stop.h>
#include <zeal/io/film_record.h>

namespace {

// Hands `frame` to the encoder (null flushes it) and writes out every packet
// it gives back; after a failure they are only let go. False once the film
// has failed.
bool encode(film* f, AVCodecContext* codec, const AVFrame* frame, AVStream* stream,
            AVPacket* packet) {
  int err = avcodec_send_frame(codec, frame);
  while (err >= 0) {
    err = avcodec_receive_packet(codec, packet);
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return f->failed.load() == 0;
    if (err < 0) break;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO && packet->duration == 0) {
      packet->duration = 1;
    }
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    std::lock_guard<std::mutex> hold(f->muxing);
    if (f->failed.load() != 0) {
      av_packet_unref(packet);
      continue;
    }
    err = av_interleaved_write_frame(f->format.get(), packet);
  }
  film_fail(f, err);
  return false;
}

bool encode_picture(film* f, const std::vector<uint8_t>& rgba) {
  AVFrame* picture = f->picture.get();
  int err = av_frame_make_writable(picture);
  if (err < 0) return film_fail(f, err), false;
  // Rows come bottom first: read them upwards from the last.
  int row_bytes = f->settings.width * 4;
  const uint8_t* upright[1] = {rgba.data() + static_cast<size_t>(f->settings.height - 1) * row_bytes};
  const int strides[1] = {-row_bytes};
  sws_scale(f->scaler.get(), upright, strides, 0, f->settings.height, picture->data,
            picture->linesize);
  picture->pts = f->pictures_encoded++;
  picture->pict_type =
      picture->pts % f->settings.key_interval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  return encode(f, f->video.get(), picture, f->video_stream, f->video_packet.get());
}

bool send_sound(film* f) {
  AVFrame* sound = f->sound.get();
  sound->nb_samples = f->sound_filled;
  sound->pts = f->sound_sent;
  f->sound_sent += f->sound_filled;
  f->sound_filled = 0;
  return encode(f, f->audio.get(), sound, f->audio_stream, f->audio_packet.get());
}

}  // namespace

std::string av_error_text(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

void film_fail(film* f, int err) {
  if (f->failed.exchange(1) != 0) return;
  log_error("cannot write film \"%s\": %s", f->path.c_str(), av_error_text(err).c_str());
  fflush(stdout);
  if (f->stop != nullptr) stop_raise(f->stop, 1);
}

void film_encode_pictures(film* f) {
  for (;;) {
    int index;
    {
      std::unique_lock<std::mutex> hold(f->handoff);
      f->changed.wait(hold, [f] { return f->queued > 0 || f->closing; });
      if (f->queued == 0) break;
      index = f->take;
    }
    // After a failure pictures are only let go.
    if (f->failed.load() == 0) encode_picture(f, f->buffers[index]);
    {
      std::lock_guard<std::mutex> hold(f->handoff);
      f->held[index] = false;
      f->take ^= 1;
      f->queued--;
    }
    f->changed.notify_all();
  }
  encode(f, f->video.get(), nullptr, f->video_stream, f->video_packet.get());
}

std::span<uint8_t> film_picture_buffer(film* f) {
  std::unique_lock<std::mutex> hold(f->handoff);
  f->changed.wait(hold, [f] { return !f->held[f->fill]; });
  return f->buffers[f->fill];
}

int film_add_picture(film* f) {
  if (f->failed.load() != 0) return 0;
  {
    std::unique_lock<std::mutex> hold(f->handoff);
    if (f->closing) return 0;
    f->changed.wait(hold, [f] { return !f->held[f->fill]; });
    f->held[f->fill] = true;
    f->fill ^= 1;
    f->queued++;
  }
  f->changed.notify_all();
  return 1;
}

int film_add_sound(film* f, std::span<const float> interleaved) {
  if (f->failed.load() != 0 || f->finished) return 0;
  const int channels = f->settings.channels;
  const int frame_size = f->audio->frame_size;
  AVFrame* sound = f->sound.get();
  const float* in = interleaved.data();
  for (size_t left = interleaved.size() / channels; left > 0;) {
    if (f->sound_filled == 0) {
      int err = av_frame_make_writable(sound);
      if (err < 0) return film_fail(f, err), 0;
    }
    int n = static_cast<int>(std::min<size_t>(left, frame_size - f->sound_filled));
    for (int c = 0; c < channels; ++c) {
      float* out = reinterpret_cast<float*>(sound->data[c]) + f->sound_filled;
      for (int i = 0; i < n; ++i) out[i] = in[i * channels + c];
    }
    in += static_cast<size_t>(n) * channels;
    left -= n;
    f->sound_filled += n;
    if (f->sound_filled == frame_size && !send_sound(f)) return 0;
  }
  return 1;
}

int film_finish(film* f) {
  if (f->finished) return f->failed.load() == 0;
  f->finished = true;
  {
    std::lock_guard<std::mutex> hold(f->handoff);
    f->closing = true;
  }
  f->changed.notify_all();
  if (f->encoder.joinable()) f->encoder.join();
  if (f->sound_filled > 0) send_sound(f);
  encode(f, f->audio.get(), nullptr, f->audio_stream, f->audio_packet.get());
  // Even after a failure: what the muxer holds may still fit, and it lets go
  // of its state in order.
  if (f->header_written) {
    int err = av_write_trailer(f->format.get());
    if (err < 0) film_fail(f, err);
  }
  if (f->format && f->format->pb != nullptr) {
    int err = avio_closep(&f->format->pb);
    if (err < 0) film_fail(f, err);
  }
  return f->failed.load() == 0;
}

void film_destroy(film* f) {
  if (f == nullptr) return;
  film_finish(f);
  delete f;
}

int film_failed(const film* f) { return f->failed.load(); }
