// The framework's version, as the build that made the library knows it.
#pragma once

// "MAJOR.MINOR.PATCH"; the same number as the CMake package and zeal.pc.
const char* zeal_version();
