// SPDX-License-Identifier: MIT
// Names of the functions at an address of a loaded ELF object, read from the
// object's full symbol table (.symtab). The dynamic symbol table, which
// dladdr reads, holds only the fifteen exported names; .symtab also keeps the
// hidden builds of each kernel, so it tells which build a resolved indirect
// function lands in.
#ifndef BYTEBLEND_TESTS_SYMBOL_TABLE_HPP
#define BYTEBLEND_TESTS_SYMBOL_TABLE_HPP

#include <string>
#include <vector>

namespace testing_support {

struct FunctionNames {
  std::string object;             // the file the address belongs to
  std::vector<std::string> names; // mangled; several if aliases share it
  std::string error;              // why none could be read, or empty
};

// The function symbols that start exactly at `address`, which must lie in an
// object that the process has loaded (the program or a shared object).
FunctionNames function_names_at(const void *address);

} // namespace testing_support

#endif
