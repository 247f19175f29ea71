// Placeholder until the resolver lands: every path passes through unchanged.
#include "base/vpath.h"

#include <cstring>

array vpath(const char* path) {
  array out{};
  const char* text = path != nullptr ? path : "";
  array_append(&out, text, static_cast<int32_t>(strlen(text)) + 1);
  return out;
}
