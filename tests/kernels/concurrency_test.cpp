// SPDX-License-Identifier: MIT
// Many threads in the kernels at once. The library keeps no state, so each
// call's output must be exactly what it is alone, whatever else runs; under
// ThreadSanitizer these tests also prove that no call touches memory another
// call uses. The threads only record what they saw; the main thread checks.
#include <gtest/gtest.h>

#include <barrier>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "byteblend.h"
#include "implementation_list.hpp"
#include "random_bytes.hpp"
#include "reference.hpp"

namespace {

using testing_support::Route;

constexpr int kThreads = 8;
constexpr int kRounds = 4;
constexpr std::uint8_t kUntouched = 0xA5;
// Not a multiple of any vector width, so every route runs its tail too.
constexpr std::int32_t kLength = 3 * 701 + 2;

std::vector<Route> routes_here() {
  std::vector<Route> routes;
  for (const Route &route : testing_support::all_routes()) {
    if (route.runs_here) {
      routes.push_back(route);
    }
  }
  return routes;
}

using testing_support::random_bytes;

// The first index at which `result` differs from what the kernel must leave
// there, or -1.
std::int32_t first_mismatch(const Route &route,
                            const std::vector<std::uint8_t> &top,
                            const std::vector<std::uint8_t> &bottom,
                            const std::vector<std::uint8_t> &result,
                            std::uint8_t untouched) {
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(result.size()); ++i) {
    const bool visited = i >= kernel.start && i < kLength &&
                         (i - kernel.start) % kernel.stride == 0;
    const std::int32_t expected =
        visited ? kernel.formula(top[i], bottom[i]) : untouched;
    if (result[i] != expected) {
      return i;
    }
  }
  return -1;
}

struct Job {
  Route route;
  std::vector<std::uint8_t> top;
  std::vector<std::uint8_t> bottom;
  std::vector<std::uint8_t> result;
};

// Every route, each on arrays of its own, with the threads taking the routes
// in turn so that different kernels and instruction sets overlap.
TEST(ConcurrencyTest, EveryRouteAtOnceOnSeparateArrays) {
  const std::vector<Route> routes = routes_here();
  std::vector<Job> jobs;
  jobs.reserve(routes.size());
  unsigned seed = 1;
  for (const Route &route : routes) {
    jobs.push_back({route, random_bytes(kLength + 1, seed),
                    random_bytes(kLength + 1, seed + 1),
                    std::vector<std::uint8_t>(kLength + 1, kUntouched)});
    seed += 2;
  }
  ASSERT_FALSE(jobs.empty());

  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&jobs, &start, t] {
      start.arrive_and_wait();
      for (std::size_t j = static_cast<std::size_t>(t); j < jobs.size();
           j += kThreads) {
        Job &job = jobs[j];
        job.route.function(kLength, job.top.data(), job.bottom.data(),
                           job.result.data());
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }

  for (const Job &job : jobs) {
    EXPECT_EQ(
        first_mismatch(job.route, job.top, job.bottom, job.result, kUntouched),
        -1)
        << job.route.kernel << " via " << job.route.via;
  }
}

// One pair of inputs read by every thread at once; each thread writes only
// its own result arrays, one per route, several rounds over.
TEST(ConcurrencyTest, ManyReadersOfTheSameInputs) {
  const std::vector<Route> routes = routes_here();
  const std::vector<std::uint8_t> top = random_bytes(kLength + 1, 101);
  const std::vector<std::uint8_t> bottom = random_bytes(kLength + 1, 202);
  // results[thread][route]
  std::vector<std::vector<std::vector<std::uint8_t>>> results(
      kThreads,
      std::vector<std::vector<std::uint8_t>>(
          routes.size(), std::vector<std::uint8_t>(kLength + 1, kUntouched)));

  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        // Each thread starts at a different route.
        for (std::size_t k = 0; k < routes.size(); ++k) {
          const std::size_t r =
              (k + static_cast<std::size_t>(t) * 7) % routes.size();
          routes[r].function(kLength, top.data(), bottom.data(),
                             results[t][r].data());
        }
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }

  for (int t = 0; t < kThreads; ++t) {
    for (std::size_t r = 0; r < routes.size(); ++r) {
      EXPECT_EQ(
          first_mismatch(routes[r], top, bottom, results[t][r], kUntouched), -1)
          << routes[r].kernel << " via " << routes[r].via << " in thread " << t;
    }
  }
}

// The three channel kernels write disjoint bytes of one shared result array,
// so a host may blend the three channels of an image from three threads.
TEST(ConcurrencyTest, ThreeChannelsOfOneArrayFromThreeThreads) {
  const std::vector<std::uint8_t> top = random_bytes(kLength + 1, 303);
  const std::vector<std::uint8_t> bottom = random_bytes(kLength + 1, 404);
  for (const std::string via :
       {"scalar", "sse2", "avx2", "avx512", "exported"}) {
    std::vector<Route> channels;
    for (const Route &route : routes_here()) {
      if (route.via == via &&
          reference::kernel_named(route.kernel).stride == 3) {
        channels.push_back(route);
      }
    }
    if (channels.empty()) {
      continue; // not run on this CPU
    }
    ASSERT_EQ(channels.size(), 3U) << via;
    std::vector<std::uint8_t> result(kLength + 1, kUntouched);
    std::barrier start(3);
    std::vector<std::thread> threads;
    threads.reserve(channels.size());
    for (const Route &route : channels) {
      threads.emplace_back([&, route] {
        start.arrive_and_wait();
        route.function(kLength, top.data(), bottom.data(), result.data());
      });
    }
    for (std::thread &thread : threads) {
      thread.join();
    }
    for (std::int32_t i = 0; i < kLength; ++i) {
      ASSERT_EQ(result[i], reference::channel(top[i], bottom[i]))
          << "index " << i << " via " << via;
    }
    EXPECT_EQ(result[kLength], kUntouched) << via;
  }
}

} // namespace
