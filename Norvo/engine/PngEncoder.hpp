#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/CardImage.hpp"

namespace norvo::PngEncoder {

// Lossless PNG of the image at its own size, tuned for speed: zlib level 3, no row
// filters, RGB when every pixel is opaque and straight-alpha RGBA otherwise.
std::optional<std::vector<std::uint8_t>> encode(const CardImage& image);

}  // namespace norvo::PngEncoder
