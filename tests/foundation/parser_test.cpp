#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Parses a number with `fn`; checks the stack is back at its bottom.
template <typename T, typename F>
int Parse(F fn, const std::string& s, T* value, int32_t* end) {
  Text t(s);
  int ok = fn(&t.p, value);
  *end = t.at();
  EXPECT_EQ(t.p.top, 0) << s;
  return ok;
}

}  // namespace

TEST(Parser, FailedParsesLeaveThePositionAndStopAtZeroBytes) {
  Text t("virtual://x");
  char c = 0;
  EXPECT_FALSE(parse_the_string(&t.p, "virtual:/x"));
  EXPECT_TRUE(parse_the_string(&t.p, "virtual://"));
  EXPECT_FALSE(parse_the_string(&t.p, "xy"));  // runs out of text
  EXPECT_FALSE(parse_a_digit(&t.p, &c));
  EXPECT_EQ(t.at(), 10);
  EXPECT_TRUE(parse_the_case_insensitive_char(&t.p, 'X', &c));
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(t.p.top, 0);

  // A zero byte in the text never matches a character of the string, and
  // ends a run of characters.
  Text z(std::string("ab\0cd", 5));
  EXPECT_FALSE(parse_the_string(&z.p, "ab0"));
  array out{};
  EXPECT_TRUE(parse_many_chars(&z.p, &out));
  EXPECT_EQ(std::string(static_cast<char*>(out.data), out.size), "ab");
  EXPECT_EQ(z.at(), 3);
  array_reset(&out);
}

TEST(Parser, IntegersAreDecimalOrOctalWithinRange) {
  struct Case {
    const char* text;
    int32_t value;
    int32_t end;
  };
  int32_t value = 0, end = -1;
  for (Case c : {Case{"0", 0, 1}, Case{"010", 8, 3}, Case{"0012", 10, 4},
                 Case{"2147483647", 2147483647, 10}, Case{"-42", -42, 3}, Case{"+7z", 7, 2},
                 Case{"-2147483647", -2147483647, 11}}) {
    EXPECT_TRUE(Parse(parse_a_signed_decimal_c_integer, c.text, &value, &end)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(end, c.end) << c.text;
  }
  for (const char* bad : {"08", "2147483648", "4294967296", "12345678901", "-2147483648", "-", "x1",
                          ""}) {
    EXPECT_FALSE(Parse(parse_a_signed_decimal_c_integer, bad, &value, &end)) << bad;
    EXPECT_EQ(end, 0) << bad;
  }
  // The core parser is not transactional: the digits it read stay consumed.
  EXPECT_FALSE(Parse(a_decimal_c_integer, "08", &value, &end));
  EXPECT_EQ(end, 2);
}
