#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zeal/base/parser.h>

namespace {

// Parses `text` with `fn`: whether it succeeded, the value and where the
// parser stands; the stack must be back at its bottom.
template <typename F>
std::vector<int32_t> Parse(F fn, const std::string& text) {
  parser p{};
  parser_make(&p, text.data(), static_cast<int32_t>(text.size()));
  int32_t value = 0;
  int ok = fn(&p, &value);
  std::vector<int32_t> out = {ok, ok ? value : 0, parser_position(&p)};
  EXPECT_EQ(p.top, 0) << text;
  parser_free(&p);
  return out;
}

}  // namespace

// The range is checked on 32 bits: a wider strtol would take 2147483648.
TEST(Parser, IntegersAreDecimalOrOctalWithinRange) {
  const struct {
    const char* text;
    std::vector<int32_t> parsed;  // success, value, end
  } cases[] = {
      {"0", {1, 0, 1}},     {"010", {1, 8, 3}},  {"0012", {1, 10, 4}}, {"2147483647", {1, 2147483647, 10}},
      {"-42", {1, -42, 3}}, {"+7z", {1, 7, 2}},  {"-2147483647", {1, -2147483647, 11}},
      {"08", {0, 0, 0}},    {"2147483648", {0, 0, 0}}, {"4294967296", {0, 0, 0}}, {"12345678901", {0, 0, 0}},
      {"-2147483648", {0, 0, 0}}, {"-", {0, 0, 0}}, {"x1", {0, 0, 0}}, {"", {0, 0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(parse_a_signed_decimal_c_integer, c.text), c.parsed) << c.text;
  // The core parser is not transactional: the digits it read stay consumed.
  EXPECT_EQ(Parse(a_decimal_c_integer, "08"), (std::vector<int32_t>{0, 0, 2}));
}
