#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "image/CardImage.hpp"

#include "image/CardWords.hpp"

namespace norvo::PngEncoder {

// The words go in international text chunks (UTF-8, uncompressed): Title and Description.
using Words = CardWords;

// Lossless PNG of the image at its own size, tuned for speed: deflated by libdeflate (libpng
// and zlib for the largest pictures), no row filters, RGB when every pixel is opaque and
// straight-alpha RGBA otherwise.
std::optional<std::vector<std::uint8_t>> encode(const CardImage& image, const Words& words = {});

// PNG bytes of exactly width x height pixels (the image is stretched when its size
// differs), or nothing.
std::optional<std::vector<std::uint8_t>> encodeAt(const CardImage& image, std::int64_t width, std::int64_t height,
                                                  const Words& words = {});

}  // namespace norvo::PngEncoder
