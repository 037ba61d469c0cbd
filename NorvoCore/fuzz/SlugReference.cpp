// The first, straightforward slug: it holds the whole note as clusters. Kept only as the
// reference the bounded one must agree with.
#include "SlugReference.hpp"

#include <memory>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "Utf8.hpp"

namespace norvo::reference {
namespace {

using Cluster = icu::UnicodeString;  // one user-perceived character
using Clusters = std::vector<Cluster>;

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

Clusters split(const icu::UnicodeString& text) {
    Clusters out;
    icu::BreakIterator& it = graphemeIterator();
    it.setText(text);
    int32_t start = it.first();
    for (int32_t end = it.next(); end != icu::BreakIterator::DONE; start = end, end = it.next())
        out.emplace_back(text, start, end - start);
    return out;
}

bool isSingle(const Cluster& c, UChar32 cp) { return c.length() <= 2 && c.countChar32() == 1 && c.char32At(0) == cp; }

bool isWhitespace(const Cluster& c) {
    if (c.countChar32() != 1) return false;
    const UChar32 cp = c.char32At(0);
    return cp == U'\t' || u_charType(cp) == U_SPACE_SEPARATOR;
}

bool isLetterOrNumber(const Cluster& c) {
    const UChar32 first = c.char32At(0);
    return u_hasBinaryProperty(first, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

Clusters trimmed(const Clusters& line) {
    auto b = line.begin(), e = line.end();
    while (b != e && isWhitespace(*b)) ++b;
    while (e != b && isWhitespace(*(e - 1))) --e;
    return Clusters(b, e);
}

bool isRule(const Clusters& trimmedLine) {
    return trimmedLine.size() == 3 && isSingle(trimmedLine[0], U'-') &&
           isSingle(trimmedLine[1], U'-') && isSingle(trimmedLine[2], U'-');
}

std::vector<Clusters> lines(const Clusters& all) {
    std::vector<Clusters> out(1);
    for (const Cluster& c : all) {
        if (isSingle(c, U'\n'))
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

Clusters chooseTitle(const std::vector<Clusters>& ls) {
    std::size_t from = 0;
    if (isRule(trimmed(ls[0]))) {
        for (std::size_t i = 1; i < ls.size(); ++i) {
            if (isRule(trimmed(ls[i]))) {
                from = i + 1;
                break;
            }
        }
    }
    for (std::size_t i = from; i < ls.size(); ++i) {
        Clusters t = trimmed(ls[i]);
        if (!t.empty() && !isRule(t)) return t;
    }
    return {};
}

Clusters stripHeadingMarks(Clusters title) {
    if (title.empty() || !isSingle(title.front(), U'#')) return title;
    std::size_t n = 0;
    while (n < title.size() && isSingle(title[n], U'#')) ++n;
    title.erase(title.begin(), title.begin() + std::ptrdiff_t(n));
    return trimmed(title);
}

}  // namespace

std::string slug(std::string_view text, std::string_view fallback) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark is no text
    const std::u32string scalars = utf8::decodeLenient(text);
    const icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(scalars.data()),
                                      int32_t(scalars.size()));

    const Clusters title = stripHeadingMarks(chooseTitle(lines(split(unicode))));

    icu::UnicodeString lowered;
    for (const Cluster& c : title) lowered += c;
    lowered.toLower(icu::Locale::getRoot());

    icu::UnicodeString out;
    int outClusters = 0;
    bool pendingSeparator = false;
    for (const Cluster& c : split(lowered)) {
        if (isLetterOrNumber(c)) {
            out += c;
            ++outClusters;
            pendingSeparator = false;
        } else if (!pendingSeparator && outClusters > 0) {
            out += u'-';
            ++outClusters;
            pendingSeparator = true;
        }
        if (outClusters >= kMaxSlugClusters) break;
    }
    // Only a trailing separator can occur.
    if (pendingSeparator) out.truncate(out.length() - 1);

    if (out.isEmpty()) return std::string(fallback);
    std::string result;
    out.toUTF8String(result);
    return result;
}

}  // namespace norvo::reference
