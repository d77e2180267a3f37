// SPDX-License-Identifier: MIT
// The command-line tool's JPEG reader on arbitrary bytes. Every input must
// either decode into a consistent image or be refused with
// std::runtime_error; a crash, a leak, any other exception, a hang or an
// allocation beyond libFuzzer's limit is a finding. A small image that
// decodes is also written back, at a quality the input picks, and must read
// back at its size.
//
// An arithmetic-coded flat image of the largest size the limits allow takes
// about 200 bytes: a real image, and too big and slow to decode here. So an
// input whose header claims more than kMostPixels pixels, within the limits,
// is skipped (headers beyond the limits are refused at once, and are
// fuzzed); the unit tests cover what a large claim costs.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <span>
#include <stdexcept>

#include "image.hpp"
#include "jpeg_image.hpp"

namespace {

constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 22;

struct Errors {
  jpeg_error_mgr base{}; // first, so that a jpeg_error_mgr * is one of these
  std::jmp_buf jump{};
};

[[noreturn]] void give_up(j_common_ptr info) {
  std::longjmp(reinterpret_cast<Errors *>(info->err)->jump, 1);
}

void ignore(j_common_ptr /*info*/, int /*level*/) {}

// Whether libjpeg reads a header claiming an image within the limits but
// too large to decode here. Only trivially destructible locals: libjpeg
// longjmps out of it.
bool claims_too_much(jpeg_decompress_struct &info, Errors &errors,
                     const std::uint8_t *data, std::size_t size) {
  if (setjmp(errors.jump)) {
    return false; // the reader refuses it too
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  const std::uint64_t pixels =
      std::uint64_t{info.image_width} * info.image_height;
  return pixels > kMostPixels && pixels <= byteblend::tool::kMaxPixels &&
         info.image_width <= byteblend::tool::kMaxSide &&
         info.image_height <= byteblend::tool::kMaxSide;
}

bool too_large_to_decode(const std::uint8_t *data, std::size_t size) {
  jpeg_decompress_struct info{};
  Errors errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = give_up;
  errors.base.emit_message = ignore;
  const bool too_large = claims_too_much(info, errors, data, size);
  jpeg_destroy_decompress(&info);
  return too_large;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (too_large_to_decode(data, size)) {
    return 0;
  }
  byteblend::tool::Image image;
  try {
    image =
        byteblend::tool::decode_jpeg(std::span<const std::uint8_t>(data, size));
  } catch (const std::runtime_error &) {
    return 0; // refused, as it should be
  }
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * image.height;
  if (pixels == 0 || image.rgb.size() != pixels * 3 || !image.alpha.empty()) {
    __builtin_trap(); // an image that does not hold what it says
  }
  if (pixels <= 4096) {
    const int quality = 1 + data[size - 1] % 100;
    const auto again = byteblend::tool::decode_jpeg(
        byteblend::tool::encode_jpeg(image, quality));
    if (again.width != image.width || again.height != image.height) {
      __builtin_trap(); // what the encoder wrote does not read back
    }
  }
  return 0;
}
