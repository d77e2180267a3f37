# SPDX-License-Identifier: MIT
# What both shared objects of the project promise their users, set in one
# place: the SONAME of the major version, exactly the names of their version
# script exported and nothing else visible, and no run-time library but
# libc (their kernels call nothing, so libstdc++, libm and libgcc_s drop
# out).
# Usage: byteblend_shared_object(TARGET EXPORT_MAP)
function(byteblend_shared_object target export_map)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${export_map})
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${export_map}
    -Wl,--as-needed -Wl,--no-undefined -static-libgcc)
endfunction()
