#include <gtest/gtest.h>

#include <vector>

#include <zeal/base/array.h>

TEST(Array, GrowsZeroedAndTruncatesInPlace) {
  array a{};
  *static_cast<int32_t*>(array_allocate(&a, 4, 0)) = 7;
  auto* far = static_cast<int32_t*>(array_allocate(&a, 4, 3));
  ASSERT_NE(far, nullptr);
  EXPECT_EQ(std::vector<int32_t>(static_cast<int32_t*>(a.data), far + 1), (std::vector<int32_t>{7, 0, 0, 0}));
  // An index already inside the array returns it without touching the size.
  EXPECT_EQ(array_allocate(&a, 4, 1), static_cast<char*>(a.data) + 4);
  EXPECT_EQ(array_allocate(&a, 4, -1), nullptr);
  array_truncate(&a, 4, 3);
  array_truncate(&a, 4, 5);  // truncation never grows
  EXPECT_EQ(a.size, 12);
  EXPECT_EQ(array_element(&a, 4, 3), nullptr);
  array_reset(&a);
}

TEST(Array, FailureIsStickyUntilReset) {
  array a{}, empty{}, failed{};
  array_cat(&a, &empty);
  EXPECT_EQ(a.failed, 0);
  array_cats(&a, "keep");
  array_fail(&failed);
  array_cat(&a, &failed);
  EXPECT_EQ(std::pair(a.failed, a.data), std::pair(1, static_cast<void*>(nullptr)));
  array_cats(&a, "more");
  EXPECT_EQ(a.size, 0);
  EXPECT_EQ(array_count(&a, 4), -1);
  EXPECT_EQ(array_allocate(&a, 4, 0), nullptr);
  array_reset(&a);
  EXPECT_EQ(a.failed, 0);
}

TEST(Array, OversizedRequestsFailInsteadOfOverflowing) {
  array a{};
  EXPECT_EQ(array_allocate(&a, 1 << 20, 1 << 20), nullptr);
  EXPECT_EQ(a.failed, 0);  // allocate leaves the array as it was
  EXPECT_EQ(array_grow(&a, -1), 0);
  EXPECT_EQ(a.failed, 1);
  array_reset(&a);
}
