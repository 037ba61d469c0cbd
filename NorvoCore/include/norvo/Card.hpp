#pragma once
#include <string>
#include <string_view>

namespace norvo::Card {

// A short, path-safe name for a card, taken from its first usable line:
// lower-cased letters and numbers joined by single "-", at most 50 characters
// (extended grapheme clusters). Returns `fallback` unchanged when nothing usable
// remains. Bytes that are not valid UTF-8 are read as U+FFFD.
std::string slug(std::string_view text, std::string_view fallback);

// slug(markdown, "card") + "-" + presetId + ".png"
std::string fileName(std::string_view markdown, std::string_view presetId);

}  // namespace norvo::Card
