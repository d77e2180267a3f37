# SPDX-License-Identifier: MIT
# The Debian package: `cpack -G DEB` in the build tree (or the `package`
# target) makes byteblend_<version>_amd64.deb of what `cmake --install`
# installs, under /usr. The library, pkg-config file and CMake package go to
# the build's CMAKE_INSTALL_LIBDIR and the tool finds the library through
# $ORIGIN/../<libdir>, so every layout stays consistent: configure with
# -DCMAKE_INSTALL_PREFIX=/usr for Debian's multiarch lib/x86_64-linux-gnu.
set(BYTEBLEND_PACKAGE_MAINTAINER "byteblend developers <byteblend@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")

# What Debian wants beside the files themselves, in a component of its own
# that only the package installs: the copyright file, a changelog (dated by SOURCE_DATE_EPOCH
# when set, compressed without a name or time stamp) and the reasons for the
# lintian checks that do not apply to this package.
set(BYTEBLEND_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/byteblend)
string(TIMESTAMP BYTEBLEND_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
  ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
  DESTINATION ${BYTEBLEND_DOC_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
# The licence (MIT, "Expat" in Debian's words), in Debian's machine-readable
# form.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
  DESTINATION ${BYTEBLEND_DOC_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
  RENAME byteblend COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
# Everything `cmake --install` installs, and the Debian component.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};byteblend;ALL;/"
  "${CMAKE_BINARY_DIR};byteblend;debian;/")
set(CPACK_PACKAGE_NAME byteblend)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BYTEBLEND_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "byteblend blends two arrays of 8-bit image data in thirteen modes
(addition, subtraction, multiplication, screen, the red, green and blue
channels, opacity, overlay, lighten, darken, color dodge and color burn),
every output byte fixed to the last bit, on SSE2, AVX2 or AVX-512 as the
processor allows.
.
This package holds the shared library, its C and C++ headers, its CMake
package and pkg-config file, and the byteblend tool for image files.")
# Depends: from what the tool and the library link; and a shlibs file, so
# that packages built against the library depend on this one.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader's cache is updated through dpkg's trigger. (CPack also writes a
# postinst and postrm that run ldconfig; the trigger is what Debian asks.)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_PRE_BUILD_SCRIPTS
  ${CMAKE_CURRENT_LIST_DIR}/debian/compress_manual_pages.cmake)
include(CPack)
