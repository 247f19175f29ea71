#include <zeal/base/array.h>

#include <climits>
#include <cstdlib>
#include <cstring>

void array_reset(array* a) {
  if (a->data == nullptr && !a->failed) return;
  free(a->data);
  *a = array{};
}

void array_fail(array* a) {
  if (a->failed) return;
  free(a->data);
  *a = array{};
  a->failed = 1;
}

// Grows the storage so that `n` bytes fit (twice the needed size) and zeroes
// the bytes between the old size and n. Leaves the array untouched on failure.
static int reserve_and_extend(array* a, int64_t n) {
  if (n < 0 || n > INT32_MAX) return 0;
  if (n > a->capacity) {
    int64_t capacity = 2 * n;
    if (capacity > INT32_MAX) capacity = INT32_MAX;
    void* data = realloc(a->data, static_cast<size_t>(capacity));
    if (data == nullptr) return 0;
    a->data = data;
    a->capacity = static_cast<int32_t>(capacity);
  }
  if (n > a->size) {
    memset(static_cast<char*>(a->data) + a->size, 0, static_cast<size_t>(n - a->size));
    a->size = static_cast<int32_t>(n);
  }
  return 1;
}

int array_grow(array* a, int32_t n) {
  if (a->failed) return 0;
  if (!reserve_and_extend(a, n)) {
    array_fail(a);
    return 0;
  }
  return 1;
}

void* array_allocate(array* a, int32_t width, int32_t index) {
  if (index < 0 || width <= 0 || a->failed) return nullptr;
  int64_t end = (static_cast<int64_t>(index) + 1) * width;
  if (end > a->size && !reserve_and_extend(a, end)) return nullptr;
  return static_cast<char*>(a->data) + static_cast<int64_t>(index) * width;
}

void array_append(array* a, const void* bytes, int32_t n) {
  if (n < 1 || a->failed) return;
  int32_t old = a->size;
  if (!reserve_and_extend(a, static_cast<int64_t>(old) + n)) {
    array_fail(a);
    return;
  }
  memcpy(static_cast<char*>(a->data) + old, bytes, static_cast<size_t>(n));
}

void array_cats(array* a, const char* text) {
  if (text == nullptr || a->failed) return;
  size_t n = strlen(text);
  if (n > INT32_MAX) {
    array_fail(a);
    return;
  }
  array_append(a, text, static_cast<int32_t>(n));
}

void array_cat(array* a, const array* b) {
  if (a->failed) return;
  if (b->failed) {
    array_fail(a);
    return;
  }
  array_append(a, b->data, b->size);
}

void push_back(array* list, const array* s) {
  if (s->failed || s->size < 2) return;
  int32_t width = static_cast<int32_t>(sizeof(array));
  auto* slot = static_cast<array*>(array_allocate(list, width, list->size / width));
  if (slot == nullptr) return;
  *slot = array{};
  int64_t capacity = 2 * static_cast<int64_t>(s->size);
  void* data = capacity <= INT32_MAX ? malloc(static_cast<size_t>(capacity)) : nullptr;
  if (data == nullptr) {
    slot->failed = 1;
    return;
  }
  memcpy(data, s->data, static_cast<size_t>(s->size));
  slot->data = data;
  slot->size = s->size;
  slot->capacity = static_cast<int32_t>(capacity);
}

int32_t array_count(const array* a, int32_t width) {
  if (a->failed) return -1;
  return width > 0 ? a->size / width : 0;
}

void* array_element(const array* a, int32_t width, int32_t i) {
  if (i < 0 || width <= 0 || a->data == nullptr) return nullptr;
  if (static_cast<int64_t>(i) * width >= a->size) return nullptr;
  return static_cast<char*>(a->data) + static_cast<int64_t>(i) * width;
}

void array_truncate(array* a, int32_t width, int32_t n) {
  if (a->failed || n < 0) return;
  int64_t bytes = static_cast<int64_t>(n) * width;
  if (bytes < a->size) a->size = static_cast<int32_t>(bytes);
}
