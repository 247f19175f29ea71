#include <zeal/base/parser.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

static const int32_t kPositionWidth = static_cast<int32_t>(sizeof(int32_t));

static int32_t* position_at(const parser* p, int32_t index) {
  return static_cast<int32_t*>(array_element(&p->positions, kPositionWidth, index));
}

int parser_make(parser* p, const char* text, int32_t length) {
  *p = parser{};
  p->text = text;
  p->length = length;
  if (array_allocate(&p->positions, kPositionWidth, 0) == nullptr) {
    p->length = -1;
    return 0;
  }
  return 1;
}

void parser_free(parser* p) {
  array_reset(&p->positions);
  *p = parser{};
}

int private_parser_begin(parser* p) {
  auto* copy = static_cast<int32_t*>(array_allocate(&p->positions, kPositionWidth, p->top + 1));
  int32_t* current = position_at(p, p->top);
  if (copy != nullptr && current != nullptr) {
    *copy = *current;
  } else {
    // Out of memory: stop reading altogether rather than parse from a
    // position that was never pushed. The stack depth still balances.
    p->length = -1;
  }
  p->top += 1;
  return 1;
}

void parser_commit(parser* p) {
  if (p->top <= 0) return;
  int32_t* below = position_at(p, p->top - 1);
  int32_t* current = position_at(p, p->top);
  if (below != nullptr && current != nullptr) *below = *current;
  p->top -= 1;
  array_truncate(&p->positions, kPositionWidth, p->top + 1);
}

void parser_rollback(parser* p) {
  if (p->top <= 0) return;
  p->top -= 1;
  array_truncate(&p->positions, kPositionWidth, p->top + 1);
}

int32_t parser_position(const parser* p) {
  int32_t* current = position_at(p, p->top);
  return current != nullptr ? *current : p->length;
}

int parser_next_char(parser* p, char* c) {
  int32_t* current = position_at(p, p->top);
  if (current == nullptr || *current < 0 || *current >= p->length) return 0;
  *c = p->text[*current];
  *current += 1;
  return 1;
}

int parser_peek_char(parser* p, char* c) {
  int32_t at = parser_position(p);
  if (at < 0 || at >= p->length) return 0;
  *c = p->text[at];
  return 1;
}

int parse_the_string(parser* p, const char* s) {
  private_parser_begin(p);
  // Equal as zero-terminated texts: a zero byte in the text never matches,
  // because `s` has none before its end.
  for (const char* want = s; *want != '\0'; ++want) {
    char c;
    if (!parser_next_char(p, &c) || c != *want) {
      parser_rollback(p);
      return 0;
    }
  }
  parser_commit(p);
  return 1;
}

int parse_many_chars(parser* p, array* out) {
  char c;
  while (parser_next_char(p, &c)) {
    if (c == '\0') break;
    array_append(out, &c, 1);
  }
  return 1;
}

int parse_the_case_insensitive_char(parser* p, char c, char* out) {
  private_parser_begin(p);
  char found;
  if (parser_next_char(p, &found) &&
      tolower(static_cast<unsigned char>(found)) == tolower(static_cast<unsigned char>(c))) {
    *out = found;
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}

int parse_a_digit(parser* p, char* out) {
  private_parser_begin(p);
  char c;
  if (parser_next_char(p, &c) && c >= '0' && c <= '9') {
    *out = c;
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}

int parse_many_digits(parser* p, char* buffer, int32_t start, int32_t limit, int32_t* count) {
  private_parser_begin(p);
  int32_t next = start;
  char digit;
  while (parse_a_digit(p, &digit)) {
    if (next >= limit) {
      parser_rollback(p);
      return 0;
    }
    buffer[next++] = digit;
  }
  if (next == start) {
    parser_rollback(p);
    return 0;
  }
  *count = next - start;
  parser_commit(p);
  return 1;
}

static int parse_the_char(parser* p, char want) {
  private_parser_begin(p);
  char c;
  if (parser_next_char(p, &c) && c == want) {
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}

int parse_a_sign(parser* p, char* out) {
  if (parse_the_char(p, '-')) {
    *out = '-';
    return 1;
  }
  if (parse_the_char(p, '+')) {
    *out = '+';
    return 1;
  }
  return 0;
}

int a_decimal_c_integer(parser* p, int32_t* out) {
  // The most digits a 32-bit value can have: 10.
  const int32_t limit = static_cast<int32_t>(trunc(log10(2147483647.0) + 2.0)) - 1;
  char buffer[16];
  int32_t n = 0;
  char digit;
  while (parse_a_digit(p, &digit)) {
    if (n >= limit) return 0;
    buffer[n++] = digit;
  }
  if (n == 0) return 0;
  buffer[n] = '\0';
  char* end = nullptr;
  errno = 0;
  long value = strtol(buffer, &end, 0);
  if (errno == ERANGE || errno == EINVAL || end != buffer + n) return 0;
  // long is wider than 32 bits here; the value must still fit the result.
  if (value > 2147483647L) return 0;
  *out = static_cast<int32_t>(value);
  return 1;
}

int parse_a_decimal_c_integer(parser* p, int32_t* out) {
  private_parser_begin(p);
  if (a_decimal_c_integer(p, out)) {
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}

static int parse_a_signed_part(parser* p, char sign, int32_t* out) {
  private_parser_begin(p);
  int32_t value = 0;
  if (parse_the_char(p, sign) && a_decimal_c_integer(p, &value)) {
    *out = sign == '-' ? -value : value;
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}

int parse_a_signed_decimal_c_integer(parser* p, int32_t* out) {
  if (parse_a_signed_part(p, '-', out)) return 1;
  if (parse_a_signed_part(p, '+', out)) return 1;
  return parse_a_decimal_c_integer(p, out);
}

int a_decimal_c_double(parser* p, double* out) {
  const int32_t limit = 256;
  char buffer[limit + 1];
  int32_t n = 0;
  int32_t count = 0;
  char c;
  if (parse_a_sign(p, &c)) buffer[n++] = c;
  if (!parse_many_digits(p, buffer, n, limit, &count)) return 0;
  n += count;
  if (n < limit) {
    if (parse_the_char(p, '.')) {
      buffer[n++] = '.';
      if (parse_many_digits(p, buffer, n, limit, &count)) n += count;
    }
  }
  if (n <= limit - 1 && parse_the_case_insensitive_char(p, 'e', &c)) {
    buffer[n++] = c;
    if (n < limit && parse_a_sign(p, &c)) buffer[n++] = c;
    if (parse_many_digits(p, buffer, n, limit, &count)) n += count;
  }
  buffer[n] = '\0';
  char* end = nullptr;
  errno = 0;
  double value = strtod(buffer, &end);
  if (errno == EINVAL || errno == ERANGE || errno == EDOM || end != buffer + n) return 0;
  *out = value;
  return 1;
}

int parse_a_decimal_c_double(parser* p, double* out) {
  private_parser_begin(p);
  if (a_decimal_c_double(p, out)) {
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}
