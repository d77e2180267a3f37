// SPDX-License-Identifier: MIT
// Shows that this build's AddressSanitizer sees AVX-512 byte-masked loads
// and stores lane by lane, as the kernel fuzzer relies on. Given no
// argument, it loads and stores a 64-lane vector whose enabled lanes are
// exactly a 5-byte allocation: no report, exit 0. Given "over", it enables
// one lane more: AddressSanitizer must report it (nonzero exit). On a CPU
// without AVX-512 BW it prints "skipped" and exits 0.
#include <immintrin.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((target("avx512f,avx512bw"), noinline)) int
copy_masked(const std::uint8_t *from, std::uint8_t *to, __mmask64 lanes) {
  const __m512i v = _mm512_maskz_loadu_epi8(lanes, from);
  _mm512_mask_storeu_epi8(to, lanes, v);
  return to[0];
}

} // namespace

int main(int argc, char **argv) {
  if (!__builtin_cpu_supports("avx512bw")) {
    std::puts("skipped: this CPU lacks AVX-512 BW");
    return 0;
  }
  constexpr int kSize = 5;
  const bool over = argc > 1 && argv[1][0] == 'o';
  auto *from = static_cast<std::uint8_t *>(std::malloc(kSize));
  auto *to = static_cast<std::uint8_t *>(std::malloc(kSize));
  if (from == nullptr || to == nullptr) {
    std::free(from);
    std::free(to);
    return 2;
  }
  for (int i = 0; i < kSize; ++i) {
    from[i] = static_cast<std::uint8_t>(i + 1);
  }
  const __mmask64 lanes = (__mmask64{1} << (over ? kSize + 1 : kSize)) - 1;
  const int first = copy_masked(from, to, lanes);
  std::printf("copied, first byte %d\n", first);
  std::free(from);
  std::free(to);
  return 0;
}
