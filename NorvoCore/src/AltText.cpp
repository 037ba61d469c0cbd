#include "norvo/AltText.hpp"

#include <cctype>
#include <regex>
#include <vector>

#include "Utf8.hpp"

namespace norvo::AltText {

namespace {

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nl = text.find('\n', start);
        std::string line(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (nl == std::string_view::npos) return lines;
        start = nl + 1;
    }
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool isFence(const std::string& line) {
    const std::string t = trimmed(line);
    return t.rfind("```", 0) == 0 || t.rfind("~~~", 0) == 0;
}

// An escaped mark is text: it is set aside as a control character and a letter, out of
// reach of the marks below, and put back at the end.
constexpr std::string_view kEscapable = "\\`*_{}[]()#+-.!|~<>";
std::string setAsideEscapes(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const std::size_t at = i + 1 < line.size() && line[i] == '\\' ? kEscapable.find(line[i + 1]) : std::string::npos;
        if (at == std::string::npos) {
            out += line[i];
            continue;
        }
        out += '\x1A';
        out += char('A' + at);
        ++i;
    }
    return out;
}
std::string putBackEscapes(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const std::size_t at = i + 1 < line.size() ? std::size_t(line[i + 1] - 'A') : kEscapable.size();
        if (line[i] == '\x1A' && at < kEscapable.size()) {
            out += kEscapable[at];
            ++i;
        } else {
            out += line[i];
        }
    }
    return out;
}

// Inline marks: images and links keep their words, emphasis and code spans their text,
// footnote references and escapes go.
std::string inlineText(std::string line) {
    static const std::regex image(R"(!\[([^\]]*)\]\([^)]*\))");
    static const std::regex link(R"(\[([^\]]+)\]\([^)]*\))");
    static const std::regex autolink(R"(<((?:https?|mailto):[^>\s]+)>)");
    static const std::regex footnote(R"(\[\^[^\]]+\])");
    static const std::regex strong(R"((\*\*|__)(\S(?:.*?\S)?)\1)");
    static const std::regex emphasis(R"((^|[^\w*])([*_])(\S(?:.*?\S)?)\2(?![\w*]))");
    static const std::regex strike(R"(~~(\S(?:.*?\S)?)~~)");
    static const std::regex code(R"(`+([^`]+)`+)");
    static const std::regex highlight(R"(==(\S(?:.*?\S)?)==)");
    static const std::regex displayFormula(R"(\$\$\s*(.+?)\s*\$\$)");
    line = setAsideEscapes(line);
    line = std::regex_replace(line, image, "$1");
    line = std::regex_replace(line, link, "$1");
    line = std::regex_replace(line, autolink, "$1");
    line = std::regex_replace(line, footnote, "");
    line = std::regex_replace(line, code, "$1");
    line = std::regex_replace(line, strong, "$2");
    line = std::regex_replace(line, emphasis, "$1$3");
    line = std::regex_replace(line, strike, "$1");
    line = std::regex_replace(line, highlight, "$1");
    line = std::regex_replace(line, displayFormula, "$1");
    return putBackEscapes(line);
}

// A callout's marker says what kind it is: the card shows its title, or the kind's name.
std::string calloutText(const std::string& rest) {
    static const std::regex marker(R"(^\[!([A-Za-z][\w-]{0,30})\][-+]?[ \t]*)");
    std::smatch m;
    if (!std::regex_search(rest, m, marker)) return rest;
    const std::string title = rest.substr(std::size_t(m.length(0)));
    if (!trimmed(title).empty()) return title;
    std::string kind = m[1].str();
    for (char& c : kind)
        if (c == '-' || c == '_') c = ' ';
    for (std::size_t i = 1; i < kind.size(); ++i) kind[i] = char(std::tolower(static_cast<unsigned char>(kind[i])));
    kind[0] = char(std::toupper(static_cast<unsigned char>(kind[0])));
    return kind;
}

// Block marks at the start of a line: quote marks (and a callout's marker), heading marks,
// bullets and task boxes. An ordered list keeps its numbers: they are part of what it says.
std::string blockText(const std::string& line) {
    static const std::regex quote(R"(^\s*(>\s?)+)");
    static const std::regex heading(R"(^\s{0,3}#{1,6}(\s+|$))");
    static const std::regex closingHashes(R"(\s+#+\s*$)");
    static const std::regex bullet(R"(^(\s*)[-*+]\s+(\[[ xX]\]\s+)?)");
    std::string out = std::regex_replace(line, quote, "");
    if (out.size() != line.size()) out = calloutText(out);
    if (std::regex_search(out, heading)) {
        out = std::regex_replace(out, heading, "");
        out = std::regex_replace(out, closingHashes, "");
    }
    return std::regex_replace(out, bullet, "$1");
}

bool isRule(const std::string& line) {
    static const std::regex rule(R"(^\s{0,3}([-*_])(\s*\1){2,}\s*$)");
    return std::regex_match(line, rule);
}

bool isTableDivider(const std::string& line) {
    static const std::regex divider(R"(^\s*\|?\s*:?-{3,}:?\s*(\|\s*:?-{3,}:?\s*)*\|?\s*$)");
    return std::regex_match(line, divider);
}

// A table row's cells, joined by commas.
std::string tableRow(const std::string& line) {
    std::string t = trimmed(line);
    if (!t.empty() && t.front() == '|') t.erase(0, 1);
    if (!t.empty() && t.back() == '|') t.pop_back();
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = t.find('|', start);
        const std::string cell = trimmed(t.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (!cell.empty()) out += (out.empty() ? "" : ", ") + cell;
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}

// HTML comments are the writer's notes to self: the card never shows them, so its words
// leave them out too. One that opens a line runs to the line that closes it (a comment never
// closed is text, as on the card); one within a line goes when it closes on that line.
// Code, fenced or in backticks, keeps them.
// (Each search is bounded by the last line that closes one: a note of unclosed openers stays linear.)
std::size_t closingLine(const std::vector<std::string>& lines, std::size_t from, std::size_t at, std::size_t lastCloser) {
    if (lastCloser == std::string::npos || from > lastCloser) return lines.size();
    for (std::size_t i = from; i <= lastCloser; ++i)
        if (lines[i].find("-->", i == from ? at : 0) != std::string::npos) return i;
    return lines.size();
}
std::string withoutInlineComments(const std::string& line) {
    std::string out;
    const std::size_t lastClose = line.rfind("-->");
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == '`') {
            std::size_t run = line.find_first_not_of('`', i);
            if (run == std::string::npos) run = line.size();
            const std::string ticks = line.substr(i, run - i);
            const std::size_t close = line.find(ticks, run);
            const std::size_t end = close == std::string::npos ? run : close + ticks.size();
            out += line.substr(i, end - i);
            i = end;
        } else if (line.compare(i, 4, "<!--") == 0 && lastClose != std::string::npos && lastClose >= i + 4) {
            i = line.find("-->", i + 4) + 3;
        } else {
            out += line[i++];
        }
    }
    return out;
}
void dropComments(std::vector<std::string>& lines, std::size_t first) {
    std::size_t lastCloser = std::string::npos;
    for (std::size_t i = lines.size(); i-- > first;)
        if (lines[i].find("-->") != std::string::npos) {
            lastCloser = i;
            break;
        }
    bool inCode = false;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (isFence(lines[i])) inCode = !inCode;
        if (inCode || lines[i].find("<!--") == std::string::npos) continue;
        const std::size_t indent = lines[i].find_first_not_of(" \t");
        if (indent < 4 && lines[i].compare(indent, 4, "<!--") == 0) {
            const std::size_t last = closingLine(lines, i, indent + 4, lastCloser);
            if (last < lines.size()) {
                for (std::size_t k = i; k <= last; ++k) lines[k].clear();
                i = last;
                continue;
            }
        }
        lines[i] = withoutInlineComments(lines[i]);
    }
}

// Front matter: a first line "---" up to the next "---" (or "..."); unclosed, it is text.
std::size_t bodyStart(const std::vector<std::string>& lines) {
    if (lines.empty() || trimmed(lines[0]) != "---") return 0;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (trimmed(lines[i]) == "---" || trimmed(lines[i]) == "...") return i + 1;
    return 0;
}

// At most `maxChars` characters: a longer text ends at the last word that fits, with "…".
std::string cutBetweenWords(const std::string& text, std::size_t maxChars) {
    std::u32string chars = utf8::decodeLenient(text);
    if (chars.size() <= maxChars) return text;
    std::size_t end = maxChars > 0 ? maxChars - 1 : 0;
    const std::size_t space = chars.find_last_of(U" \n\t", end);
    if (space != std::u32string::npos && end - space < 40) end = space;
    chars.resize(end);
    while (!chars.empty() && (chars.back() == U' ' || chars.back() == U'\n')) chars.pop_back();
    return utf8::encode(chars) + "\u2026";
}

}  // namespace

std::string fromMarkdown(std::string_view markdown, std::size_t maxChars) {
    if (markdown.substr(0, 3) == "\xEF\xBB\xBF") markdown.remove_prefix(3);  // a byte-order mark
    std::vector<std::string> lines = linesOf(markdown);
    dropComments(lines, bodyStart(lines));
    std::string out;
    bool inCode = false;
    int blankRun = 0;
    // Only what can be shown is worked on: a 1 MiB note of one line would otherwise cost
    // the inline patterns (which recurse per character) more stack than a thread has.
    const std::size_t enough = maxChars * 4 + 64;  // bytes: every character may take four
    for (std::size_t i = bodyStart(lines); i < lines.size() && out.size() <= enough; ++i) {
        const std::string line = utf8::prefix(lines[i], enough);
        std::string text;
        if (isFence(line)) {
            inCode = !inCode;
            continue;
        }
        if (inCode) {
            text = line;
        } else if (isRule(line) || isTableDivider(line)) {
            continue;
        } else if (trimmed(line).find('|') != std::string::npos && trimmed(line).front() == '|') {
            text = inlineText(tableRow(line));
        } else {
            text = inlineText(blockText(line));
            // A hard line break's trailing spaces or backslash are marks too.
            while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
            if (!text.empty() && text.back() == '\\') text.pop_back();
        }
        if (trimmed(text).empty()) {
            if (!out.empty()) ++blankRun;
            continue;
        }
        if (!out.empty()) out += blankRun > 0 ? "\n\n" : "\n";
        blankRun = 0;
        out += text;
    }
    return cutBetweenWords(out, maxChars);
}

}  // namespace norvo::AltText

namespace norvo::AltText {

std::string firstLine(std::string_view markdown) {
    const std::string text = fromMarkdown(markdown, kMaxTitleChars);
    return text.substr(0, text.find('\n'));
}

}  // namespace norvo::AltText
