// The GL error check that every OpenGL routine runs after its GL calls.
#pragma once
#include <cstdint>

// The text for a value of glGetError().
const char* opengl_error_text(uint32_t error);
// Takes the pending GL error; if there is one, prints it as
// "ERROR: <source>:<line> <text>" and then the optional format.
void opengl_trace(const char* source, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
