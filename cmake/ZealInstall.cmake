# Installs the framework for pieces built elsewhere: the library, its public
# headers under include/zeal/, a CMake package (find_package(zeal CONFIG)
# gives zeal::zeal) and zeal.pc for pkg-config. All of it is the
# libzeal-dev component.
include(CMakePackageConfigHelpers)
set(ZEAL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zeal)

install(TARGETS zeal EXPORT zealTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libzeal-dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libzeal-dev
  NAMELINK_COMPONENT libzeal-dev)
foreach(header ${ZEAL_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${zeal_SOURCE_DIR}/library/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeal/${folder} COMPONENT libzeal-dev)
endforeach()
install(EXPORT zealTargets NAMESPACE zeal:: DESTINATION ${ZEAL_CMAKE_DIR} COMPONENT libzeal-dev)

configure_package_config_file(${zeal_SOURCE_DIR}/cmake/zealConfig.cmake.in
  ${zeal_BINARY_DIR}/zealConfig.cmake INSTALL_DESTINATION ${ZEAL_CMAKE_DIR})
# Before 1.0 a minor version may change the interface: 0.3 accepts 0.3.x only.
write_basic_package_version_file(${zeal_BINARY_DIR}/zealConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${zeal_BINARY_DIR}/zealConfig.cmake ${zeal_BINARY_DIR}/zealConfigVersion.cmake
  DESTINATION ${ZEAL_CMAKE_DIR} COMPONENT libzeal-dev)

# pkg-config modules of the dependencies, shared by the CMake package and
# zeal.pc; GL, X11 and threads come as plain flags.
set(ZEAL_PC_REQUIRES "portaudio-2.0 sndfile libpng glut glew glu egl rtmidi jack alsa libavformat libavcodec libswscale libavutil gl x11")
# zeal.pc finds its prefix from its own place, so a moved prefix still works.
file(RELATIVE_PATH ZEAL_PC_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" ZEAL_PC_PREFIX "${ZEAL_PC_PREFIX}")
configure_file(${zeal_SOURCE_DIR}/cmake/zeal.pc.in ${zeal_BINARY_DIR}/zeal.pc @ONLY)
install(FILES ${zeal_BINARY_DIR}/zeal.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libzeal-dev)

# The piece template and its writer, as bin/zeal-new-piece.
install(PROGRAMS ${zeal_SOURCE_DIR}/tools/new-piece.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
  RENAME zeal-new-piece COMPONENT libzeal-dev)
install(DIRECTORY ${zeal_SOURCE_DIR}/tools/piece-template DESTINATION ${CMAKE_INSTALL_DATADIR}/zeal
  COMPONENT libzeal-dev)
