// SPDX-License-Identifier: MIT
// The C++ interface: names, parsing, the mode-to-kernel mapping, the size
// check and the chunking that lets blend() take arrays of any size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "byteblend.hpp"
#include "mode_table.hpp"
#include "reference.hpp"

namespace {

using byteblend::Mode;

using Named = testing_support::NamedMode;
constexpr const auto &kNamed = testing_support::kNamedModes;

std::vector<std::uint8_t> random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::uint8_t> bytes(size);
  for (auto &b : bytes) {
    b = static_cast<std::uint8_t>(byte(engine));
  }
  return bytes;
}

TEST(ModeNames, EveryModeHasItsNameAndRoundTrips) {
  ASSERT_EQ(std::size(kNamed), byteblend::all_modes.size());
  std::set<Mode> listed(byteblend::all_modes.begin(),
                        byteblend::all_modes.end());
  EXPECT_EQ(listed.size(), byteblend::all_modes.size()) << "a mode is twice";
  for (const Named &named : kNamed) {
    EXPECT_TRUE(listed.count(named.mode)) << named.name << " is not listed";
    EXPECT_EQ(byteblend::name(named.mode), named.name);
    EXPECT_EQ(byteblend::parse_mode(named.name), named.mode) << named.name;
  }
}

// The header's table against the tests' own: the same modes, row by row, in
// the library's order, each with its name and the very function exported
// under its kernel's name; all_modes, name() and kernel() read the same.
TEST(ModeTable, ListsTheLibrarysModesInItsOrder) {
  ASSERT_EQ(byteblend::mode_table.size(), std::size(kNamed));
  ASSERT_EQ(byteblend::all_modes.size(), std::size(kNamed));
  for (std::size_t i = 0; i < std::size(kNamed); ++i) {
    const Named &named = kNamed[i];
    const byteblend::ModeFacts &row = byteblend::mode_table[i];
    EXPECT_EQ(row.mode, named.mode) << "row " << i;
    EXPECT_EQ(row.name, named.name) << "row " << i;
    EXPECT_EQ(row.kernel, named.function) << named.name;
    EXPECT_EQ(named.kernel, reference::kKernels[i].name) << "row " << i;
    EXPECT_EQ(byteblend::all_modes[i], named.mode) << "place " << i;
    EXPECT_EQ(byteblend::kernel(named.mode), named.function) << named.name;
  }
}

// A channel mode is one whose kernel steps through packed RGB by 3 bytes,
// and its channel is the index the kernel starts at.
TEST(ModeTable, ChannelModesAreThoseWhoseKernelSkipsBytes) {
  for (const Named &named : kNamed) {
    const reference::Kernel &kernel = reference::kernel_named(named.kernel);
    const bool channel = kernel.stride == 3;
    EXPECT_EQ(byteblend::is_channel_mode(named.mode), channel) << named.name;
    EXPECT_EQ(byteblend::channel_of(named.mode),
              channel ? std::optional<std::size_t>(kernel.start) : std::nullopt)
        << named.name;
  }
}

// A value outside the enum's names no mode: no name, kernel or channel.
TEST(ModeTable, NoRowForAValueOutsideTheEnum) {
  for (const int value : {-1, static_cast<int>(std::size(kNamed)), 1000}) {
    const auto mode = static_cast<Mode>(value);
    EXPECT_EQ(byteblend::name(mode), "unknown") << value;
    EXPECT_EQ(byteblend::kernel(mode), nullptr) << value;
    EXPECT_FALSE(byteblend::is_channel_mode(mode)) << value;
  }
}

TEST(ModeNames, ParseIgnoresCase) {
  EXPECT_EQ(byteblend::parse_mode("SCREEN"), Mode::screen);
  EXPECT_EQ(byteblend::parse_mode("Color-Dodge"), Mode::color_dodge);
  EXPECT_EQ(byteblend::parse_mode("bLuE-cHaNnEl"), Mode::blue_channel);
}

TEST(ModeNames, AnythingElseIsNoMode) {
  for (const std::string_view text :
       {"", "scree", "screens", " screen", "screen ", "color dodge",
        "color_dodge", "colordodge", "red", "multiply", "Addition\n"}) {
    EXPECT_EQ(byteblend::parse_mode(text), std::nullopt) << '"' << text << '"';
  }
}

// blend() reaches the right kernel: every (top, bottom) pair at every index
// the kernel visits, against the reference formula; the other bytes keep
// their marker.
TEST(Blend, EachModeComputesItsOwnFormula) {
  constexpr std::uint8_t kMarker = 0xA5;
  std::vector<std::uint8_t> top(std::size_t{3} * 65536);
  std::vector<std::uint8_t> bottom(top.size());
  for (std::size_t i = 0; i < top.size(); ++i) {
    top[i] = static_cast<std::uint8_t>(i / 3 >> 8);
    bottom[i] = static_cast<std::uint8_t>(i / 3);
  }
  for (const Named &named : kNamed) {
    const reference::Kernel &kernel = reference::kernel_named(named.kernel);
    std::vector<std::uint8_t> result(top.size(), kMarker);
    byteblend::blend(named.mode, top, bottom, result);
    int mismatches = 0;
    for (std::size_t i = 0; i < top.size(); ++i) {
      const bool visited =
          (static_cast<std::int32_t>(i % 3) - kernel.start) % kernel.stride ==
          0;
      const int expected =
          visited ? kernel.formula(top[i], bottom[i]) : kMarker;
      if (result[i] != expected && ++mismatches <= 5) {
        ADD_FAILURE() << named.name << " at " << i << ": top " << int{top[i]}
                      << ", bottom " << int{bottom[i]} << " gave "
                      << int{result[i]} << ", expected " << expected;
      }
    }
  }
}

TEST(Blend, SizesThatDifferThrowNamingThem) {
  struct Case {
    std::size_t top, bottom, result;
  };
  for (const Case c : {Case{4, 5, 5}, Case{5, 4, 5}, Case{5, 5, 4},
                       Case{0, 1, 0}, Case{7, 0, 7}}) {
    const std::vector<std::uint8_t> top(c.top);
    const std::vector<std::uint8_t> bottom(c.bottom);
    std::vector<std::uint8_t> result(c.result, 0x11);
    try {
      byteblend::blend(Mode::addition, top, bottom, result);
      ADD_FAILURE() << "no exception for " << c.top << ", " << c.bottom << ", "
                    << c.result;
    } catch (const std::invalid_argument &error) {
      const std::string message = error.what();
      for (const std::size_t size : {c.top, c.bottom, c.result}) {
        EXPECT_NE(message.find(std::to_string(size)), std::string::npos)
            << message;
      }
    }
    EXPECT_EQ(result, std::vector<std::uint8_t>(c.result, 0x11))
        << "result written despite the mismatch";
  }
}

TEST(Blend, ChunkThatIsNotAPositiveMultipleOfThreeThrows) {
  const std::vector<std::uint8_t> in(12);
  std::vector<std::uint8_t> out(12);
  for (const std::size_t chunk :
       {std::size_t{0}, std::size_t{1}, std::size_t{4}, std::size_t{2147483649},
        std::size_t{3} << 31}) {
    EXPECT_THROW(byteblend::blend(Mode::screen, in, in, out, {.chunk = chunk}),
                 std::invalid_argument)
        << chunk;
  }
}

// Small chunks against one call of the C kernel over the whole array, on
// sizes on, just before and just after chunk boundaries, including the bytes
// the channel modes leave alone.
TEST(Blend, ChunkedEqualsOneKernelCall) {
  constexpr std::uint8_t kMarker = 0x5A;
  for (const std::size_t chunk : {3, 6, 9, 24}) {
    for (std::size_t size = 0; size <= 3 * chunk + 4; ++size) {
      const auto top = random_bytes(size, 1 + static_cast<unsigned>(size));
      const auto bottom =
          random_bytes(size, 1000 + static_cast<unsigned>(size));
      for (const Mode mode : byteblend::all_modes) {
        std::vector<std::uint8_t> whole(size, kMarker);
        byteblend::kernel(mode)(static_cast<std::int32_t>(size), top.data(),
                                bottom.data(), whole.data());
        std::vector<std::uint8_t> chunked(size, kMarker);
        byteblend::blend(mode, top, bottom, chunked, {.chunk = chunk});
        EXPECT_EQ(chunked, whole) << byteblend::name(mode) << ", size " << size
                                  << ", chunk " << chunk;
      }
    }
  }
}

TEST(Blend, ResultMayBeTheBottomArray) {
  const auto top = random_bytes(31, 7);
  const auto bottom = random_bytes(31, 8);
  for (const Mode mode : byteblend::all_modes) {
    std::vector<std::uint8_t> separate = bottom;
    byteblend::blend(mode, top, bottom, separate, {.chunk = 6});
    std::vector<std::uint8_t> in_place = bottom;
    byteblend::blend(mode, top, in_place, in_place, {.chunk = 6});
    EXPECT_EQ(in_place, separate) << byteblend::name(mode);
  }
}

// blend() takes no bare number: a number in braces is Options, its first
// member the thread count, and a chunk is only ever given by name.
template <class Last>
concept BlendTakes = requires(Last last, std::vector<std::uint8_t> &bytes) {
  byteblend::blend(Mode::screen, bytes, bytes, bytes, last);
};
static_assert(BlendTakes<byteblend::Options>);
static_assert(!BlendTakes<std::size_t>);
static_assert(!BlendTakes<int>);

TEST(Blend, BracesAreOptions) {
  const auto top = random_bytes(300, 21);
  const auto bottom = random_bytes(300, 22);
  std::vector<std::uint8_t> expected(300);
  byteblend::kernel(Mode::overlay)(300, top.data(), bottom.data(),
                                   expected.data());
  std::vector<std::uint8_t> defaults(300);
  byteblend::blend(Mode::overlay, top, bottom, defaults, {});
  EXPECT_EQ(defaults, expected);
  std::vector<std::uint8_t> four_threads(300);
  byteblend::blend(Mode::overlay, top, bottom, four_threads, {4});
  EXPECT_EQ(four_threads, expected);
}

} // namespace

// result at another offset inside top or bottom throws before anything is
// written; the very same array, an adjacent one, or top overlapping bottom
// (both only read) are fine.
TEST(Blend, ResultOverlappingAnInputElsewhereThrows) {
  constexpr std::size_t kSize = 32;
  constexpr std::uint8_t kMarker = 0x77;
  struct Case {
    std::size_t top, bottom, result; // offsets into one shared buffer
    bool throws;
  };
  const Case cases[] = {
      {0, 64, 1, true},         {0, 64, kSize - 1, true},
      {1, 64, 0, true},         {64, 0, 1, true},
      {64, 33, 2, true},        {64, 32, 63, true},
      {0, 64, 0, false},        {0, 64, 64, false},
      {0, 64, kSize, false},    {kSize, 64, 0, false},
      {0, 1, 2 * kSize, false}, {0, 64, 64 + kSize, false},
  };
  for (const Case c : cases) {
    std::vector<std::uint8_t> buffer = random_bytes(4 * kSize, 3);
    const std::span<std::uint8_t> all(buffer);
    const auto top = all.subspan(c.top, kSize);
    const auto bottom = all.subspan(c.bottom, kSize);
    const auto result = all.subspan(c.result, kSize);
    std::ranges::fill(result, kMarker);
    const std::vector<std::uint8_t> before = buffer;
    if (c.throws) {
      EXPECT_THROW(byteblend::blend(Mode::addition, top, bottom, result),
                   std::invalid_argument)
          << c.top << ", " << c.bottom << ", " << c.result;
      EXPECT_EQ(buffer, before) << "written despite the overlap";
    } else {
      EXPECT_NO_THROW(byteblend::blend(Mode::addition, top, bottom, result))
          << c.top << ", " << c.bottom << ", " << c.result;
    }
  }
}

// Empty arrays overlap nothing, wherever they point.
TEST(Blend, EmptyArraysNeverOverlap) {
  std::vector<std::uint8_t> buffer(8);
  const std::span<std::uint8_t> all(buffer);
  EXPECT_NO_THROW(byteblend::blend(Mode::screen, all.subspan(0, 0),
                                   all.subspan(1, 0), all.subspan(2, 0)));
}
