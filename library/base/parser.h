// Backtracking text parser over a stack of positions.
//
// Every parse_ function recognises one thing at the current position: on
// success it consumes it and returns 1; on failure it returns 0 and leaves the
// position where it was. A function reads ahead on a copy of the position
// (begin) and then folds the copy back (commit) or drops it (rollback).
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

struct parser {
  const char* text;  // not owned
  int32_t length;    // readable bytes; reading stops at this index
  int32_t top;       // index of the current position in `positions`
  array positions;   // int32_t byte offsets; element `top` is current
};

// Starts a parser over `length` bytes of `text` at position 0. 0 when the
// position stack cannot be allocated (the parser then reads nothing).
int parser_make(parser* p, const char* text, int32_t length);
void parser_free(parser* p);

// The stack discipline shared by every parse function.
int private_parser_begin(parser* p);  // always 1
void parser_commit(parser* p);
void parser_rollback(parser* p);
// The current position; `length` (nothing readable) when the stack could not
// grow, so a parser short of memory fails instead of reading a stale place.
int32_t parser_position(const parser* p);
// Reads one character and advances; 0 at the end of text.
int parser_next_char(parser* p, char* c);
// Looks at the next character without consuming it; 0 at the end of text.
int parser_peek_char(parser* p, char* c);

int parse_the_string(parser* p, const char* s);
// Appends every character up to a zero byte (consumed, not appended) or the
// end of text to `out`. Always 1 and not transactional.
int parse_many_chars(parser* p, array* out);
int parse_the_case_insensitive_char(parser* p, char c, char* out);
int parse_a_digit(parser* p, char* out);
// One or more digits stored from buffer[start]; fails when a digit arrives
// while the next index has reached `limit`.
int parse_many_digits(parser* p, char* buffer, int32_t start, int32_t limit, int32_t* count);
int parse_a_sign(parser* p, char* out);

// A decimal C integer (octal with a leading 0) within 10 digits and
// 2147483647. Not transactional: on failure the digits read stay consumed.
int a_decimal_c_integer(parser* p, int32_t* out);
int parse_a_decimal_c_integer(parser* p, int32_t* out);
int parse_a_signed_decimal_c_integer(parser* p, int32_t* out);
// A decimal floating constant: [sign] digits [. [digits]] [e [sign] digits].
// Not transactional.
int a_decimal_c_double(parser* p, double* out);
int parse_a_decimal_c_double(parser* p, double* out);
