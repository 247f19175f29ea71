// Virtual paths: "virtual://root/dat/pal1.png" names one candidate file per
// directory of the resource search path (the program's resource directory,
// then the directories of ZEAL_RPATH). Other paths pass through unchanged.
// A program without a resource directory and without ZEAL_RPATH has no
// candidates at all for the virtual forms.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

struct parser;

// Zero-terminated candidate paths back to back, in search order; a null path
// is taken as "". The caller releases the result with array_reset.
array vpath(const char* path);
// The newest existing candidate (newer than *stamp when given), as one
// zero-terminated path, or an empty array. *stamp receives its time.
array vfreshfile(const char* path, int64_t* stamp);
// The program's resource directory, zero-terminated, or an empty array.
array get_resource_path();
// The resource directory of the program at `exe`: "<dir>/resources" beside
// it, else "<dir>/../share/<name>/resources" for an installed program.
// 1 with the zero-terminated directory appended to `out`, 0 when neither exists.
int find_resource_dir(const char* exe, array* out);

// Appends the directories of ZEAL_RPATH (':'-separated, entries may be
// double-quoted with backslash escapes; empty entries dropped) to `list`.
void push_back_rpath(array* list);
// One search-path entry into `item` (emptied first); always 1.
int parse_a_rpath(parser* p, array* item);
// Matches "virtual://<root>/" and appends one candidate per non-empty
// directory of `list`; 0 with the position restored and `out` emptied otherwise.
int parse_generic_vpath(parser* p, const array* list, const char* root, array* out);
