// Backtracking parser over a stack of positions (the part the MIDI decoder
// uses). A parse function reads ahead on a copy of the position (begin) and
// then folds the copy back (commit) or drops it (rollback).
#pragma once
#include <cstdint>

#include "base/array.h"

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

int private_parser_begin(parser* p);  // always 1
void parser_commit(parser* p);
void parser_rollback(parser* p);
// Reads one character and advances; 0 at the end of text.
int parser_next_char(parser* p, char* c);
