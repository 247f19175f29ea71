#include "base/parser.h"

namespace {

constexpr int32_t kWidth = static_cast<int32_t>(sizeof(int32_t));

int32_t* position_at(parser* p, int32_t index) {
  return static_cast<int32_t*>(array_element(&p->positions, kWidth, index));
}

}  // namespace

int parser_make(parser* p, const char* text, int32_t length) {
  *p = parser{};
  p->text = text;
  p->length = length;
  auto* first = static_cast<int32_t*>(array_allocate(&p->positions, kWidth, 0));
  if (first == nullptr) {
    p->length = 0;
    return 0;
  }
  *first = 0;
  return 1;
}

void parser_free(parser* p) { array_reset(&p->positions); }

int private_parser_begin(parser* p) {
  auto* next = static_cast<int32_t*>(array_allocate(&p->positions, kWidth, p->top + 1));
  int32_t* current = position_at(p, p->top);
  if (next != nullptr && current != nullptr) *next = *current;
  // Even without room the stack depth must match the caller's commit or rollback.
  p->top += 1;
  return 1;
}

void parser_commit(parser* p) {
  int32_t* below = position_at(p, p->top - 1);
  int32_t* current = position_at(p, p->top);
  if (below != nullptr && current != nullptr) *below = *current;
  p->top -= 1;
  array_truncate(&p->positions, kWidth, p->top + 1);
}

void parser_rollback(parser* p) {
  p->top -= 1;
  array_truncate(&p->positions, kWidth, p->top + 1);
}

int parser_next_char(parser* p, char* c) {
  int32_t* current = position_at(p, p->top);
  if (current == nullptr || *current >= p->length) return 0;
  *c = p->text[*current];
  *current += 1;
  return 1;
}
