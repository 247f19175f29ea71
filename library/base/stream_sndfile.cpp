#include <zeal/base/stream_sndfile.h>

#include <cstdio>

#include <zeal/base/stream.h>

static stream** slot_of(void* user) {
  return static_cast<stream**>(user);
}

sf_count_t stream_vio_get_filelen(void* user) {
  return stream_endposition(slot_of(user)) - stream_firstposition();
}

sf_count_t stream_vio_seek(sf_count_t offset, int whence, void* user) {
  stream** s = slot_of(user);
  sf_count_t base;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = stream_getposition(s); break;
    case SEEK_END: base = stream_endposition(s); break;
    default: return -1;
  }
  // Offsets come from the headers being decoded: any value at all.
  sf_count_t target;
  if (__builtin_add_overflow(base, offset, &target)) return -1;
  // libsndfile seeks past the end of the data while it reads some headers,
  // as a file allows; the stream stays usable wherever the seek goes.
  if (!stream_seek_as_file(s, target)) return -1;
  return stream_getposition(s);
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
