#include "Utf8.hpp"

namespace norvo::utf8 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length and value of the well-formed sequence at `i`, or 0 when there is none
// (the ranges of the Unicode "well-formed UTF-8 byte sequences" table).
std::size_t decodeOne(std::string_view s, std::size_t i, char32_t& out) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    const std::size_t left = s.size() - i;
    auto cont = [&](std::size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return k < left && b(k) >= lo && b(k) <= hi;
    };
    if (c < 0x80) { out = c; return 1; }
    if (c >= 0xC2 && c <= 0xDF && cont(1)) {
        out = (char32_t(c & 0x1F) << 6) | (b(1) & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
        if (cont(1, lo, hi) && cont(2)) {
            out = (char32_t(c & 0x0F) << 12) | (char32_t(b(1) & 0x3F) << 6) | (b(2) & 0x3F);
            return 3;
        }
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
        if (cont(1, lo, hi) && cont(2) && cont(3)) {
            out = (char32_t(c & 0x07) << 18) | (char32_t(b(1) & 0x3F) << 12) |
                  (char32_t(b(2) & 0x3F) << 6) | (b(3) & 0x3F);
            return 4;
        }
    }
    return 0;
}

}  // namespace

std::u32string decodeLenient(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const std::size_t n = decodeOne(bytes, i, cp);
        if (n == 0) {
            out.push_back(kReplacement);
            ++i;
        } else {
            out.push_back(cp);
            i += n;
        }
    }
    return out;
}

std::string encode(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Back over continuation bytes (10xxxxxx) to the start of the character cut in two.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

}  // namespace norvo::utf8
