# Debian packages, made by `cpack -G DEB` in the build folder:
#   libzeal-dev  the library, its headers, the CMake package and zeal.pc
#   vv-plume     the program and its resources
set(CPACK_PACKAGE_NAME zeal)
set(CPACK_PACKAGE_VENDOR "zeal")
set(CPACK_PACKAGE_CONTACT "zeal developers <zeal@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "zeal: real-time audiovisual pieces, sound and picture on one clock")
set(CPACK_PACKAGE_INSTALL_DIRECTORY zeal)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL libzeal-dev vv-plume)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)

set(CPACK_DEBIAN_VV-PLUME_PACKAGE_NAME vv-plume)
set(CPACK_DEBIAN_VV-PLUME_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_VV-PLUME_DESCRIPTION "vv-plume, an audiovisual piece of 123 s\n Flocks of fish, a glowing particle cloud and a circling camera, with\n granular sine voices through a modulated reverb, played live or rendered\n to a film.")
# The program's shared libraries, as dpkg-shlibdeps finds them; the EGL and
# GL drivers are loaded at run time, so they are named here.
set(CPACK_DEBIAN_VV-PLUME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_VV-PLUME_PACKAGE_DEPENDS "libgl1-mesa-dri, libegl-mesa0")

set(CPACK_DEBIAN_LIBZEAL-DEV_PACKAGE_NAME libzeal-dev)
set(CPACK_DEBIAN_LIBZEAL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_LIBZEAL-DEV_DESCRIPTION "zeal framework: static library and headers\n Build real-time audiovisual pieces on zeal: find_package(zeal CONFIG)\n gives the target zeal::zeal; pkg-config --cflags --libs zeal gives flags.")
# What the headers and the static library need to build and link a piece.
set(CPACK_DEBIAN_LIBZEAL-DEV_PACKAGE_DEPENDS
  "g++, cmake, pkg-config, portaudio19-dev, libsndfile1-dev, freeglut3-dev, libglew-dev, libglu1-mesa-dev, libgl1-mesa-dri, libegl-dev, libegl-mesa0, libpng-dev, librtmidi-dev, libjack-jackd2-dev, libasound2-dev, libavcodec-dev, libavformat-dev, libswscale-dev, libavutil-dev, libx11-dev")
include(CPack)
