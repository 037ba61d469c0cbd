#pragma once
#include <string>
#include <string_view>

namespace norvo::utf8 {

// Decodes UTF-8; every byte that does not start a well-formed sequence becomes U+FFFD.
std::u32string decodeLenient(std::string_view bytes);

// Encodes scalar values as UTF-8 (surrogates and out-of-range values become U+FFFD).
std::string encode(std::u32string_view text);

// The longest start of `text` of at most `maxBytes` bytes that does not end inside a character.
std::string prefix(std::string_view text, std::size_t maxBytes);

}  // namespace norvo::utf8
