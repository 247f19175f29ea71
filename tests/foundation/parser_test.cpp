#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/parser.h"

namespace {

// A parser over a text given with its length (so it may hold zero bytes).
struct Text {
  std::string bytes;
  parser p{};
  explicit Text(std::string s) : bytes(std::move(s)) {
    parser_make(&p, bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  ~Text() { parser_free(&p); }
  int32_t at() const { return parser_position(&p); }
};

int32_t Int(const std::string& s, int* ok, int32_t* position = nullptr) {
  Text t(s);
  int32_t value = -999;
  *ok = parse_a_signed_decimal_c_integer(&t.p, &value);
  if (position) *position = t.at();
  EXPECT_EQ(t.p.top, 0);
  return value;
}

double Double(const std::string& s, int* ok, int32_t* position) {
  Text t(s);
  double value = -999;
  *ok = parse_a_decimal_c_double(&t.p, &value);
  *position = t.at();
  EXPECT_EQ(t.p.top, 0);
  return value;
}

}  // namespace

TEST(Parser, StackBeginsCommitsAndRollsBack) {
  Text t("abc");
  EXPECT_EQ(t.p.top, 0);
  EXPECT_EQ(array_count(&t.p.positions, 4), 1);
  char c;
  private_parser_begin(&t.p);
  ASSERT_TRUE(parser_next_char(&t.p, &c));
  EXPECT_EQ(c, 'a');
  private_parser_begin(&t.p);
  parser_next_char(&t.p, &c);
  EXPECT_EQ(t.at(), 2);
  parser_rollback(&t.p);
  EXPECT_EQ(t.at(), 1);
  parser_commit(&t.p);
  EXPECT_EQ(t.p.top, 0);
  EXPECT_EQ(t.at(), 1);
  // The stack is truncated, not freed, so nested parses reuse it.
  EXPECT_EQ(t.p.positions.size, 4);
  EXPECT_GE(t.p.positions.capacity, 12);
  // Rolling back at the bottom keeps the one position.
  parser_rollback(&t.p);
  EXPECT_EQ(t.at(), 1);
}

TEST(Parser, StringsAndCharactersBacktrackOnFailure) {
  Text t("virtual://x");
  EXPECT_FALSE(parse_the_string(&t.p, "virtual:/x"));
  EXPECT_EQ(t.at(), 0);
  EXPECT_TRUE(parse_the_string(&t.p, ""));
  EXPECT_EQ(t.at(), 0);
  EXPECT_TRUE(parse_the_string(&t.p, "virtual://"));
  EXPECT_EQ(t.at(), 10);
  EXPECT_FALSE(parse_the_string(&t.p, "xy"));  // runs out of text
  EXPECT_EQ(t.at(), 10);
  char c = 0;
  EXPECT_FALSE(parse_a_digit(&t.p, &c));
  EXPECT_TRUE(parse_the_case_insensitive_char(&t.p, 'X', &c));
  EXPECT_EQ(c, 'x');
  EXPECT_FALSE(parse_the_string(&t.p, "x"));  // end of text
  EXPECT_FALSE(parse_a_sign(&t.p, &c));

  Text e("E-7");
  EXPECT_TRUE(parse_the_case_insensitive_char(&e.p, 'e', &c));
  EXPECT_EQ(c, 'E');
  EXPECT_TRUE(parse_a_sign(&e.p, &c));
  EXPECT_EQ(c, '-');
  EXPECT_TRUE(parse_a_digit(&e.p, &c));
  EXPECT_EQ(c, '7');

  // A zero byte in the text never matches a character of the string.
  Text z(std::string("a\0", 2));
  EXPECT_FALSE(parse_the_string(&z.p, "a0"));
  EXPECT_EQ(z.at(), 0);
}

TEST(Parser, ManyCharsStopsAfterTheZeroByte) {
  Text t(std::string("ab\0cd", 5));
  array out{};
  EXPECT_TRUE(parse_many_chars(&t.p, &out));
  EXPECT_EQ(out.size, 2);
  EXPECT_EQ(memcmp(out.data, "ab", 2), 0);
  EXPECT_EQ(t.at(), 3);
  EXPECT_TRUE(parse_many_chars(&t.p, &out));  // to the end of text
  EXPECT_EQ(out.size, 4);
  EXPECT_EQ(t.at(), 5);
  array_reset(&out);
}

TEST(Parser, ManyDigitsRespectsItsLimit) {
  char buffer[8] = {};
  int32_t count = -1;
  Text t("1234x");
  EXPECT_FALSE(parse_many_digits(&t.p, buffer, 0, 3, &count));
  EXPECT_EQ(t.at(), 0);
  EXPECT_TRUE(parse_many_digits(&t.p, buffer, 2, 6, &count));
  EXPECT_EQ(count, 4);
  EXPECT_EQ(memcmp(buffer + 2, "1234", 4), 0);
  EXPECT_EQ(t.at(), 4);
  EXPECT_FALSE(parse_many_digits(&t.p, buffer, 0, 6, &count));  // no digit
  EXPECT_EQ(t.at(), 4);
}

TEST(Parser, IntegersAreDecimalOrOctalWithinRange) {
  int ok = 0;
  int32_t at = -1;
  EXPECT_EQ(Int("0", &ok), 0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Int("010", &ok), 8);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Int("0012", &ok), 10);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Int("2147483647", &ok), 2147483647);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Int("-42", &ok), -42);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Int("+7z", &ok, &at), 7);
  EXPECT_TRUE(ok);
  EXPECT_EQ(at, 2);
  EXPECT_EQ(Int("-2147483647", &ok), -2147483647);
  EXPECT_TRUE(ok);

  for (const char* bad : {"08", "2147483648", "12345678901", "99999999999", "-2147483648",
                          "-", "+", "x1", "", "4294967296"}) {
    Int(bad, &ok, &at);
    EXPECT_FALSE(ok) << bad;
    EXPECT_EQ(at, 0) << bad;
  }
}

TEST(Parser, IntegerCoreLeavesDigitsConsumedOnFailure) {
  Text t("08");
  int32_t value = 0;
  EXPECT_FALSE(a_decimal_c_integer(&t.p, &value));
  EXPECT_EQ(t.at(), 2);
  Text u("08");
  EXPECT_FALSE(parse_a_decimal_c_integer(&u.p, &value));
  EXPECT_EQ(u.at(), 0);
}

TEST(Parser, DoublesAcceptCConstantsAndRejectTheRest) {
  int ok = 0;
  int32_t at = -1;
  struct Case {
    const char* text;
    double value;
    int32_t end;
  };
  for (Case c : {Case{"12", 12, 2}, Case{"-1.5", -1.5, 4}, Case{"+3.", 3, 3}, Case{"2e10", 2e10, 4},
                 Case{"1.5E-3", 1.5e-3, 6}, Case{"7.25x", 7.25, 4}, Case{"0.5e+2;", 50, 6},
                 Case{"1.7976931348623157e308", 1.7976931348623157e308, 22}}) {
    EXPECT_DOUBLE_EQ(Double(c.text, &ok, &at), c.value) << c.text;
    EXPECT_TRUE(ok) << c.text;
    EXPECT_EQ(at, c.end) << c.text;
  }
  for (const char* bad : {".5", "1.5e", "1.5e+", "1e400", "1e-400", "-", "e5", "", "-.5"}) {
    Double(bad, &ok, &at);
    EXPECT_FALSE(ok) << bad;
    EXPECT_EQ(at, 0) << bad;
  }
}

TEST(Parser, DoubleDigitLimits) {
  int ok = 0;
  int32_t at = -1;
  // 256 integer digits fill the buffer: no room for a fraction or exponent.
  std::string digits(256, '1');
  Double(digits + ".5", &ok, &at);
  EXPECT_TRUE(ok);
  EXPECT_EQ(at, 256);
  Double(std::string(257, '1'), &ok, &at);
  EXPECT_FALSE(ok);
  EXPECT_EQ(at, 0);
  // A fraction that does not fit leaves the '.' as the last character.
  Double(std::string(200, '1') + "." + std::string(100, '2'), &ok, &at);
  EXPECT_TRUE(ok);
  EXPECT_EQ(at, 201);
}
