#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "piece/prng.h"
#include "piece/reverb.h"

#if defined(__SSE2__)
// Four taps run side by side give, bit for bit, what each gives alone: from
// the first fade-in, through new lengths large and small (and out of range),
// settled stretches and heads wrapping at the buffer's end.
TEST(Reverb, TapsRunFourAtATimeAsEachAlone) {
  auto* r = static_cast<reverb*>(calloc(1, sizeof(reverb)));
  ASSERT_TRUE(reverb_make(r));
  auto* buffer = static_cast<float*>(r->buffer.data);
  const int32_t length = array_count(&r->buffer, sizeof(float));
  prng g{};
  prng_seed(&g, 7u);
  for (int32_t i = 0; i < length; ++i) buffer[i] = prng_draw_s(&g);
  reverb_tap alone[4], four[4];
  float base[4] = {40.0f, 300.5f, 2000.25f, (float)length - 200.0f};
  for (int l = 0; l < 4; ++l) {
    alone[l] = *reverb_tap_at(r, REVERB_FIXED_TAPS + l);
    alone[l].gain = 1.0f - 0.5f * l;
    four[l] = alone[l];
  }
  reverb_tap* const group[4] = {&four[0], &four[1], &four[2], &four[3]};
  static float lengths[256][4];
  static float values[256][4];
  int32_t write = length - 300;
  for (int block = 0; block < 12; ++block) {
    for (int k = 0; k < 256; ++k)
      for (int l = 0; l < 4; ++l) {
        // New every 32 samples, by steps of up to a few samples or a hair,
        // now and then out of range; the same through the last blocks.
        float step = k % 32 == 0 && block < 10 ? prng_draw_s(&g) * ((block + l) % 3 == 0 ? 0.05f : 3.0f) : 0.0f;
        base[l] = k % 32 == 0 && block == 5 && l == 2 ? -10.0f : base[l] + step;
        lengths[k][l] = block == 7 && l == 3 ? (float)length + 5.0f : base[l];
      }
    int32_t k1 = block == 9 ? 1 : 256;  // also a single sample
    reverb_taps_run4(group, 0, k1, &lengths[0][0], 4, write, values);
    for (int32_t k = 0; k < k1; ++k) {
      for (int l = 0; l < 4; ++l) {
        alone[l].target = lengths[k][l];
        float value = reverb_tap_read(&alone[l], (write + k) % length);
        ASSERT_EQ(0, memcmp(&value, &values[k][l], sizeof value)) << block << " " << k << " " << l;
      }
    }
    for (int l = 0; l < 4; ++l) {
      const reverb_tap &a = alone[l], &b = four[l];
      EXPECT_EQ(0, memcmp(a.head, b.head, sizeof a.head)) << block << " " << l;
      EXPECT_EQ(std::make_tuple(a.active, a.fade, a.target), std::make_tuple(b.active, b.fade, b.target));
      for (int h = 0; h < 2; ++h) {
        const reverb_allpass &p = a.allpass[h], &q = b.allpass[h];
        EXPECT_EQ(std::make_tuple(p.x1, p.y1, p.fraction_bits, p.q, p.known),
                  std::make_tuple(q.x1, q.y1, q.fraction_bits, q.q, q.known));
      }
    }
    write = (write + k1) % length;
  }
  reverb_free(r);
  free(r);
}
#endif
