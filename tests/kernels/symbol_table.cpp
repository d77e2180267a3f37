#include "symbol_table.hpp"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace testing_support {
namespace {

template <typename T>
bool read_at(const std::vector<char> &file, std::uint64_t offset, T *out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) {
    return false;
  }
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

std::string names_in_symtab(const std::vector<char> &file, std::uint64_t value,
                            std::vector<std::string> *names) {
  Elf64_Ehdr header{};
  if (!read_at(file, 0, &header) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64) {
    return "not a 64-bit ELF file";
  }
  const auto section = [&](std::uint64_t index, Elf64_Shdr *out) {
    return read_at(file, header.e_shoff + index * header.e_shentsize, out);
  };
  for (std::uint64_t index = 0; index < header.e_shnum; ++index) {
    Elf64_Shdr symtab{};
    Elf64_Shdr strtab{};
    if (!section(index, &symtab)) {
      return "section header out of the file";
    }
    if (symtab.sh_type != SHT_SYMTAB) {
      continue;
    }
    if (!section(symtab.sh_link, &strtab) || symtab.sh_entsize == 0) {
      return "malformed .symtab";
    }
    for (std::uint64_t offset = symtab.sh_offset;
         offset < symtab.sh_offset + symtab.sh_size;
         offset += symtab.sh_entsize) {
      Elf64_Sym symbol{};
      if (!read_at(file, offset, &symbol) || symbol.st_name >= strtab.sh_size ||
          strtab.sh_offset + symbol.st_name >= file.size()) {
        return "malformed .symtab";
      }
      if (ELF64_ST_TYPE(symbol.st_info) == STT_FUNC &&
          symbol.st_value == value) {
        names->emplace_back(file.data() + strtab.sh_offset + symbol.st_name);
      }
    }
    return "";
  }
  return "no .symtab: the object is stripped";
}

} // namespace

FunctionNames function_names_at(const void *address) {
  FunctionNames found;
  Dl_info info{};
  link_map *map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void **>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      map == nullptr) {
    found.error = "the address lies in no loaded object";
    return found;
  }
  // The program itself has an empty name in the link map.
  found.object = map->l_name[0] == '\0' ? "/proc/self/exe" : map->l_name;
  std::ifstream stream(found.object, std::ios::binary);
  const std::vector<char> file((std::istreambuf_iterator<char>(stream)),
                               std::istreambuf_iterator<char>());
  if (file.empty()) {
    found.error = "cannot read " + found.object;
    return found;
  }
  // A symbol's value is its address before the object was moved by l_addr.
  const std::uint64_t value =
      reinterpret_cast<std::uintptr_t>(address) - map->l_addr;
  found.error = names_in_symtab(file, value, &found.names);
  return found;
}

} // namespace testing_support
