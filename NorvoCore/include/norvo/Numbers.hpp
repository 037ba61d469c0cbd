#pragma once
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

}  // namespace norvo
