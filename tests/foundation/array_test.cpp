#include <gtest/gtest.h>

#include <string>

#include "base/array.h"

TEST(Array, GrowsZeroedTruncatesInPlaceAndAppends) {
  array a{};
  auto* p = static_cast<int32_t*>(array_allocate(&a, 4, 0));
  ASSERT_NE(p, nullptr);
  *p = 7;
  auto* far = static_cast<int32_t*>(array_allocate(&a, 4, 3));
  ASSERT_NE(far, nullptr);
  EXPECT_EQ(*far, 0);
  EXPECT_EQ(a.size, 16);
  EXPECT_EQ(*static_cast<int32_t*>(a.data), 7);  // kept across the growth
  // An index already inside the array returns it without touching the size.
  EXPECT_EQ(array_allocate(&a, 4, 1), static_cast<char*>(a.data) + 4);
  EXPECT_EQ(a.size, 16);
  EXPECT_EQ(array_allocate(&a, 4, -1), nullptr);
  array_truncate(&a, 4, 3);
  array_truncate(&a, 4, 5);  // truncation never grows
  EXPECT_EQ(a.size, 12);
  EXPECT_EQ(array_element(&a, 4, 3), nullptr);
  EXPECT_EQ(array_element(&a, 4, 2), static_cast<char*>(a.data) + 8);
  array_reset(&a);
  EXPECT_EQ(std::pair(a.data, a.size), std::pair(static_cast<void*>(nullptr), 0));

  array_cats(&a, "");
  array_cats(&a, nullptr);
  EXPECT_EQ(a.data, nullptr);
  array_cats(&a, "abc");
  array_cats(&a, "de");
  EXPECT_EQ(std::string(static_cast<char*>(a.data), a.size), "abcde");
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
