// Sound files of any kind into function tables, through the byte stream and
// its libsndfile adapter, compared with libsndfile reading the same bytes as
// a file: a table that differs from that reading is a finding, as a crash is.
#include <sndfile.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zeal/base/array.h>
#include <zeal/base/stream.h>
#include "piece/ftable.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr int64_t kTableFloats = INT32_MAX / sizeof(float) - 1;

// Whether libsndfile, reading `bytes` kept in a file of its own, agrees with
// the loader: the same frames in `t` when it `loaded`, else a file that the
// loader's rule refuses (a frame missing, a failed read, more frames than a
// table holds). Reads block by block as the loader does, since some decoders
// answer differently to other block sizes, and compares as it goes, so that
// a file that decodes to much holds its memory only once.
bool agrees(const uint8_t* bytes, size_t size, const ftable& t, bool loaded) {
  int fd = memfd_create("sound", 0);
  check(fd >= 0);
  check(write(fd, bytes, size) == static_cast<ssize_t>(size) && lseek(fd, 0, SEEK_SET) == 0);
  SF_INFO info{};
  SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  if (file == nullptr) {
    close(fd);
    return !loaded;
  }
  int64_t channels = info.channels;
  int64_t claimed = info.frames == SF_COUNT_MAX ? -1 : info.frames;
  bool refused = channels <= 0 || (claimed >= 0 && claimed > kTableFloats / channels);
  bool same = loaded && channels == t.width;
  const auto* rows = static_cast<const float*>(t.rows.data);
  int64_t row_floats = loaded ? t.rows.size / static_cast<int64_t>(sizeof(float)) : 0;
  int64_t done = 0;
  if (!refused) {
    const int64_t block = 262144 * 2 / channels > 0 ? 262144 * 2 / channels : 1;
    std::vector<float> frames(static_cast<size_t>(block * channels));
    for (;;) {
      int64_t want = claimed >= 0 && claimed - done < block ? claimed - done : block;
      if (want <= 0) break;
      if (done + want > kTableFloats / channels) {
        refused = true;
        break;
      }
      sf_count_t got = sf_readf_float(file, frames.data(), want);
      if (sf_error(file) != SF_ERR_NO_ERROR) refused = true;
      if (refused || got <= 0) break;
      int64_t floats = got * channels;
      same = same && done * channels + floats <= row_floats &&
             memcmp(rows + done * channels, frames.data(), static_cast<size_t>(floats) * sizeof(float)) == 0;
      done += got;
    }
    if (claimed >= 0 && done < claimed) refused = true;
  }
  sf_close(file);
  if (refused) return !loaded;
  return same && done * channels == row_floats;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quiet_standard_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > (1 << 20)) return 0;
  array a{};
  array_append(&a, bytes, static_cast<int32_t>(size));
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ, &a);
  ftable t{};
  int result = ftable_make_on_stream(&t, &s, "fuzz");
  if (result == 0) check(t.width >= 1 && !t.rows.failed);
  else check(t.rows.data == nullptr && t.width == 0);
  check(agrees(bytes, size, t, result == 0));
  ftable_free(&t);
  stream_destroy(&s);
  array_reset(&a);
  return 0;
}
