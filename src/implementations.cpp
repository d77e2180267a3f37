#include "implementations.hpp"

#include "targets.hpp"

namespace byteblend {
namespace {

#define BYTEBLEND_IMPLEMENTATION(target, kit, needed, name)                    \
  {#name, Target::target, target::name},
#define BYTEBLEND_IMPLEMENTATIONS_OF(name)                                     \
  BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_IMPLEMENTATION, name)

const Implementation kAll[] = {
    BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_IMPLEMENTATIONS_OF)};
#undef BYTEBLEND_IMPLEMENTATIONS_OF
#undef BYTEBLEND_IMPLEMENTATION

} // namespace

std::span<const Implementation> implementations() { return kAll; }

std::string_view target_name(Target target) {
#define BYTEBLEND_NAME(name, ...)                                              \
  if (target == Target::name) {                                                \
    return #name;                                                              \
  }
  BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_NAME)
#undef BYTEBLEND_NAME
  return "unknown";
}

} // namespace byteblend
