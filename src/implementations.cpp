#include "implementations.hpp"

#include "targets.hpp"

namespace byteblend {
namespace {

#define BYTEBLEND_SCALAR(name) {#name, Target::scalar, scalar::name},
#define BYTEBLEND_SSE2(name) {#name, Target::sse2, sse2::name},
#define BYTEBLEND_AVX2(name) {#name, Target::avx2, avx2::name},
#define BYTEBLEND_AVX512(name) {#name, Target::avx512, avx512::name},

const Implementation kAll[] = {
    BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_SCALAR)
        BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_SSE2)
            BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_AVX2)
                BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_AVX512)};

} // namespace

std::span<const Implementation> implementations() { return kAll; }

std::string_view target_name(Target target) {
  switch (target) {
  case Target::scalar:
    return "scalar";
  case Target::sse2:
    return "sse2";
  case Target::avx2:
    return "avx2";
  case Target::avx512:
    return "avx512";
  }
  return "unknown";
}

} // namespace byteblend
