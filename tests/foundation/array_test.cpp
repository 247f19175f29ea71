#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/array.h"

TEST(Array, GrowsToTwiceTheNeededSizeZeroedAndTruncatesInPlace) {
  array a{};
  auto* p = static_cast<int32_t*>(array_allocate(&a, 4, 0));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(*p, 0);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(a.capacity, 8);
  *p = 7;
  array_allocate(&a, 4, 3);
  EXPECT_EQ(a.size, 16);
  EXPECT_EQ(a.capacity, 32);
  // An index already inside the array returns it without touching the size.
  EXPECT_EQ(array_allocate(&a, 4, 1), static_cast<char*>(a.data) + 4);
  EXPECT_EQ(a.size, 16);
  EXPECT_EQ(*static_cast<int32_t*>(a.data), 7);
  EXPECT_EQ(array_allocate(&a, 4, -1), nullptr);
  void* data = a.data;
  array_truncate(&a, 4, 3);
  array_truncate(&a, 4, 5);  // truncation never grows
  EXPECT_EQ(a.size, 12);
  EXPECT_EQ(a.capacity, 32);
  EXPECT_EQ(array_element(&a, 4, 3), nullptr);
  EXPECT_EQ(array_element(&a, 4, 2), static_cast<char*>(data) + 8);
  array_reset(&a);
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0);

  array_cats(&a, "");
  array_cats(&a, nullptr);
  EXPECT_EQ(a.data, nullptr);
  array_cats(&a, "abc");
  array_cats(&a, "de");
  EXPECT_EQ(a.capacity, 6);  // twice the size the first append needed; the second fits
  EXPECT_EQ(std::string(static_cast<char*>(a.data), a.size), "abcde");
  array_reset(&a);
}

TEST(Array, FailureIsStickyUntilReset) {
  array a{};
  array empty{};
  array_cat(&a, &empty);
  EXPECT_EQ(a.failed, 0);
  array_cats(&a, "keep");
  array failed{};
  array_fail(&failed);
  array_cat(&a, &failed);
  EXPECT_EQ(a.failed, 1);
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.capacity, 0);
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
