# The Debian package (scripts/package.sh): what `cmake --install` puts under /usr, with the
# libraries it needs found by dpkg-shlibdeps from the linked program itself.

set(MOVARIN_PACKAGE_MAINTAINER "Movarin <movarin@${MOVARIN_WEB_DOMAIN}>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME movarin)
set(CPACK_PACKAGE_VENDOR Movarin)
# The version as users see it, so the package and version.txt never disagree.
set(CPACK_PACKAGE_VERSION ${MOVARIN_VERSION_TEXT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${MOVARIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small video player with a window that fits the video")
# Wrapped for Debian here: the generator does not wrap it.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Movarin plays a video in a window that fits itself to the video's natural"
  "size, looping: Flash Video (.flv), repaired as it is read, and every format"
  "libmpv reads. A video opens from the command line, from"
  "File > Open, from a file dropped on the window or from a file manager."
  "A bar over the picture pauses, seeks and sets the volume, and the player"
  "can check whether a newer version is available. movarin-repair writes a"
  "repaired copy of a broken FLV recording, with true metadata and a keyframe"
  "index, for every other program to play and seek in.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://${MOVARIN_WEB_DOMAIN}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins Qt loads at run time, which no linked library names: native Wayland sessions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

# What only a Debian package carries, added to the staged tree by package_compress.cmake; a
# plain install keeps the manual page uncompressed.
foreach(file copyright changelog)
  configure_file(${PROJECT_SOURCE_DIR}/resources/${file}.in
    ${PROJECT_BINARY_DIR}/package/${file} @ONLY)
endforeach()
set(CPACK_MOVARIN_COPYRIGHT ${PROJECT_BINARY_DIR}/package/copyright)
set(CPACK_MOVARIN_CHANGELOG ${PROJECT_BINARY_DIR}/package/changelog)
set(CPACK_MOVARIN_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/resources/movarin.lintian-overrides)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_compress.cmake)

include(CPack)
