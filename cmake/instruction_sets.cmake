# SPDX-License-Identifier: MIT
# The instruction sets that the kernels are built for, with the compiler
# flags of each build: one line per entry of src/target_list.hpp, under the
# same name. The build catches a line missing here (the table of every build
# and the resolvers name that build's kernels, which no object defines) and a
# line too many (lanes/for_target.hpp finds no kit for it).
include_guard(GLOBAL)

# byteblend_instruction_set(<name> <flag>...)
macro(byteblend_instruction_set name)
  set_property(GLOBAL APPEND PROPERTY BYTEBLEND_INSTRUCTION_SETS ${name})
  set_property(GLOBAL PROPERTY BYTEBLEND_FLAGS_${name} ${ARGN})
endmacro()

# The plain route stays plain, so that it is also the honest scalar baseline.
byteblend_instruction_set(scalar -fno-tree-vectorize)
byteblend_instruction_set(sse2)
byteblend_instruction_set(avx2 -mavx2 -mfma)
byteblend_instruction_set(avx512 -mavx512f -mavx512bw -mavx512vl -mavx2 -mfma)

# byteblend_add_per_instruction_set(<name> SOURCES <file>... [LINK <lib>...])
# Compiles the sources once per instruction set, into an object library
# <name>_<set> each, with that set's flags and with BYTEBLEND_TARGET_NAMESPACE
# naming it: everything the sources define lives in byteblend::<set> (see
# src/target_namespace.hpp), and lanes/for_target.hpp picks the set's lane
# kit. Position-independent and hidden, for a shared object. Sets
# <name>_OBJECTS to the objects of every set.
function(byteblend_add_per_instruction_set name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINK")
  get_property(sets GLOBAL PROPERTY BYTEBLEND_INSTRUCTION_SETS)
  set(objects "")
  foreach(set IN LISTS sets)
    get_property(flags GLOBAL PROPERTY BYTEBLEND_FLAGS_${set})
    add_library(${name}_${set} OBJECT ${arg_SOURCES})
    target_compile_definitions(${name}_${set} PRIVATE
      BYTEBLEND_TARGET_NAMESPACE=${set})
    target_compile_options(${name}_${set} PRIVATE ${flags})
    target_link_libraries(${name}_${set} PRIVATE ${arg_LINK})
    set_target_properties(${name}_${set} PROPERTIES
      POSITION_INDEPENDENT_CODE ON
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON)
    list(APPEND objects $<TARGET_OBJECTS:${name}_${set}>)
  endforeach()
  set(${name}_OBJECTS ${objects} PARENT_SCOPE)
endfunction()
