#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "norvo/CardStyle.hpp"
#include "norvo/FrontMatter.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// Everything the user picks for a card, apart from the note itself: one value that travels
// whole (the app's controls, drafts, the command line's options, a card request). A new card
// setting is a new field here, in its JSON and in the front-matter overlay.
struct CardSettings {
    std::string theme = "paper";
    std::string font = "sans";
    Preset size = Presets::defaultPreset();
    double scale = 1.0;   // the text size: a multiplier, 1.0 normal
    bool wordmark = true;
    bool pages = false;   // the note as a set of cards
    bool cover = false;   // a set opens with a cover: the first heading as a hero
    std::string pageMarks = "n/N";  // how a set's cards are numbered: "n/N", "01 / 12" or "none"
    bool splitAtHeadings = false;   // a set starts a card at every heading of the top two levels
    CardStyle style{};    // the user's own look over the theme (its name names its file); empty: none

    bool operator==(const CardSettings&) const = default;

    // As a JSON object; the style by its name only.
    std::string toJson() const;
    // Read back from toJson(): a value that is missing or not one of its setting's is taken
    // from `fallback` (the style comes back as its name alone, for the caller to load).
    static CardSettings fromJson(std::string_view json, const CardSettings& fallback);
};

// Finds a saved style by name: the style, or nothing with `problem` saying why.
using StyleLookup = std::function<std::optional<CardStyle>(const std::string& name, std::string& problem)>;

// `base` as the note's own front matter changes it, for that note only. What the note gets
// wrong is left out and named in `warnings` (each "key: “value” is not …").
CardSettings overlayFrontMatter(const CardSettings& base, const NoteSettings& note, const StyleLookup& findStyle,
                                std::vector<std::string>& warnings);

}  // namespace norvo
