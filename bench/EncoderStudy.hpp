#pragma once
// norvo-bench --encoders: the PNG payload of rendered cards deflated every way worth trying,
// zlib's levels and strategies and libdeflate's levels, each with and without the Up filter,
// against the encoder Norvo ships. Prints milliseconds and bytes, medians over the cards.
#include <vector>

#include "image/CardImage.hpp"

namespace norvo::bench {

void studyEncoders(const std::vector<CardImagePtr>& cards, int rounds);

}  // namespace norvo::bench
