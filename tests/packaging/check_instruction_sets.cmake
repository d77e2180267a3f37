# SPDX-License-Identifier: MIT
# Checks that each build of the kernels in the shared object uses only its
# own instruction set, so that no inlined helper or compiler-generated code
# of a wider build ends up where an older CPU runs it:
#   - the AVX-512 build (byteblend::avx512) may use anything;
#   - the AVX2 build (byteblend::avx2) no EVEX encoding, zmm or mask register;
#   - all other code (the plain and SSE2 builds, the load-time resolvers, the
#     clamp helpers, the start-up code) no VEX or EVEX encoding at all.
# It disassembles the object with binutils objdump and reads the raw bytes of
# every instruction: after the legacy and REX prefixes, 0xC4 or 0xC5 starts a
# VEX instruction and 0x62 an EVEX one (in 64-bit mode neither byte means
# anything else). The build of a function is the namespace in its symbol, so
# the object must keep its .symtab (the build tree's copy does).
# clang's -fsanitize=function (the asan preset's UBSan) starts a function
# with a jump over 6 bytes of data, a signature and the offset of the
# function's type information; objdump decodes them as instructions, and
# where that offset happens to hold 0x62 it looks like EVEX, so those bytes
# are skipped.
# Usage: cmake -DLIBRARY=<file> -DOBJDUMP=<objdump> -P <this file>

execute_process(
  COMMAND ${OBJDUMP} --disassemble --demangle --wide --insn-width=16
    ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}: ${status}\n${errors}")
endif()
# CMake lists split at ';' and pair up square brackets ("[clone .cold]"):
# neither may reach the list of lines.
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "[" "(" listing "${listing}")
string(REPLACE "]" ")" listing "${listing}")
string(REGEX MATCHALL "[^\n]+" lines "${listing}")

set(builds scalar sse2 avx2 avx512 other)
foreach(build IN LISTS builds)
  set(functions_${build} 0)
  set(vex_${build} 0)
  set(evex_${build} 0)
endforeach()
set(faults "")
set(function "")
set(build other)
set(faulty_function "")
set(at_entry FALSE)
set(data_end "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ <(.*)>:$")
    set(function "${CMAKE_MATCH_1}")
    set(at_entry TRUE)
    set(data_end "")
    if(function MATCHES "byteblend::(scalar|sse2|avx2|avx512)::")
      set(build ${CMAKE_MATCH_1})
    else()
      set(build other)
    endif()
    math(EXPR functions_${build} "${functions_${build}} + 1")
    continue()
  endif()
  if(NOT line MATCHES "^ *([0-9a-f]+):\t([0-9a-f ]+)\t(.*)$")
    continue()
  endif()
  set(address ${CMAKE_MATCH_1})
  set(instruction "${CMAKE_MATCH_3}")
  set(bytes "${CMAKE_MATCH_2}")
  if(at_entry)
    set(at_entry FALSE)
    if(bytes MATCHES "^eb 06 *$")
      math(EXPR data_end "0x${address} + 8")
      continue()
    endif()
  elseif(NOT data_end STREQUAL "")
    math(EXPR here "0x${address}")
    if(here LESS data_end)
      continue()
    endif()
    set(data_end "")
  endif()
  # The first byte after the operand-size, address-size, repeat, segment and
  # lock prefixes and REX.
  if(NOT bytes MATCHES
      "^((66|67|f2|f3|2e|3e|26|36|64|65|f0) )*(4[0-9a-f] )?([0-9a-f][0-9a-f])")
    message(FATAL_ERROR "unexpected objdump line: '${line}'")
  endif()
  set(opcode ${CMAKE_MATCH_4})
  set(encoding "")
  if(opcode STREQUAL "62")
    set(encoding EVEX)
    math(EXPR evex_${build} "${evex_${build}} + 1")
  elseif(opcode MATCHES "^c[45]$")
    set(encoding VEX)
    math(EXPR vex_${build} "${vex_${build}} + 1")
  endif()
  set(fault "")
  if(build STREQUAL "avx512")
  elseif(build STREQUAL "avx2")
    if(encoding STREQUAL "EVEX")
      set(fault "EVEX-encoded")
    elseif(instruction MATCHES "%zmm|%k[0-7]")
      set(fault "AVX-512 register in")
    endif()
  elseif(NOT encoding STREQUAL "")
    set(fault "${encoding}-encoded")
  endif()
  # One line per faulty function: its first fault.
  if(NOT fault STREQUAL "" AND NOT function STREQUAL faulty_function)
    set(faulty_function "${function}")
    string(REGEX REPLACE "[ \t]+" " " instruction "${instruction}")
    string(APPEND faults
      "\n  ${function} (${build}): ${fault} '${instruction}' at 0x${address}")
  endif()
endforeach()

if(NOT faults STREQUAL "")
  message(FATAL_ERROR "instructions beyond the build's instruction set in "
    "${LIBRARY}:${faults}")
endif()
# The check proves nothing if it could not tell the builds apart or failed
# to recognise the encodings: each build must be there, and the wide builds
# must show the encodings they are compiled for.
foreach(build IN ITEMS scalar sse2 avx2 avx512)
  if(functions_${build} EQUAL 0)
    message(FATAL_ERROR "no function of byteblend::${build} in ${LIBRARY}: "
      "is its .symtab stripped?")
  endif()
endforeach()
if(vex_avx2 EQUAL 0 OR evex_avx512 EQUAL 0)
  message(FATAL_ERROR "found no VEX instruction in the AVX2 build "
    "(${vex_avx2}) or no EVEX one in the AVX-512 build (${evex_avx512}): "
    "the decoding of ${OBJDUMP}'s output is wrong")
endif()
foreach(build IN LISTS builds)
  message(STATUS "${build}: ${functions_${build}} functions, "
    "${vex_${build}} VEX and ${evex_${build}} EVEX instructions")
endforeach()
