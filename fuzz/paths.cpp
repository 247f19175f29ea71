// The text a user controls: ZEAL_RPATH and the paths looked up through it,
// and numbers in text. The input is "<ZEAL_RPATH>\n<path>"; the whole input
// is also read as numbers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zeal/base/parser.h>
#include <zeal/base/vpath.h>
#include "fuzz/fuzz_check.h"

namespace {


// A candidate list is zero-terminated paths back to back.
int32_t candidates(const array& list) {
  check(!list.failed && list.size >= 0);
  if (list.size == 0) return 0;
  const char* data = static_cast<const char*>(list.data);
  check(data[list.size - 1] == '\0');
  int32_t n = 0;
  for (int32_t i = 0; i < list.size; ++i) n += data[i] == '\0';
  return n;
}

void numbers(const uint8_t* bytes, size_t size) {
  parser p;
  parser_make(&p, reinterpret_cast<const char*>(bytes), static_cast<int32_t>(size));
  for (int32_t at = 0; at < static_cast<int32_t>(size);) {
    int32_t i;
    double d;
    if (!parse_a_signed_decimal_c_integer(&p, &i) && !parse_a_decimal_c_double(&p, &d)) {
      char c;
      parser_next_char(&p, &c);
    }
    int32_t next = parser_position(&p);
    check(next > at || next == static_cast<int32_t>(size));
    at = next;
  }
  parser_free(&p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  numbers(bytes, size);
  std::string text(reinterpret_cast<const char*>(bytes), size);
  size_t cut = text.find('\n');
  std::string rpath = text.substr(0, cut);
  std::string path = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  // setenv keeps every value it was given: one buffer, rewritten, does not grow.
  static char variable[4096 + 16];
  snprintf(variable, sizeof variable, "ZEAL_RPATH=%s", rpath.c_str());
  putenv(variable);

  array entries{};
  push_back_rpath(&entries);
  int32_t dirs = array_count(&entries, sizeof(array));
  for (int32_t i = 0; i < dirs; ++i) {
    auto* entry = static_cast<array*>(array_element(&entries, sizeof(array), i));
    check(entry->size >= 2 && static_cast<char*>(entry->data)[entry->size - 1] == '\0');
    array_reset(entry);
  }
  array_reset(&entries);

  // Without a resource directory every candidate comes from ZEAL_RPATH, and
  // none from an empty entry.
  check(get_resource_path().size == 0);
  array list = vpath(path.c_str());
  int32_t n = candidates(list);
  bool searched = strncmp(path.c_str(), "virtual://root/", 15) == 0 ||
                  strncmp(path.c_str(), "virtual://data/", 15) == 0 ||
                  strncmp(path.c_str(), "virtual://shaders/", 18) == 0;
  if (searched) {
    check(n == dirs);
    const char* data = static_cast<const char*>(list.data);
    for (int32_t at = 0; at < list.size; at += static_cast<int32_t>(strlen(data + at)) + 1) {
      check(data[at] != '/' || rpath.find('/') != std::string::npos);
    }
  } else {
    check(n == 1);
  }
  array_reset(&list);
  array fresh = vfreshfile(path.c_str(), nullptr);
  check(fresh.size == 0 || candidates(fresh) == 1);
  array_reset(&fresh);
  return 0;
}
