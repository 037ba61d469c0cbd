#include "norvo/FrontMatter.hpp"

#include <cctype>
#include <cmath>

#include "norvo/Card.hpp"
#include "norvo/CardSettings.hpp"
#include "norvo/CardStyle.hpp"

namespace norvo {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string unquoted(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// A value as a warning quotes it: a long one ends in an ellipsis (on a character's boundary).
std::string quoted(const std::string& value) {
    constexpr std::size_t kMost = 60;
    if (value.size() <= kMost) return value;
    std::size_t end = kMost;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
    return value.substr(0, end) + "\u2026";
}

// Characters (code points) in UTF-8 text.
std::size_t characters(const std::string& text) {
    std::size_t n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

}  // namespace

std::string_view noteBody(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string_view rest = text;
    for (bool first = true; !rest.empty(); first = false) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line == "---" && !first) return rest;
        if (first && line != "---") return text;
    }
    return text;  // no closing line: no front matter
}

NoteSettings NoteSettings::of(std::string_view text) {
    NoteSettings out;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    auto nextLine = [&](std::string_view& rest) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        return trim(line);
    };
    std::string_view rest = text;
    if (nextLine(rest) != "---") return out;
    std::vector<std::pair<std::string, std::string>> entries;
    bool closed = false;
    while (!rest.empty()) {
        const std::string_view line = nextLine(rest);
        if (line == "---") {
            closed = true;
            break;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.empty() || line[0] == '#') continue;
        entries.emplace_back(std::string(trim(line.substr(0, colon))), unquoted(trim(line.substr(colon + 1))));
    }
    if (!closed) return out;  // not front matter: the page shows such a note whole, too
    for (const auto& [key, value] : entries) {
        auto warn = [&, key = key, value = value](const std::string& why) {
            out.warnings.push_back(key + ": \u201c" + quoted(value) + "\u201d " + why + "; the default is used");
        };
        if (const CardSettingRow* row = settingByFrontMatter(key)) {
            CardSettings scratch;
            if (const auto expected = row->take(scratch, value)) warn("is not " + *expected);
            else out.values[std::string(row->key)] = value;
        } else if (key == "style") {
            // A saved style's name only: a note must not reach a file of its choosing (a
            // style names pictures and fonts, which would then be drawn on its card).
            if (isStyleName(value)) out.style = value;
            else warn("is not the name of a saved style");
        } else if ((key == "subtitle" || key == "tags") && characters(value) > kMostFrontMatterValue) {
            out.warnings.push_back(key + ": \u201c" + quoted(value) + "\u201d is longer than " +
                                   std::to_string(kMostFrontMatterValue) + " characters; the cover shows its first " +
                                   std::to_string(kMostFrontMatterValue));
        } else if (key == "accent") {
            if (auto c = normalColor(value)) out.accent = *c;
            else warn("is not a colour like #1a7f64");
        }
    }
    // A note of thousands of wrong values says so once, not thousands of times.
    constexpr std::size_t kMostWarnings = 10;
    if (out.warnings.size() > kMostWarnings) {
        const std::size_t more = out.warnings.size() - kMostWarnings;
        out.warnings.resize(kMostWarnings);
        out.warnings.push_back(std::to_string(more) + " more front-matter values are not used either");
    }
    return out;
}

}  // namespace norvo
