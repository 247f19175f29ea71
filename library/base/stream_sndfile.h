// libsndfile's virtual I/O over a byte stream, so that a sound file can be
// decoded from a file or from bytes in memory. The user data handed to
// sf_open_virtual is the address of the stream slot (stream**). The adapter
// answers as a file would: a seek may go to the end of the data or past it
// (reads there give nothing), a seek before the start or one that cannot be
// done returns -1, and neither fails the stream; a seek returns the new
// offset.
#pragma once
#include <sndfile.h>

extern const SF_VIRTUAL_IO stream_virtualio;

sf_count_t stream_vio_get_filelen(void* user);
sf_count_t stream_vio_seek(sf_count_t offset, int whence, void* user);
sf_count_t stream_vio_read(void* buffer, sf_count_t count, void* user);
sf_count_t stream_vio_write(const void* buffer, sf_count_t count, void* user);
sf_count_t stream_vio_tell(void* user);
