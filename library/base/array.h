// Growable byte array: the one container of the framework.
//
// Sizes count bytes; typed elements are reached by index * width. An append
// that cannot allocate switches the array into a sticky failed state (storage
// freed, every later append a no-op), so a chain of appends needs one test.
#pragma once
#include <cstdint>

struct array {
  void* data;
  int32_t failed;
  int32_t size;
  int32_t capacity;
};

// Frees the storage and clears every field, including the failed flag.
void array_reset(array* a);
// Pointer to element `index` of `width` bytes, growing the array to hold it;
// null for a negative index, a failed array or a failed reallocation (which
// leaves the array unchanged rather than failed).
void* array_allocate(array* a, int32_t width, int32_t index);
// Appends the characters of `text` without its terminator.
void array_cats(array* a, const char* text);
// Appends the bytes of `b`; a failed `b` fails `a`.
void array_cat(array* a, const array* b);
// Appends a private copy of `s` (a zero-terminated text of 2+ bytes) to a list
// of array records.
void push_back(array* list, const array* s);

// Shared helpers behind the operations above, used by every inline append.
void array_append(array* a, const void* bytes, int32_t n);
// Grows `size` to `n` bytes (zero-filled); on failure fails the array. 1 on success.
int array_grow(array* a, int32_t n);
void array_fail(array* a);
// Element count of width w: -1 for a failed array.
int32_t array_count(const array* a, int32_t width);
// Element i of width w, or null when outside the array.
void* array_element(const array* a, int32_t width, int32_t i);
// Cuts the array to n elements of width w (storage kept).
void array_truncate(array* a, int32_t width, int32_t n);
