// Byte streams: whole blocks of bytes read and written at a 64-bit position,
// over a file, over a growable array in memory, or over nothing.
//
// Failure is sticky: a stream that fails to open or to seek is marked failed
// and every later operation does nothing (reads and writes give 0, positions
// read as 0). Callers hold a stream pointer and pass its address; a null slot
// behaves as a failed stream.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

enum {
  STREAM_NULL = 0,
  STREAM_FILE = 1,
  STREAM_ARRAY = 2,
};

enum {
  STREAM_READ = 2,
  STREAM_WRITE = 4,
};

struct stream {
  int32_t kind;      // STREAM_NULL, STREAM_FILE or STREAM_ARRAY
  int32_t ok;        // 1 while usable, 0 once failed
  int32_t mode;      // STREAM_READ | STREAM_WRITE bits
  void* handle;      // the FILE or the array (not owned)
  int64_t position;  // array streams only; a file keeps its own
  int32_t last_io;   // file streams: last transfer, so reads and writes alternate safely
};

// Each constructor fills the slot with a new record (null if it cannot be
// allocated). A null stream reads and writes nothing and stays usable.
void stream_make_null(stream** s);
void stream_make_on_array(stream** s, int32_t mode, array* a);
// Mode 2 opens for reading; modes with the write bit open an existing file
// without truncating it, or create it.
void stream_make_on_file(stream** s, int32_t mode, const char* path);
void stream_destroy(stream** s);

int stream_hasfailed(stream** s);
int64_t stream_firstposition();
int64_t stream_endposition(stream** s);
int64_t stream_getposition(stream** s);
// Moves to an absolute position; a failed seek (or one at or beyond the end
// of an array) fails the stream.
void stream_position(stream** s, int64_t position);
// Moves as a seek on a file would: any position from 0 on, the end of an
// array and beyond included (reads there give nothing, a write there fills
// the gap with zeros). 0, with nothing changed and the stream still usable,
// for a negative position or a seek the file refuses.
int stream_seek_as_file(stream** s, int64_t position);
// 1 when exactly `size` bytes were read; on 0 the position is unchanged.
int stream_blockread(stream** s, void* buffer, int64_t size);
// Reads up to `size` bytes and advances by as many: the count read, short at
// the end of the data, 0 at the end or when the stream cannot be read.
int64_t stream_read_upto(stream** s, void* buffer, int64_t size);
int stream_blockwrite(stream** s, const void* buffer, int64_t size);

// The same operations on the record itself.
int64_t impl_firstposition(stream* s);
int64_t impl_endposition(stream* s);
int64_t impl_getposition(stream* s);
void impl_position(stream* s, int64_t position);
int impl_blockwrite(stream* s, const void* buffer, int64_t size);
