#include "implementation_list.hpp"

#include "byteblend.h"

namespace testing_support {

std::vector<Route> all_routes() {
  std::vector<Route> routes;
  for (const byteblend::Implementation &implementation :
       byteblend::implementations()) {
    routes.push_back(
        {std::string(implementation.kernel),
         std::string(byteblend::target_name(implementation.target)),
         implementation.function,
         byteblend::cpu_supports(implementation.target)});
  }
#define BYTEBLEND_EXPORTED(name)                                               \
  routes.push_back({#name, "exported", name, true});
  BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_EXPORTED)
#undef BYTEBLEND_EXPORTED
  return routes;
}

void PrintTo(const Route &route, std::ostream *out) {
  *out << route.kernel << " via " << route.via;
}

std::string route_name(const testing::TestParamInfo<Route> &info) {
  return info.param.kernel + "_" + info.param.via;
}

} // namespace testing_support
