# SPDX-License-Identifier: MIT
# Run by CTest: configures the demo and deb presets into scratch build trees
# with apt-get, sudo and dpkg-query replaced by stubs that record their calls
# (dpkg-query says every package is missing), and checks what each set up:
# the demo preset installs the Debian packages of the library and the tool
# and nothing else, makes no venv and generates a build of those two alone;
# the deb preset, as packagers want, runs neither apt-get nor pip.
# cmake -P check_preset_set_up.cmake with SOURCE_DIR, WORK and NINJA.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
set(bin ${WORK}/bin)
set(calls ${WORK}/calls)
file(MAKE_DIRECTORY ${bin})
foreach(stub apt-get dpkg-query sudo)
  if(stub STREQUAL "sudo")
    set(body "exec \"$@\"")
  elseif(stub STREQUAL "dpkg-query")
    set(body "exit 1")
  else()
    set(body "echo \"${stub} $*\" >>${calls}")
  endif()
  file(WRITE ${bin}/${stub} "#!/bin/sh\n${body}\n")
  file(CHMOD ${bin}/${stub} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()

# Configures PRESET into WORK/PRESET; leaves the stubs' record in `recorded`.
function(configure preset)
  file(REMOVE ${calls})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=BYTEBLEND_SKIP_SETUP
      "PATH=${bin}:$ENV{PATH}"
      ${CMAKE_COMMAND} --preset ${preset} -B ${WORK}/${preset}
      -DBYTEBLEND_VENV=${WORK}/${preset}/venv
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring ${preset} failed (${status}):\n${out}${err}")
  endif()
  if(EXISTS ${WORK}/${preset}/venv)
    message(FATAL_ERROR "the ${preset} preset made a venv")
  endif()
  set(recorded "")
  if(EXISTS ${calls})
    file(READ ${calls} recorded)
  endif()
  set(recorded "${recorded}" PARENT_SCOPE)
endfunction()

configure(demo)
set(wanted "apt-get update -q\napt-get install -y -q --no-install-recommends \
cmake ninja-build g++ binutils libpng-dev libjpeg62-turbo-dev\n")
if(NOT recorded STREQUAL wanted)
  message(FATAL_ERROR
    "the demo preset ran:\n${recorded}\nwanted only:\n${wanted}")
endif()
execute_process(COMMAND ${NINJA} -C ${WORK}/demo -t targets all
  OUTPUT_VARIABLE targets COMMAND_ERROR_IS_FATAL ANY)
# The tool links the layers library, so the demo preset builds it too.
foreach(target byteblend_tool byteblend_layers run-demo)
  if(NOT targets MATCHES "(^|\n)${target}:")
    message(FATAL_ERROR "the demo preset has no ${target} target")
  endif()
endforeach()
foreach(target byteblend_tests byteblend_native byteblend_bench blend_host)
  if(targets MATCHES "(^|\n)${target}:")
    message(FATAL_ERROR "the demo preset builds ${target}")
  endif()
endforeach()

configure(deb)
if(NOT recorded STREQUAL "")
  message(FATAL_ERROR "the deb preset ran:\n${recorded}")
endif()
message(STATUS "demo: the library's and the tool's Debian packages only; deb: nothing")
