# SPDX-License-Identifier: MIT
# Run by CTest: makes the Debian package of the build tree, unpacks it into a
# scratch root (never the machine's own folders) and uses it as a user would:
# the C example built with find_package and with pkg-config, and the tool;
# then lintian checks it.
# cmake -P check_debian_package.cmake with BUILD_DIR, LIBDIR, SOURCE_DIR,
# WORK, GENERATOR, C_COMPILER, VERSION and TOOL (ON or OFF).
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_output wanted)
  if(NOT out MATCHES "${wanted}")
    message(FATAL_ERROR "expected \"${wanted}\", got \"${out}\"")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(root ${WORK}/root)
set(usr ${root}/usr)
run(cpack -G DEB -B ${WORK}/deb --config ${BUILD_DIR}/CPackConfig.cmake)
set(deb ${WORK}/deb/byteblend_${VERSION}_amd64.deb)
if(NOT EXISTS ${deb})
  message(FATAL_ERROR "cpack made no ${deb}")
endif()
run(dpkg-deb -x ${deb} ${root})

# Both shared objects with their links, the headers, the CMake package and the
# pkg-config files beside them.
set(files include/byteblend.h include/byteblend.hpp include/byteblend_image.hpp
  include/byteblend_layers.h include/byteblend_layers.hpp
  ${LIBDIR}/libbyteblend.so.${VERSION} ${LIBDIR}/libbyteblend.so.1
  ${LIBDIR}/libbyteblend.so ${LIBDIR}/pkgconfig/byteblend.pc
  ${LIBDIR}/libbyteblend_layers.so.${VERSION} ${LIBDIR}/libbyteblend_layers.so.1
  ${LIBDIR}/libbyteblend_layers.so
  ${LIBDIR}/pkgconfig/byteblend_layers.pc
  ${LIBDIR}/cmake/byteblend/byteblendConfig.cmake
  share/doc/byteblend/changelog.gz)
if(TOOL)
  list(APPEND files bin/byteblend)
endif()
foreach(f IN LISTS files)
  if(NOT EXISTS ${usr}/${f})
    message(FATAL_ERROR "the package has no /usr/${f}")
  endif()
endforeach()
foreach(link libbyteblend.so.1 libbyteblend.so libbyteblend_layers.so.1
    libbyteblend_layers.so)
  if(NOT IS_SYMLINK ${usr}/${LIBDIR}/${link})
    message(FATAL_ERROR "/usr/${LIBDIR}/${link} is not a link")
  endif()
endforeach()

# Manual pages, once there are any, compressed as Debian wants them.
file(GLOB_RECURSE pages LIST_DIRECTORIES false ${usr}/share/man/*)
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    message(FATAL_ERROR "${page} is not compressed")
  endif()
endforeach()

# Depends: filled in from what the tool and the library link.
run(dpkg-deb --field ${deb} Depends)
expect_output("libc6")
if(TOOL)
  expect_output("libpng16")
endif()

# The C example through the CMake package.
set(expected "screen: 0 160 192 208 255 224")
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/c -B ${WORK}/c-cmake
  -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${usr} -DCMAKE_C_COMPILER=${C_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK}/c-cmake)
set(ENV{LD_LIBRARY_PATH} ${usr}/${LIBDIR})
run(${WORK}/c-cmake/blend)
expect_output("${expected}")

# The C example through pkg-config, with the README's command.
file(MAKE_DIRECTORY ${WORK}/c-pkg-config)
file(COPY ${SOURCE_DIR}/examples/c/blend.c DESTINATION ${WORK}/c-pkg-config)
set(ENV{PKG_CONFIG_PATH} ${usr}/${LIBDIR}/pkgconfig)
# The file names /usr, as installed, and pkg-config puts the scratch root
# before its paths: clean ones, with no "..".
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${root})
run(pkg-config --cflags --libs byteblend)
if(out MATCHES "\\.\\." OR NOT out MATCHES "-I${usr}/include "
    OR NOT out MATCHES "-L${usr}/${LIBDIR} ")
  message(FATAL_ERROR "pkg-config gives \"${out}\" for a package under ${root}")
endif()
run(sh -e ${SOURCE_DIR}/examples/c/build_with_pkg_config.sh
  WORKING_DIRECTORY ${WORK}/c-pkg-config)
run(${WORK}/c-pkg-config/blend)
expect_output("${expected}")

# The tool finds the library through its RUNPATH, $ORIGIN/../<libdir>.
if(TOOL)
  unset(ENV{LD_LIBRARY_PATH})
  run(${usr}/bin/byteblend --version)
  expect_output("${VERSION}")
endif()

# lintian finds no error.
find_program(LINTIAN lintian REQUIRED)
execute_process(COMMAND ${LINTIAN} --fail-on error ${deb}
  RESULT_VARIABLE status OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
message("lintian:\n${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lintian failed (${status}):\n${out}${err}")
endif()
message("${deb} holds a working install")
