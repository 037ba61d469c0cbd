#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace norvo::Card {

// A short, path-safe name for a card, taken from its first usable line:
// lower-cased letters and numbers joined by single "-", at most 50 characters
// (extended grapheme clusters). Returns `fallback` unchanged when nothing usable
// remains. Bytes that are not valid UTF-8 are read as U+FFFD.
std::string slug(std::string_view text, std::string_view fallback);

// The note's title as written: its first usable line (the slug's), without heading marks
// or surrounding white space. Empty when there is none.
std::string title(std::string_view text);

// The longest note Norvo renders; longer ones are refused before any work is done.
inline constexpr std::size_t kMaxMarkdownBytes = 1 << 20;

// The longest file name most Linux file systems take, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// stem + tail, with the stem shortened at a character boundary (and any "-" it then
// ends with dropped) so that the whole fits in maxBytes.
std::string fitName(std::string_view stem, std::string_view tail, std::size_t maxBytes = kMaxFileNameBytes);

// slug(markdown, "card") + "-" + presetId + ".png", shortened to fit a file name.
// Reads only as much of the note as its title needs.
std::string fileName(std::string_view markdown, std::string_view presetId);

}  // namespace norvo::Card
