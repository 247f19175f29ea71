# The headers a piece may include, as <zeal/...>. Only these are installed;
# the others are the library's own and its tests'.
set(ZEAL_PUBLIC_HEADERS
  app/app.h app/bus.h app/configurator.h app/loader.h
  arch/opengl/display.h arch/opengl/frame.h arch/opengl/framebuffer.h arch/opengl/geometry.h
  arch/opengl/image.h arch/opengl/image_png.h arch/opengl/input.h arch/opengl/material.h
  arch/opengl/texture.h arch/opengl/trace.h arch/opengl/ui.h
  base/array.h base/log.h base/perf.h base/progress.h base/stop.h base/stream.h base/stream_sndfile.h
  base/thread.h base/version.h base/vpath.h
  io/audio.h io/midi.h io/midi_event.h)

# Every header, at DIR/zeal/...: one link to the library's folder.
function(zeal_header_tree dir)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${zeal_SOURCE_DIR}/library ${dir}/zeal SYMBOLIC)
endfunction()

# The public headers only, at DIR/zeal/...: one link per header, so that a
# private header included by a piece fails to build here as it would when
# installed.
function(zeal_public_header_tree dir)
  file(REMOVE_RECURSE ${dir}/zeal)
  foreach(header ${ZEAL_PUBLIC_HEADERS})
    get_filename_component(folder ${dir}/zeal/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${zeal_SOURCE_DIR}/library/${header} ${dir}/zeal/${header} SYMBOLIC)
  endforeach()
endfunction()
