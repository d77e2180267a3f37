#include <byteblend_image.hpp>

#include <cstdint>
#include <iostream>
#include <vector>

// Screens a 2x2 grey logo onto a 6x3 grey photo at column 3, row 1; the
// rest of the photo stays as it was.
int main() {
  std::vector<std::uint8_t> photo(6 * 3, 100);
  const std::vector<std::uint8_t> logo = {0, 64, 128, 255};
  const byteblend::MutableImageView whole(photo.data(), 6, 3, 1);
  const byteblend::MutableImageView spot(whole, 3, 1, 2, 2);
  byteblend::blend(byteblend::Mode::screen,
                   byteblend::ImageView(logo.data(), 2, 2, 1), spot, spot);
  for (std::size_t y = 0; y < whole.height(); ++y) {
    for (const std::uint8_t value : whole.row(y)) {
      std::cout << ' ' << int{value};
    }
    std::cout << '\n';
  }
}
