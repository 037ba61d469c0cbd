#include "norvo/CardScript.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include <locale.h>

#include <nlohmann/json.hpp>

#include "norvo/Catalogue.hpp"

namespace norvo {
namespace {

std::optional<std::string> jsonString(std::string_view text) {
    try {
        return nlohmann::json(std::string(text)).dump();
    } catch (const nlohmann::json::exception&) {  // invalid UTF-8
        return std::nullopt;
    }
}

// A double as a JavaScript number literal; the shortest text for finite values.
std::string javaScriptNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    return formatShortest(value);
}

}  // namespace

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

namespace CardScript {

std::string fontStack(std::string_view fontID) { return Fonts::by(fontID).stack; }

namespace {
// Sets the card's font, then calls `function` with the card's settings and `extra`
// arguments; joined by `separator` (";" for statements, "," for one expression).
std::optional<std::string> callOnCard(const char* separator, const char* function, std::string_view markdown,
                                      std::string_view theme, std::string_view fontID, std::int64_t width,
                                      std::int64_t height, bool wordmark, double scale, const char* extra) {
    const auto md = jsonString(markdown);
    const auto th = jsonString(theme);
    const auto font = jsonString(fontStack(fontID));
    if (!md || !th || !font) return std::nullopt;
    std::string s = "document.getElementById('card').style.fontFamily=";
    s += *font;
    s += separator;
    s += function;
    s += "(" + *md + ", " + *th + ", " + std::to_string(width) + ", " + std::to_string(height) + ", ";
    s += wordmark ? "true" : "false";
    s += ", " + javaScriptNumber(scale) + extra + ")";
    return s;
}
}  // namespace

std::optional<std::string> build(std::string_view markdown, std::string_view theme, std::string_view fontID,
                                 std::int64_t width, std::int64_t height, bool wordmark, double scale) {
    return callOnCard(";", "window.tazuCard", markdown, theme, fontID, width, height, wordmark, scale, "");
}

std::optional<std::string> buildPages(std::string_view markdown, std::string_view theme, std::string_view fontID,
                                      std::int64_t width, std::int64_t height, bool wordmark, double scale) {
    const auto call =
        callOnCard(",", "window.tazuCardPages", markdown, theme, fontID, width, height, wordmark, scale, ", 1");
    if (!call) return std::nullopt;
    return "(" + *call + ")";
}

}  // namespace CardScript
}  // namespace norvo
