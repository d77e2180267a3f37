# SPDX-License-Identifier: MIT
# Installs the headers, the shared object with its SONAME links, a CMake
# package (find_package(byteblend) gives byteblend::byteblend) and a
# pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS byteblend EXPORT byteblendTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/byteblend.h
  ${PROJECT_SOURCE_DIR}/include/byteblend.hpp
  ${PROJECT_SOURCE_DIR}/include/byteblend_image.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(BYTEBLEND_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/byteblend)
install(EXPORT byteblendTargets
  NAMESPACE byteblend::
  DESTINATION ${BYTEBLEND_CMAKE_DIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/byteblendConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/byteblendConfig.cmake
  INSTALL_DESTINATION ${BYTEBLEND_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/byteblendConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/byteblendConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/byteblendConfigVersion.cmake
  DESTINATION ${BYTEBLEND_CMAKE_DIR})

# The .pc file names the prefix the install goes to (`cmake --install
# --prefix DIR` anywhere gives a working file) as a clean absolute path, so
# the flags read -I/usr/include rather than a prefix found from the file's
# own place, ${pcfiledir}/../../.., which pkg-config never normalises. The
# prefix is known only when installing: the template is filled in here but
# for it, and the rest at install time. A tree unpacked elsewhere (a .deb
# under a scratch root) is used through PKG_CONFIG_SYSROOT_DIR.
set(BYTEBLEND_PC_PREFIX "@BYTEBLEND_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/byteblend.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/byteblend.pc.in @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/install_pc_file.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/install_pc_file.cmake @ONLY)
install(SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/install_pc_file.cmake)
