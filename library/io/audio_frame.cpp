#include <cstring>

#include <zeal/base/perf.h>
#include <zeal/io/audio.h>

// Milliseconds of work per block as a fraction of the 5.805 ms block period.
static constexpr double kLoadPerMs = 0.172265625;

void audio_frame_reset(audio_frame* frame) {
  frame->state = 0;
  frame->frame_number = 0;
  frame->report_ms = get_milliseconds();
  frame->work_sum_ms = 0;
  frame->work_max_ms = 0;
  frame->work_count = 0;
  frame->first_output_ms = -1.0;
  frame->frame_ms = -1.0;
}

void audio_frame_define_stereo(audio_frame* frame, float** left, float** right) {
  frame->silent = 1;
  frame->state = 1;
  *left = frame->left;
  *right = frame->right;
  frame->define_ms = get_milliseconds();
}

void audio_frame_define_mono(audio_frame* frame, float** buffer) {
  frame->silent = 1;
  frame->state = 3;
  *buffer = frame->left;
  frame->define_ms = get_milliseconds();
}

static void count_work(audio_frame* frame) {
  double work = frame->commit_ms - frame->define_ms;
  frame->work_sum_ms += work;
  if (work > frame->work_max_ms) frame->work_max_ms = work;
  frame->work_count += 1;
  if (frame->commit_ms - frame->report_ms > 1000.0) {
    perf_log("audio-fps: %.2f, cpu-load: %.5f [max: %.5f]\n", 172.265625,
             frame->work_sum_ms / frame->work_count * kLoadPerMs, frame->work_max_ms * kLoadPerMs);
    frame->work_sum_ms = 0;
    frame->work_max_ms = 0;
    frame->work_count = 0;
    frame->report_ms = frame->commit_ms;
  }
}

void audio_frame_commit(audio_frame* frame) {
  frame->commit_ms = get_milliseconds();
  if (frame->state & 2) memcpy(frame->right, frame->left, AUDIO_FRAME_SAMPLES * sizeof(float));
  frame->state &= ~1;
  frame->silent = 0;
  count_work(frame);
}

void audio_frame_commit_none(audio_frame* frame) {
  frame->define_ms = frame->commit_ms = get_milliseconds();
  frame->silent = 1;
  count_work(frame);
}

double audio_frame_in_ms(const audio_frame* frame) { return frame->frame_ms; }
