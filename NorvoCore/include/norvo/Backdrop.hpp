#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace norvo {

// Each theme's backdrop: a base gradient under soft elliptical glows, as CSS would draw them,
// computed in full precision and ordered-dithered to 8 bits so that the gentle gradients never
// band. The page draws the same pixels itself when the app has not served them (backdrop.js):
// the two must stay equal to the last bit, which a card design test checks.
namespace Backdrop {

// Paints `theme`'s backdrop (an unknown theme is paper) for a `width` x `height` pixel card
// into `bgra`: rows top-down, `stride` bytes apart, 4 bytes a pixel in blue, green, red,
// alpha order (every pixel opaque).
void paint(const std::string& theme, int width, int height, std::uint8_t* bgra, std::size_t stride);

}  // namespace Backdrop

}  // namespace norvo
