#include "norvo/Card.hpp"

#include <memory>

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

bool isLetterOrNumber(UChar32 first) {
    return u_hasBinaryProperty(first, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

}  // namespace

std::string slug(std::string_view text, std::string_view fallback) {
    icu::UnicodeString lowered = decode(title(text));
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
