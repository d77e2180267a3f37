# SPDX-License-Identifier: MIT
# Run by CTest: each README code block that follows a line
#   <!-- file: PATH -->
# must be the file PATH (relative to the source tree), word for word, so that
# what the README shows is what CI builds and runs.
cmake_minimum_required(VERSION 3.25)

file(READ ${SOURCE_DIR}/README.md readme)
string(REGEX MATCHALL "<!-- file: [^ ]+ -->\n```[a-z]*\n" markers "${readme}")
list(LENGTH markers count)
if(count EQUAL 0)
  message(FATAL_ERROR "README.md marks no snippet")
endif()
set(rest "${readme}")
foreach(marker IN LISTS markers)
  string(REGEX REPLACE "<!-- file: ([^ ]+) -->.*" "\\1" path "${marker}")
  string(FIND "${rest}" "${marker}" at)
  string(LENGTH "${marker}" skip)
  math(EXPR at "${at} + ${skip}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
  string(FIND "${rest}" "```\n" end)
  string(SUBSTRING "${rest}" 0 ${end} snippet)
  file(READ ${SOURCE_DIR}/${path} wanted)
  if(NOT snippet STREQUAL wanted)
    message(FATAL_ERROR "README.md's snippet of ${path} differs from the file")
  endif()
  message(STATUS "README.md shows ${path} as it is")
endforeach()
