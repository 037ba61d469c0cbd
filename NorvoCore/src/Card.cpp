#include "norvo/Card.hpp"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "Utf8.hpp"

namespace norvo::Card {
namespace {

constexpr int kMaxSlugClusters = 50;

icu::BreakIterator& graphemeIterator() {
    // Creating an iterator loads rule data; keep one per thread.
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !made) std::abort();  // ICU's own data is missing
        return made;
    }();
    return *it;
}

icu::UnicodeString decode(std::string_view bytes) {
    const std::u32string scalars = utf8::decodeLenient(bytes);
    return icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(scalars.data()), int32_t(scalars.size()));
}

// The cluster [start, end) of `text` is exactly the one code point `cp`.
bool isSingle(const icu::UnicodeString& text, int32_t start, int32_t end, UChar32 cp) {
    return text.char32At(start) == cp && text.moveIndex32(start, 1) == end;
}

bool isWhitespace(const icu::UnicodeString& text, int32_t start, int32_t end) {
    if (text.moveIndex32(start, 1) != end) return false;
    const UChar32 cp = text.char32At(start);
    return cp == U'\t' || u_charType(cp) == U_SPACE_SEPARATOR;
}

enum class LineKind { blank, rule, text };

// Reads only as far as it must: a line is a rule when, trimmed of white space, it is
// exactly three "-".
LineKind classify(const icu::UnicodeString& line) {
    icu::BreakIterator& it = graphemeIterator();
    it.setText(line);
    int dashes = 0;
    bool afterDashes = false;  // white space seen after the dashes began
    int32_t start = it.first();
    for (int32_t end = it.next(); end != icu::BreakIterator::DONE; start = end, end = it.next()) {
        if (isWhitespace(line, start, end)) {
            if (dashes > 0) afterDashes = true;
            continue;
        }
        if (!isSingle(line, start, end, U'-') || afterDashes || ++dashes > 3) return LineKind::text;
    }
    if (dashes == 0) return LineKind::blank;
    return dashes == 3 ? LineKind::rule : LineKind::text;
}

// Lines end at a line feed; a carriage return before it belongs to the break, as the page
// reads a note written on Windows.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(std::string_view& line) {
        if (done_) return false;
        const std::size_t nl = text_.find('\n', pos_);
        if (nl == std::string_view::npos) {
            line = text_.substr(pos_);
            done_ = true;
        } else {
            line = text_.substr(pos_, nl - pos_);
            pos_ = nl + 1;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

// The first line that is neither blank nor a rule, after any leading front matter.
std::string_view titleLine(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark is no text
    Lines lines(text);
    std::string_view line;
    bool first = true, inFrontMatter = false;
    while (lines.next(line)) {
        const LineKind kind = classify(decode(line));
        if (first && kind == LineKind::rule) {
            inFrontMatter = true;
        } else if (inFrontMatter) {
            if (kind == LineKind::rule) inFrontMatter = false;
        } else if (kind == LineKind::text) {
            return line;
        }
        first = false;
    }
    if (!inFrontMatter) return {};
    // Unclosed front matter is no front matter: read again from the top.
    Lines again(text);
    while (again.next(line))
        if (classify(decode(line)) == LineKind::text) return line;
    return {};
}

// The title without surrounding white space and leading "#" marks.
icu::UnicodeString titleText(const icu::UnicodeString& line) {
    icu::BreakIterator& it = graphemeIterator();
    it.setText(line);
    int32_t end = line.length();
    for (int32_t b = it.last(), p = it.previous(); p != icu::BreakIterator::DONE && isWhitespace(line, p, b);
         b = p, p = it.previous())
        end = p;
    int32_t start = 0;
    auto skip = [&](auto&& isSkipped) {
        while (start < end) {
            const int32_t e = it.following(start);
            if (!isSkipped(start, e)) break;
            start = e;
        }
    };
    auto whitespace = [&](int32_t a, int32_t e) { return isWhitespace(line, a, e); };
    auto hash = [&](int32_t a, int32_t e) { return isSingle(line, a, e, U'#'); };
    skip(whitespace);
    if (start < end && hash(start, it.following(start))) {
        skip(hash);
        skip(whitespace);
    }
    return icu::UnicodeString(line, start, end - start);
}

bool isLetterOrNumber(UChar32 first) {
    return u_hasBinaryProperty(first, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

}  // namespace

std::string slug(std::string_view text, std::string_view fallback) {
    icu::UnicodeString lowered = titleText(decode(titleLine(text)));
    lowered.toLower(icu::Locale::getRoot());

    icu::BreakIterator& it = graphemeIterator();
    it.setText(lowered);
    icu::UnicodeString out;
    int outClusters = 0;
    bool pendingSeparator = false;
    int32_t start = it.first();
    for (int32_t end = it.next(); end != icu::BreakIterator::DONE && outClusters < kMaxSlugClusters;
         start = end, end = it.next()) {
        if (isLetterOrNumber(lowered.char32At(start))) {
            out.append(lowered, start, end - start);
            ++outClusters;
            pendingSeparator = false;
        } else if (!pendingSeparator && outClusters > 0) {
            out += u'-';
            ++outClusters;
            pendingSeparator = true;
        }
    }
    // Only a trailing separator can occur.
    if (pendingSeparator) out.truncate(out.length() - 1);

    if (out.isEmpty()) return std::string(fallback);
    std::string result;
    out.toUTF8String(result);
    return result;
}

std::string title(std::string_view text) {
    std::string out;
    titleText(decode(titleLine(text))).toUTF8String(out);
    return out;
}

std::string fitName(std::string_view stem, std::string_view tail, std::size_t maxBytes) {
    if (stem.size() + tail.size() <= maxBytes) return std::string(stem) + std::string(tail);
    const std::size_t room = maxBytes > tail.size() ? maxBytes - tail.size() : 0;
    // Cut at a character boundary that fits, so no character is left in pieces.
    const icu::UnicodeString unicode = decode(stem);
    icu::BreakIterator& it = graphemeIterator();
    it.setText(unicode);
    std::string kept;
    int32_t start = it.first();
    for (int32_t end = it.next(); end != icu::BreakIterator::DONE; start = end, end = it.next()) {
        std::string cluster;
        icu::UnicodeString(unicode, start, end - start).toUTF8String(cluster);
        if (kept.size() + cluster.size() > room) break;
        kept += cluster;
    }
    while (!kept.empty() && kept.back() == '-') kept.pop_back();
    return kept + std::string(tail);
}

std::string fileName(std::string_view markdown, std::string_view presetId) {
    return fitName(slug(markdown, "card"), "-" + std::string(presetId) + ".png");
}

}  // namespace norvo::Card
