# SPDX-License-Identifier: MIT
# Checks a built shared object: it defines exactly the EXPECTED functions,
# needs no library but libc, and its SONAME is SONAME.
# Usage: cmake -DLIBRARY=<file> -DNM=<nm> -DREADELF=<readelf>
#   -DEXPECTED=<name;name...> -DSONAME=<soname> -P <this file>
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${status}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
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
set(expected_names ${EXPECTED})
list(SORT expected_names)
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
string(REPLACE "." "\\." soname_pattern "${SONAME}")
if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[${soname_pattern}\\]")
  message(FATAL_ERROR "SONAME is not ${SONAME}:\n${dynamic}")
endif()
list(LENGTH names count)
message(STATUS "${count} exported functions, libc only, SONAME ${SONAME}")
