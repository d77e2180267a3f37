// SPDX-License-Identifier: MIT
// Memory with nothing readable or writable on either side, for the memory
// contract tests: an access one byte out faults at once.
#ifndef BYTEBLEND_TESTS_GUARDED_PAGES_HPP
#define BYTEBLEND_TESTS_GUARDED_PAGES_HPP

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace testing_support {

// Read-write pages between two PROT_NONE pages.
class GuardedPages {
public:
  explicit GuardedPages(std::size_t pages = 1) : pages_(pages) {
    void *mapping =
        mmap(nullptr, mapped(), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
      std::perror("mmap");
      std::abort();
    }
    mapping_ = static_cast<std::uint8_t *>(mapping);
    if (mprotect(begin(), size(), PROT_READ | PROT_WRITE) != 0) {
      std::perror("mprotect");
      std::abort();
    }
  }
  GuardedPages(const GuardedPages &) = delete;
  GuardedPages &operator=(const GuardedPages &) = delete;
  ~GuardedPages() { munmap(mapping_, mapped()); }

  static std::size_t page_size() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  }
  [[nodiscard]] std::size_t size() const { return pages_ * page_size(); }
  [[nodiscard]] std::uint8_t *begin() const { return mapping_ + page_size(); }
  [[nodiscard]] std::uint8_t *end() const { return begin() + size(); }
  [[nodiscard]] std::uint8_t *inaccessible() const { return mapping_; }

private:
  [[nodiscard]] std::size_t mapped() const { return size() + 2 * page_size(); }

  std::size_t pages_;
  std::uint8_t *mapping_ = nullptr;
};

} // namespace testing_support

#endif
