# SPDX-License-Identifier: MIT
# Run by CPack once the files are in place and before it packs them
# (CPACK_PRE_BUILD_SCRIPTS): Debian wants manual pages compressed, and
# compressed the reproducible way, without a name or time stamp.
file(GLOB_RECURSE pages LIST_DIRECTORIES false
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/*")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$" AND NOT IS_SYMLINK "${page}")
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
