#include "base/stream_sndfile.h"

#include <cstdio>

#include "base/stream.h"

static stream** slot_of(void* user) {
  return static_cast<stream**>(user);
}

sf_count_t stream_vio_get_filelen(void* user) {
  return stream_endposition(slot_of(user)) - stream_firstposition();
}

sf_count_t stream_vio_seek(sf_count_t offset, int whence, void* user) {
  stream** s = slot_of(user);
  sf_count_t target;
  switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = stream_getposition(s) + offset; break;
    case SEEK_END: target = stream_endposition(s) + offset; break;
    default: return -1;
  }
  // libsndfile skips over the last chunk of a file to its very end. A plain
  // stream_position there would fail an array stream and with it the whole
  // decode, so the end of an array is accepted here as a place to stand.
  stream* r = *s;
  if (r != nullptr && r->ok && r->kind == STREAM_ARRAY && target == stream_endposition(s) &&
      target >= 0) {
    r->position = target;
  } else {
    stream_position(s, target);
  }
  // libsndfile expects the new offset back, and a negative value on failure.
  return stream_hasfailed(s) ? -1 : stream_getposition(s);
}

// libsndfile asks for whole buffers and expects the bytes that are left at
// the end of the data, not nothing.
sf_count_t stream_vio_read(void* buffer, sf_count_t count, void* user) {
  return stream_read_upto(slot_of(user), buffer, count);
}

sf_count_t stream_vio_write(const void* buffer, sf_count_t count, void* user) {
  return stream_blockwrite(slot_of(user), buffer, count) ? count : 0;
}

sf_count_t stream_vio_tell(void* user) {
  return stream_getposition(slot_of(user));
}

const SF_VIRTUAL_IO stream_virtualio = {
    stream_vio_get_filelen, stream_vio_seek, stream_vio_read, stream_vio_write, stream_vio_tell,
};
