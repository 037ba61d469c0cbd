#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "norvo/CardStyle.hpp"
#include "norvo/FrontMatter.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// Everything the user picks for a card, apart from the note itself: one value that travels
// whole (the app's controls, drafts, the command line's options, a card request). A new card
// setting is a new field here and a row of cardSettingRows(): every place it is typed reads it.
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

// One card setting as every place it is typed names it (drafts, flags, a note's front matter,
// stream requests, --help, the page), and the rule for its values. The style is not one: it
// names a file, which each place looks up by its own rules.
struct CardSettingRow {
    enum class Kind { Choice, Number, Switch };
    enum class OnPage { No, Always, InSets };  // whether the page is told it, and when
    std::string_view key{};          // JSON: drafts, stream requests, the page's options
    std::string_view frontMatter{};  // "key: value" in a note's front matter
    std::string_view flag{};         // the command line; a switch's turns it away from its default
    std::string_view valueName{};    // --help's name for the value; empty for a switch
    const char* noun = nullptr;      // what messages call it ("page marks"), in English
    const char* help = nullptr;      // --help's words for it, in English (nullptr: the catalogue's)
    Kind kind = Kind::Choice;
    OnPage onPage = OnPage::No;
    bool CardSettings::*toggle = nullptr;  // the member an on/off control in the app is bound to
    // Puts `value` (as typed; a switch: true/false, yes/no, on/off) into `settings`: nothing
    // when it is one of the setting's, else what it should be ("n/N, 01 / 12 or none").
    std::function<std::optional<std::string>(CardSettings&, std::string_view value)> take{};
    // The value in `settings` as `take` reads it (a switch: "true" or "false").
    std::function<std::string(const CardSettings&)> text{};
    // The words `take` knows by name, for shell completions; empty for a number or a switch
    // (a size's WIDTHxHEIGHT is not a word).
    std::function<std::vector<std::string>()> words{};
};

// Every card setting, in the order --help lists them.
const std::vector<CardSettingRow>& cardSettingRows();
// The row of a JSON key, a front-matter key or a flag; nothing for another word.
const CardSettingRow* settingByKey(std::string_view key);
const CardSettingRow* settingByFrontMatter(std::string_view key);
const CardSettingRow* settingByFlag(std::string_view flag);
// A setting's value as JSON carries it, as `take` reads it; nothing when it is not of the
// setting's JSON type (a switch is true or false, a number a number, the rest text).
std::optional<std::string> jsonSettingText(const CardSettingRow& row, const nlohmann::json& value);
// The setting's value in `settings` as JSON carries it.
nlohmann::json jsonSettingValue(const CardSettingRow& row, const CardSettings& settings);

// Finds a saved style by name: the style, or nothing with `problem` saying why.
using StyleLookup = std::function<std::optional<CardStyle>(const std::string& name, std::string& problem)>;

// `base` as the note's own front matter changes it, for that note only. What the note gets
// wrong is left out and named in `warnings` (each "key: “value” is not …").
CardSettings overlayFrontMatter(const CardSettings& base, const NoteSettings& note, const StyleLookup& findStyle,
                                std::vector<std::string>& warnings);

}  // namespace norvo
