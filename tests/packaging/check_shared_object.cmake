# SPDX-License-Identifier: MIT
# Checks the built shared object: it defines exactly the fifteen exported
# functions, needs no library but libc, and is named libbyteblend.so.1.
# Usage: cmake -DLIBRARY=<file> -DNM=<nm> -DREADELF=<readelf> -P <this file>
set(expected_names
  AdditionBlend BlueChannelBlend ColorBurnBlend ColorDodgeBlend DarkenBlend
  GreenChannelBlend LightenBlend Maximum Minimum MultiplicationBlend
  OpacityBlend OverlayBlend RedChannelBlend ScreenBlend SubtractionBlend)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${status}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; a symbol version shows as a name of its own.
  if(NOT line MATCHES "^[0-9a-f]+ ([A-Za-z]) ([^ @]+)$")
    message(FATAL_ERROR "unexpected nm line: '${line}'")
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  if(NOT type MATCHES "^[Ti]$")
    message(FATAL_ERROR "'${name}' is exported as type '${type}', "
      "not as a function or an indirect function")
  endif()
  list(APPEND names ${name})
endforeach()
list(SORT names)
if(NOT names STREQUAL expected_names)
  message(FATAL_ERROR "exported names differ\n  expected: ${expected_names}"
    "\n  found:    ${names}")
endif()

execute_process(COMMAND ${READELF} -d ${LIBRARY}
  OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READELF} failed on ${LIBRARY}: ${status}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]*\\]" needed "${dynamic}")
foreach(entry IN LISTS needed)
  if(NOT entry MATCHES "\\[libc\\.so\\.6\\]$")
    message(FATAL_ERROR "needs more than libc: ${entry}")
  endif()
endforeach()
if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[libbyteblend\\.so\\.1\\]")
  message(FATAL_ERROR "SONAME is not libbyteblend.so.1:\n${dynamic}")
endif()
list(LENGTH names count)
list(LENGTH needed needed_count)
message(STATUS "${count} exported functions, ${needed_count} NEEDED entries")
