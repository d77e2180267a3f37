# SPDX-License-Identifier: MIT
# Run by CTest: installs the build tree into a staging prefix and uses it as
# a user would. cmake -DSTEP=... -P check_installed.cmake, with BUILD_DIR,
# STAGE, LIBDIR, SOURCE_DIR, WORK, GENERATOR, C_COMPILER, CXX_COMPILER and
# PYTHON; pkg-config and cc come from PATH, as for a user.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# Builds examples/EXAMPLE against the staging prefix and runs its program
# PROGRAM (blend unless given).
function(build_with_cmake example)
  set(program blend)
  if(ARGC GREATER 1)
    set(program ${ARGV1})
  endif()
  set(binary ${WORK}/${example}-${program})
  file(REMOVE_RECURSE ${binary})
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/${example} -B ${binary}
    -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${STAGE}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_BUILD_RPATH=${STAGE}/${LIBDIR})
  run(${CMAKE_COMMAND} --build ${binary})
  run(${binary}/${program})
  message("${out}")
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${STAGE})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE})
  foreach(f include/byteblend.h include/byteblend.hpp
      include/byteblend_image.hpp include/byteblend_layers.hpp
      ${LIBDIR}/libbyteblend.so.1
      ${LIBDIR}/pkgconfig/byteblend.pc bin/byteblend)
    if(NOT EXISTS ${STAGE}/${f})
      message(FATAL_ERROR "${STAGE}/${f} was not installed")
    endif()
  endforeach()
elseif(STEP STREQUAL "c-cmake")
  build_with_cmake(c)
elseif(STEP STREQUAL "cpp-cmake")
  build_with_cmake(cpp)
elseif(STEP STREQUAL "cpp-region")
  build_with_cmake(cpp blend_region)
elseif(STEP STREQUAL "cpp-composite")
  build_with_cmake(cpp composite_logo)
elseif(STEP STREQUAL "c-pkg-config")
  # The README's command, in a folder holding a copy of blend.c.
  set(folder ${WORK}/c-pkg-config)
  file(REMOVE_RECURSE ${folder})
  file(MAKE_DIRECTORY ${folder})
  file(COPY ${SOURCE_DIR}/examples/c/blend.c DESTINATION ${folder})
  set(ENV{PKG_CONFIG_PATH} ${STAGE}/${LIBDIR}/pkgconfig)
  # The flags name the staging prefix itself, with no ".." in them.
  run(pkg-config --cflags --libs byteblend)
  if(out MATCHES "\\.\\." OR NOT out MATCHES "-I${STAGE}/include "
      OR NOT out MATCHES "-L${STAGE}/${LIBDIR} ")
    message(FATAL_ERROR "pkg-config gives \"${out}\" for the prefix ${STAGE}")
  endif()
  execute_process(COMMAND sh -e ${SOURCE_DIR}/examples/c/build_with_pkg_config.sh
    WORKING_DIRECTORY ${folder} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "examples/c/build_with_pkg_config.sh failed")
  endif()
  set(ENV{LD_LIBRARY_PATH} ${STAGE}/${LIBDIR})
  run(${folder}/blend)
  message("${out}")
elseif(STEP STREQUAL "python-path")
  run(${PYTHON} ${SOURCE_DIR}/examples/python/blend.py
    ${STAGE}/${LIBDIR}/libbyteblend.so.1)
  message("${out}")
elseif(STEP STREQUAL "python-loader")
  set(ENV{LD_LIBRARY_PATH} ${STAGE}/${LIBDIR})
  run(${PYTHON} ${SOURCE_DIR}/examples/python/blend.py)
  message("${out}")
elseif(STEP STREQUAL "tool")
  file(REMOVE_RECURSE ${WORK}/tool)
  file(MAKE_DIRECTORY ${WORK}/tool)
  set(ENV{PATH} "${STAGE}/bin:$ENV{PATH}")
  execute_process(COMMAND sh -e ${SOURCE_DIR}/examples/tool/try_tool.sh
    WORKING_DIRECTORY ${WORK}/tool RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "examples/tool/try_tool.sh failed")
  endif()
  foreach(f gallery/index.html gallery/screen.png dodged.png photo.jpg
      overlaid.jpg placed.png blended/screen.png blended/photo.jpg)
    if(NOT EXISTS ${WORK}/tool/${f})
      message(FATAL_ERROR "examples/tool/try_tool.sh did not write ${f}")
    endif()
  endforeach()
  file(GLOB_RECURSE man_page ${STAGE}/byteblend.1)
  list(FILTER man_page INCLUDE REGEX "/man1/byteblend\\.1$")
  if(NOT man_page)
    message(FATAL_ERROR "the tool's man page byteblend.1 is not installed")
  endif()
else()
  message(FATAL_ERROR "unknown STEP ${STEP}")
endif()
