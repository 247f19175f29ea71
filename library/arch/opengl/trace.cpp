#include <zeal/arch/opengl/trace.h>

#include <GL/glew.h>

#include <cstdarg>
#include <cstdio>

#include <zeal/base/log.h>

const char* opengl_error_text(uint32_t error) {
  switch (error) {
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM: GLenum argument out of range.";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE: Numeric argument out of range.";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION: Operation illegal in current state.";
    case GL_STACK_OVERFLOW: return "GL_STACK_OVERFLOW: Function would cause a stack overflow. ";
    case GL_STACK_UNDERFLOW: return "GL_STACK_UNDERFLOW: Function would cause a stack underflow. ";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY: Not enough memory left";
    case GL_INVALID_FRAMEBUFFER_OPERATION_EXT:
      return "GL_INVALID_FRAMEBUFFER_OPERATION_EXT: FBO EXT: Invalid operation.";
    default: return "GL: Unknown error.";
  }
}

void opengl_trace(const char* source, int line, const char* format, ...) {
  GLenum error = glGetError();
  if (error == GL_NO_ERROR) return;
  log_error("%s:%d %s", source, line, opengl_error_text(error));
  if (format != nullptr) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
  }
}
