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

# The .pc file finds the prefix from its own place, so that an install with
# `cmake --install --prefix DIR` anywhere gives a working pkg-config file.
file(RELATIVE_PATH BYTEBLEND_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" BYTEBLEND_PC_TO_PREFIX "${BYTEBLEND_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/byteblend.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/byteblend.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/byteblend.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
