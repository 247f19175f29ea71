#include <zeal/arch/opengl/material.h>

#include <GL/glew.h>

#include <cstdio>

#include <zeal/arch/opengl/trace.h>
#include <zeal/base/log.h>

static const char kSource[] = "library/arch/opengl/material";

static void use_program(material* m) {
  if (m->flags & MATERIAL_PROGRAM) {
    if (glUseProgram == nullptr) {
      m->flags &= ~MATERIAL_PROGRAM;
      log_error("Shader not loaded, deactivating");
      return;
    }
    glUseProgram(m->program);
    GLenum error = glGetError();
    if (error == GL_INVALID_VALUE) {
      m->flags &= ~MATERIAL_PROGRAM;
      log_error("Shader not loaded, deactivating");
    } else if (error != GL_NO_ERROR) {
      log_error("%s:%d %s", kSource, 92, opengl_error_text(error));
    }
  } else if (glUseProgram != nullptr) {
    glUseProgram(0);
    opengl_trace(kSource, 97, nullptr);
  }
}

void material_on(material* m) {
  use_program(m);

  if ((m->flags & MATERIAL_BLEND) && !(m->flags & MATERIAL_ADDITIVE)) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    m->flags |= MATERIAL_NO_DEPTH;
  } else if (m->flags & MATERIAL_ADDITIVE) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    m->flags |= MATERIAL_NO_DEPTH;
  } else {
    glDisable(GL_BLEND);
  }

  if (m->flags & MATERIAL_SKIP_TRANSPARENT) {
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
  } else {
    glDisable(GL_ALPHA_TEST);
  }

  if (m->flags & MATERIAL_NO_DEPTH) {
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
  } else {
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glDepthFunc(GL_LESS);
  }

  GLint filter = (m->flags & MATERIAL_NEAREST) ? GL_NEAREST : GL_LINEAR;
  GLint wrap = (m->flags & MATERIAL_REPEAT) ? GL_REPEAT : GL_CLAMP_TO_EDGE;
  const GLenum targets[] = {GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_3D};
  for (GLenum target : targets) {
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(target, GL_TEXTURE_WRAP_R, wrap);
  }

  if (!(m->flags & MATERIAL_KEEP_COLOUR)) glColor4fv(m->colour);
  if (m->flags & MATERIAL_NO_MULTISAMPLE) glDisable(GL_MULTISAMPLE);
  glDisable(GL_CULL_FACE);
}
