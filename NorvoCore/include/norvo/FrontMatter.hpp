#pragma once
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo {

// A front-matter line a card shows (a cover's subtitle or tags) is cut after this many
// characters; the page cuts every line there, and never draws front matter as the note.
inline constexpr std::size_t kMostFrontMatterValue = 280;

// The note after its front matter (all of it when it has none).
std::string_view noteBody(std::string_view markdown);

// What a note's front matter asks for itself: its card settings, a saved style and an accent
// ("key: value" lines between "---" lines at its top). Unknown keys are ignored; a value that
// is not one of the key's is left out with a warning.
struct NoteSettings {
    // The card settings the note sets, each by its JSON key, with its value as written (only
    // values the setting takes).
    std::map<std::string, std::string, std::less<>> values;
    std::optional<std::string> style, accent;
    bool sets(std::string_view key) const { return values.count(key) > 0; }
    // Each: the key, the value as written and why it is not taken ("size: huge is not ...").
    std::vector<std::string> warnings;

    static NoteSettings of(std::string_view markdown);
};

}  // namespace norvo
