#include <byteblend_layers.hpp>

#include <cstdint>
#include <iostream>
#include <vector>

// Lays a 2x1 RGBA logo (opaque white, then half-transparent red) at 70 %
// opacity onto a 3x1 RGB photo at column 1; each pixel prints as R,G,B.
int main() {
  std::vector<std::uint8_t> photo = {40, 80, 120, 40, 80, 120, 40, 80, 120};
  const std::vector<std::uint8_t> logo = {255, 255, 255, 255, 255, 0, 0, 128};
  const byteblend::MutableImageView whole(photo.data(), 3, 1, 3);
  const byteblend::MutableImageView spot(whole, 1, 0, 2, 1);
  byteblend::composite(byteblend::LayerMode::normal,
                       byteblend::ImageView(logo.data(), 2, 1, 4), spot, spot,
                       {.opacity = 0.7});
  for (std::size_t i = 0; i < photo.size(); i += 3) {
    std::cout << ' ' << int{photo[i]} << ',' << int{photo[i + 1]} << ','
              << int{photo[i + 2]};
  }
  std::cout << '\n';
}
