# Renders the piece's first second to a film and checks that the film holds
# one second of pictures and of sound.
#   cmake -DPROGRAM=<the piece> -DFILM=<film to write> -P first-second.cmake
file(REMOVE ${FILM})
execute_process(COMMAND ${PROGRAM} --film ${FILM} --range 0:30 --no-configurator
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the render ended with status ${status}")
endif()

find_program(FFPROBE ffprobe REQUIRED)
execute_process(COMMAND ${FFPROBE} -v error -show_entries stream=codec_type,duration -of csv=p=0 ${FILM}
  OUTPUT_VARIABLE streams RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ffprobe cannot read ${FILM}")
endif()
foreach(kind video audio)
  if(NOT streams MATCHES "${kind},([0-9.]+)")
    message(FATAL_ERROR "no ${kind} stream in ${FILM}:\n${streams}")
  endif()
  if(CMAKE_MATCH_1 LESS 0.9 OR CMAKE_MATCH_1 GREATER 1.1)
    message(FATAL_ERROR "the ${kind} stream lasts ${CMAKE_MATCH_1} s, not 1 s")
  endif()
endforeach()
message(STATUS "${FILM}: one second of pictures and sound")
