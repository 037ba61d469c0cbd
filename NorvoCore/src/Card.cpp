#include "norvo/Card.hpp"

#include <memory>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "Utf8.hpp"
#include "norvo/AltText.hpp"

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

// White space is a space separator or a tab; a line feed or a carriage return is not.
bool isWhitespace(const icu::UnicodeString& text, int32_t start, int32_t end) {
    if (text.moveIndex32(start, 1) != end) return false;
    const UChar32 cp = text.char32At(start);
    return cp == U'\t' || u_charType(cp) == U_SPACE_SEPARATOR;
}

// A line without its surrounding white space, counted in clusters.
icu::UnicodeString trimmed(const icu::UnicodeString& line) {
    icu::BreakIterator& it = graphemeIterator();
    it.setText(line);
    int32_t start = 0, end = line.length();
    while (start < end) {
        const int32_t next = it.following(start);
        if (!isWhitespace(line, start, next)) break;
        start = next;
    }
    for (int32_t p = it.preceding(end); end > start && p != icu::BreakIterator::DONE && isWhitespace(line, p, end);
         p = it.preceding(p))
        end = p;
    return icu::UnicodeString(line, start, end - start);
}

// The note's lines, divided at every line feed that is a character of its own: a carriage
// return followed by a line feed is one character, which divides nothing. (A lone line feed
// is always a character of its own, so bytes tell where lines end.)
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(icu::UnicodeString& line) {
        if (done_) return false;
        std::size_t nl = text_.find('\n', pos_);
        while (nl != std::string_view::npos && nl > 0 && text_[nl - 1] == '\r') nl = text_.find('\n', nl + 1);
        const std::size_t end = nl == std::string_view::npos ? text_.size() : nl;
        line = trimmed(decode(text_.substr(pos_, end - pos_)));
        done_ = nl == std::string_view::npos;
        pos_ = end + 1;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

// The first line that, trimmed, is neither empty nor "---", after front matter opened on the
// very first line and closed; its leading "#" marks and white space removed. The choice of
// line is not revisited when nothing is left of it. Reads only as far as the title.
icu::UnicodeString slugTitle(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark is no text
    icu::UnicodeString line;
    Lines lines(text);
    lines.next(line);
    if (line == u"---") {
        // Closed front matter is skipped; unclosed, it is read as lines like any other.
        Lines rest = lines;
        icu::UnicodeString inside;
        bool closed = false;
        while (!closed && rest.next(inside)) closed = inside == u"---";
        if (closed) lines = rest;
    }
    do {
        if (line.isEmpty() || line == u"---") continue;
        if (line.startsWith(u"#")) {
            int32_t marks = 0;
            while (marks < line.length() && line[marks] == u'#') ++marks;
            line = trimmed(icu::UnicodeString(line, marks));
        }
        return line;
    } while (lines.next(line));
    return {};
}

bool isLetterOrNumber(UChar32 first) {
    return u_hasBinaryProperty(first, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

}  // namespace

std::string slug(std::string_view text, std::string_view fallback) {
    icu::UnicodeString lowered = slugTitle(text);
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

std::string title(std::string_view text) { return AltText::firstLine(text); }

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
