#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "piece/pipe.h"

// A grain's start phase is rounded from a float and may land on a whole
// cycle: that is phase 0, not one row past the end of the sine table.
TEST(Pipe, AGrainStartingAtAWholeCycleReadsTheTableFromItsStart) {
  auto* pipe = static_cast<pipe_group*>(calloc(1, sizeof(pipe_group)));
  pipe_make(pipe, 7.7f);
  const float envelope[3] = {1.0f, 1.0f, 1.0f};
  float at_cycle[3] = {}, at_zero[3] = {};
  int32_t increment = pipe_note_increment(69);
  int32_t after = pipe_render_scalar(pipe->sine4, envelope, 3, PIPE_CYCLE, increment, at_cycle);
  EXPECT_EQ(after, pipe_render_scalar(pipe->sine4, envelope, 3, 0, increment, at_zero));
  EXPECT_EQ(0, memcmp(at_cycle, at_zero, sizeof at_zero));
  pipe_free(pipe);
  free(pipe);
}
