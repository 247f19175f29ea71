// Virtual paths: "virtual://root/dat/pal1.png" names one candidate file per
// directory of the resource search path (the program's resource directory,
// then the directories of ZEAL_RPATH). Other paths pass through unchanged.
#pragma once
#include <cstdint>

#include "base/array.h"

struct parser;

// Zero-terminated candidate paths back to back, in search order.
array vpath(const char* path);
// The newest existing candidate (newer than *stamp when given), or an empty array.
array vfreshfile(const char* path, int64_t* stamp);
// The program's resource directory, or null.
const char* get_resource_path();
void push_back_rpath(array* list);
int parse_a_rpath(parser* p, array* item);
int parse_generic_vpath(parser* p, const array* list, const char* root, array* out);
