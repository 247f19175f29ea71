// Sound files of any kind into function tables, through the byte stream and
// its libsndfile adapter.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/array.h"
#include "base/stream.h"
#include "piece/ftable.h"
#include "fuzz/fuzz_check.h"

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
  if (result == 0) {
    check(t.width >= 1 && !t.rows.failed);
    check(t.rows.size % (static_cast<int32_t>(sizeof(float)) * t.width) == 0);
    // Every row is there: reading the last float is checked by ASan.
    const auto* rows = static_cast<const float*>(t.rows.data);
    volatile float last = t.rows.size > 0 ? rows[t.rows.size / 4 - 1] : 0;
    (void)last;
  } else {
    check(t.rows.data == nullptr && t.width == 0);
  }
  ftable_free(&t);
  stream_destroy(&s);
  array_reset(&a);
  return 0;
}
