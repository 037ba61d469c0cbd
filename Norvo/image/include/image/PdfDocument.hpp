#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/CardImage.hpp"

namespace norvo::PdfDocument {

// A PDF with one page per card, each page the card's aspect (one pixel = 0.75 pt) with the
// card embedded losslessly, and `title` as the document's title. Nothing when it fails.
std::optional<std::vector<std::uint8_t>> encode(const std::vector<CardImagePtr>& cards, const std::string& title);

}  // namespace norvo::PdfDocument
