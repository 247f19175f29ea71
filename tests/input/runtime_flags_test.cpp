// Control input with audio and display (flags 14): the control tick runs in
// the audio callback while audio runs, and moves to the display frames once
// the audio stream has quit, never running from both at once.
#include <gtest/gtest.h>
#include <GL/gl.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <vector>
#include <cstdlib>
#include <string>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/frame.h>
#include <zeal/base/thread.h>
#include "common/run_app.h"
#include <zeal/io/audio.h>
#include "midi_peer.h"

namespace {

struct Tick {
  pthread_t thread;
  int audio_running;  // audio's stream bit when the tick began
  double ms;
};

pthread_t main_thread;
pthread_t audio_thread;
int audio_known;
int quit_audio_silently;  // quit at the first step, before any sound
int audio_steps;
Tick ticks[400];
std::atomic<int> tick_count;
int ticks_on_main;

int32_t handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) main_thread = pthread_self();
    return APP_STEP;
  }
  if (stream == APP_STREAM_AUDIO) {
    if (phase != APP_STEP) return phase == APP_BEGIN ? APP_STEP : APP_END;
    audio_thread = pthread_self();
    audio_known = 1;
    if (quit_audio_silently || ++audio_steps > 100) return APP_END;
    float *left, *right;
    audio_frame_define_stereo(app->audio_frame, &left, &right);
    for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) left[i] = right[i] = 0.01f;
    audio_frame_commit(app->audio_frame);
    return APP_STEP;
  }
  if (stream == APP_STREAM_DISPLAY) {
    if (phase != APP_STEP) return phase == APP_BEGIN ? APP_STEP : APP_END;
    display_frame_define(app->display_frame, nullptr);
    glClear(GL_COLOR_BUFFER_BIT);
    display_frame_commit(app->display_frame);
    return APP_STEP;
  }
  if (stream != APP_STREAM_CONTROL_IN || phase != APP_STEP) return APP_STEP;
  ticks[tick_count++] = Tick{pthread_self(), app_has_stream(app, APP_STREAM_AUDIO) != 0, control_in_ms(app)};
  ticks_on_main += pthread_equal(pthread_self(), main_thread);
  // Enough seen: stop control input, then let the display end the program.
  return ticks_on_main < 30 && tick_count < 400 ? APP_STEP : APP_END;
}

int32_t display_ends_after_control(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_DISPLAY && phase == APP_STEP && !app_has_stream(app, APP_STREAM_CONTROL_IN))
    return APP_END;
  return handler(stream, phase, app);
}

void check_handover(int silently) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server for the audio output";
  std::string out;
  quit_audio_silently = silently;
  audio_known = audio_steps = tick_count = ticks_on_main = 0;
  ASSERT_EQ(run_app({"flags-test"}, APP_STREAM_CONTROL_IN | APP_STREAM_AUDIO | APP_STREAM_DISPLAY,
                    display_ends_after_control, &out),
            0)
      << out;
  std::vector<Tick> seen(ticks, ticks + tick_count);
  ASSERT_GE(seen.size(), 30u) << out;
  // Never two drivers: audio's thread while audio runs, the display's after.
  size_t first_on_main = seen.size();
  for (size_t i = 0; i < seen.size(); ++i) {
    const Tick& t = seen[i];
    bool on_main = pthread_equal(t.thread, main_thread), on_audio = audio_known && pthread_equal(t.thread, audio_thread);
    EXPECT_TRUE(on_main || on_audio) << "tick " << i;
    if (on_main && first_on_main == seen.size()) first_on_main = i;
    EXPECT_TRUE(i <= first_on_main || on_main) << "tick " << i << " after the display took over";
    EXPECT_TRUE(!on_audio || t.audio_running) << "tick " << i << " from a stopped audio stream";
  }
  EXPECT_TRUE(silently || first_on_main > 50u) << "audio drove the first ticks";
  // The clock time goes on across the handover, then a display frame per
  // tick, without a jump at the handover beyond what a stalled frame on a
  // busy machine can explain. (Audio blocks are stamped with when they will
  // be heard, which jitters with the sound card's clock, and may differ from
  // the display's stamps by the difference of their latencies. Once the
  // audio stream has completed, the clock still follows its stream time,
  // which was seen to step back by a few milliseconds now and then.)
  ASSERT_GE(seen.size() - first_on_main, 30u);
  for (size_t i = first_on_main + 1; i < seen.size(); ++i)
    EXPECT_GT(seen[i].ms, seen[i - 1].ms - 1000.0 / 30.0) << "tick " << i;
  EXPECT_TRUE(first_on_main == 0 || std::fabs(seen[first_on_main].ms - seen[first_on_main - 1].ms) < 2000.0);
}

}  // namespace

TEST(RuntimeFlags, ControlTickMovesFromAudioToDisplayWhenAudioQuits) { check_handover(0); }

// An audio stream that quits before it ever sounded keeps its callback
// running (silent); it must not go on ticking beside the display.
TEST(RuntimeFlags, SilentlyQuitAudioStopsDrivingTheControlTick) { check_handover(1); }
