#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo {

// What a note's front matter asks for itself: theme, font, size, scale, wordmark, pages,
// style and accent ("key: value" lines between "---" lines at its top). Unknown keys are
// ignored; a value that is not one of the key's is left out with a warning.
// Whether `marks` is a way to number a set's cards: "n/N", "01 / 12" or "none".
bool isPageMarks(std::string_view marks);
// How a set is split into cards: "auto" (where the cards fill, like a book's pages) or
// "headings" (a new card at every heading of the top two levels). Nothing for another word.
std::optional<bool> splitsAtHeadings(std::string_view split);

// A front-matter line a card shows (a cover's subtitle or tags) is cut after this many
// characters; the page cuts every line there, and never draws front matter as the note.
inline constexpr std::size_t kMostFrontMatterValue = 280;

// The note after its front matter (all of it when it has none).
std::string_view noteBody(std::string_view markdown);

struct NoteSettings {
    std::optional<std::string> theme, font, size, style, accent;
    std::optional<double> scale;
    std::optional<bool> wordmark, pages, cover, splitAtHeadings;
    std::optional<std::string> pageMarks;
    // Each: the key, the value as written and why it is not taken ("size: huge is not ...").
    std::vector<std::string> warnings;

    static NoteSettings of(std::string_view markdown);
};

}  // namespace norvo
