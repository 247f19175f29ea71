// Directories that rendered files go into.
#pragma once
#include <string>

// Makes `path` and any missing parents, as `mkdir -p` does. Empty on
// success, else the reason ("Permission denied", "Not a directory", ...).
std::string directory_make(const std::string& path);
// Whether files can be made in directory `path`: empty, or the reason.
std::string directory_writable(const std::string& path);
