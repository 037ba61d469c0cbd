#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo {

// Shortest text that reads back as the same double, always with a fractional part or
// an exponent: 1 -> "1.0", 1.25 -> "1.25", 1e21 -> "1e+21", inf -> "inf".
std::string formatShortest(double value);

// Reads a whole string as a C-locale floating-point number (strtod syntax), refusing
// empty text, leading white space and trailing characters.
std::optional<double> parseStrictDouble(std::string_view text);

namespace CardScript {

// The CSS font stack for a font identifier; unknown identifiers get the sans stack.
std::string fontStack(std::string_view fontID);

// The one script a render runs in the host page: set the card's font, then call
// window.tazuCard. Nothing when a text is not valid UTF-8.
std::optional<std::string> build(std::string_view markdown, std::string_view theme, std::string_view fontID,
                                 std::int64_t width, std::int64_t height, bool wordmark, double scale);

// The same settings for a set of pages: an expression that sets the card's font, lays the
// note out as pages with window.tazuCardPages, shows the first, and is the number of pages.
std::optional<std::string> buildPages(std::string_view markdown, std::string_view theme, std::string_view fontID,
                                      std::int64_t width, std::int64_t height, bool wordmark, double scale);

}  // namespace CardScript
}  // namespace norvo
