// libsndfile's virtual I/O over a byte stream, so that a sound file can be
// decoded from a file or from bytes in memory. The user data handed to
// sf_open_virtual is the address of the stream slot (stream**). A seek
// returns the new offset (-1 when it failed the stream), and may stand on the
// end of an array stream.
#pragma once
#include <sndfile.h>

extern const SF_VIRTUAL_IO stream_virtualio;

sf_count_t stream_vio_get_filelen(void* user);
sf_count_t stream_vio_seek(sf_count_t offset, int whence, void* user);
sf_count_t stream_vio_read(void* buffer, sf_count_t count, void* user);
sf_count_t stream_vio_write(const void* buffer, sf_count_t count, void* user);
sf_count_t stream_vio_tell(void* user);
