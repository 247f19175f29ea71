#include <zeal/base/stream.h>

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

enum { LAST_NONE = 0, LAST_READ = 1, LAST_WRITE = 2 };

static stream* stream_alloc(stream** s) {
  *s = static_cast<stream*>(calloc(1, sizeof(stream)));
  return *s;
}

static FILE* file_of(const stream* s) {
  return static_cast<FILE*>(s->handle);
}

static array* array_of(const stream* s) {
  return static_cast<array*>(s->handle);
}

static int usable(const stream* s) {
  return s != nullptr && s->ok && s->kind != STREAM_NULL && s->handle != nullptr;
}

// An array's size as a stream sees it: -1 once the array has failed.
static int64_t array_length(const array* a) {
  return a->failed ? -1 : a->size;
}

// C streams need a seek between a read and a following write (and the other
// way round); a seek to the current place is enough.
static void file_switch(stream* s, int32_t next) {
  if (s->last_io != LAST_NONE && s->last_io != next) fseeko(file_of(s), 0, SEEK_CUR);
  s->last_io = next;
}

void stream_make_null(stream** s) {
  if (stream_alloc(s) == nullptr) return;
  (*s)->kind = STREAM_NULL;
  (*s)->ok = 1;
}

void stream_make_on_array(stream** s, int32_t mode, array* a) {
  if (stream_alloc(s) == nullptr) return;
  if (a == nullptr) return;  // kind 0, ok 0
  (*s)->kind = STREAM_ARRAY;
  (*s)->ok = 1;
  (*s)->mode = mode;
  (*s)->handle = a;
}

void stream_make_on_file(stream** s, int32_t mode, const char* path) {
  if (stream_alloc(s) == nullptr) return;
  (*s)->mode = mode;
  if (path == nullptr) return;
  FILE* f = nullptr;
  if (mode & STREAM_WRITE) {
    f = fopen(path, "r+b");
    if (f == nullptr) f = fopen(path, "w+b");
  } else if (mode & STREAM_READ) {
    f = fopen(path, "rb");
  }
  if (f == nullptr) return;
  (*s)->kind = STREAM_FILE;
  (*s)->ok = 1;
  (*s)->handle = f;
}

void stream_destroy(stream** s) {
  if (*s == nullptr) return;
  if ((*s)->kind == STREAM_FILE && (*s)->handle != nullptr) fclose(file_of(*s));
  free(*s);
  *s = nullptr;
}

int stream_hasfailed(stream** s) {
  return *s == nullptr || !(*s)->ok;
}

int64_t impl_firstposition(stream*) {
  return 0;
}

int64_t stream_firstposition() {
  return 0;
}

int64_t impl_endposition(stream* s) {
  if (!usable(s)) return 0;
  if (s->kind == STREAM_ARRAY) return array_length(array_of(s));
  FILE* f = file_of(s);
  off_t here = ftello(f);
  if (fseeko(f, 0, SEEK_END) != 0) return 0;
  off_t end = ftello(f);
  fseeko(f, here, SEEK_SET);
  s->last_io = LAST_NONE;
  return end;
}

int64_t stream_endposition(stream** s) {
  return impl_endposition(*s);
}

int64_t impl_getposition(stream* s) {
  if (!usable(s)) return 0;
  if (s->kind == STREAM_ARRAY) return s->position;
  return ftello(file_of(s));
}

int64_t stream_getposition(stream** s) {
  return impl_getposition(*s);
}

void impl_position(stream* s, int64_t position) {
  if (!usable(s)) return;
  if (s->kind == STREAM_FILE) {
    if (position < 0 || fseeko(file_of(s), static_cast<off_t>(position), SEEK_SET) != 0) {
      fclose(file_of(s));
      s->handle = nullptr;
      s->ok = 0;
    }
    s->last_io = LAST_NONE;
    return;
  }
  // A negative position would read before the array: it fails like a bad seek.
  if (position >= 0 && position < array_length(array_of(s))) {
    s->position = position;
  } else {
    s->ok = 0;
    s->handle = nullptr;
  }
}

void stream_position(stream** s, int64_t position) {
  impl_position(*s, position);
}

int stream_seek_as_file(stream** s, int64_t position) {
  stream* r = *s;
  if (!usable(r) || position < 0) return 0;
  if (r->kind == STREAM_FILE) {
    r->last_io = LAST_NONE;
    return fseeko(file_of(r), static_cast<off_t>(position), SEEK_SET) == 0;
  }
  r->position = position;
  return 1;
}

int stream_blockread(stream** s, void* buffer, int64_t size) {
  stream* r = *s;
  if (!usable(r) || size <= 0 || !(r->mode & STREAM_READ)) return 0;
  if (r->kind == STREAM_FILE) {
    FILE* f = file_of(r);
    file_switch(r, LAST_READ);
    off_t start = ftello(f);
    if (fread(buffer, static_cast<size_t>(size), 1, f) == 1) return 1;
    // No partial reads: put the position back where the block began.
    clearerr(f);
    if (start >= 0) fseeko(f, start, SEEK_SET);
    r->last_io = LAST_NONE;
    return 0;
  }
  const array* a = array_of(r);
  if (size > array_length(a) - r->position) return 0;
  memcpy(buffer, static_cast<const char*>(a->data) + r->position, static_cast<size_t>(size));
  r->position += size;
  return 1;
}

int64_t stream_read_upto(stream** s, void* buffer, int64_t size) {
  stream* r = *s;
  if (!usable(r) || size <= 0 || !(r->mode & STREAM_READ)) return 0;
  if (r->kind == STREAM_FILE) {
    FILE* f = file_of(r);
    file_switch(r, LAST_READ);
    size_t got = fread(buffer, 1, static_cast<size_t>(size), f);
    if (got < static_cast<size_t>(size)) clearerr(f);
    return static_cast<int64_t>(got);
  }
  const array* a = array_of(r);
  int64_t left = array_length(a) - r->position;
  int64_t n = size < left ? size : left;
  if (n <= 0) return 0;
  memcpy(buffer, static_cast<const char*>(a->data) + r->position, static_cast<size_t>(n));
  r->position += n;
  return n;
}

int impl_blockwrite(stream* s, const void* buffer, int64_t size) {
  if (!usable(s) || !(s->mode & STREAM_WRITE)) return 0;
  // A negative size would copy from far beyond the buffer.
  if (size < 0) return 0;
  if (s->kind == STREAM_FILE) {
    if (size == 0) return 0;
    file_switch(s, LAST_WRITE);
    return fwrite(buffer, static_cast<size_t>(size), 1, file_of(s)) == 1;
  }
  array* a = array_of(s);
  int64_t end = s->position + size;
  if (end - 1 < 0 || a->failed || end > INT32_MAX) return 0;
  if (end > a->size && array_allocate(a, 1, static_cast<int32_t>(end - 1)) == nullptr) return 0;
  if (size > 0) memcpy(static_cast<char*>(a->data) + s->position, buffer, static_cast<size_t>(size));
  s->position = end;
  return 1;
}

int stream_blockwrite(stream** s, const void* buffer, int64_t size) {
  return impl_blockwrite(*s, buffer, size);
}
