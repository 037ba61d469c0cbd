#include "norvo/Numbers.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include <locale.h>

namespace norvo {

std::string formatShortest(double value) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, ec == std::errc() ? end : buf);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::optional<double> parseStrictDouble(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (std::string_view(" \t\n\v\f\r").find(text.front()) != std::string_view::npos) return std::nullopt;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const std::string copy(text);
    char* end = nullptr;
    const double value = strtod_l(copy.c_str(), &end, cLocale);
    if (end != copy.c_str() + copy.size()) return std::nullopt;  // also catches embedded NUL
    return value;
}

}  // namespace norvo
