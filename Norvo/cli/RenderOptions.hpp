#pragma once
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "image/CardFormats.hpp"
#include "norvo/CardSettings.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// What `norvo render` was asked to do.
struct RenderOptions {
    // The cards' settings as the options give them (the style by the name or file given in
    // `style`, loaded when the run starts); each note's front matter may change them.
    CardSettings card{};
    std::vector<Preset> presets{Presets::defaultPreset()};  // --size, or all four
    std::optional<std::filesystem::path> outputFile;  // -o
    std::filesystem::path outputFolder = ".";         // -d
    std::vector<std::string> inputs;                  // "-" is standard input
    bool report = false;  // one JSON line per card on stdout, with its layout figures
    bool pdf = false;     // one PDF per note and size, a page per card
    CardFormats::Format format = CardFormats::Format::Png;  // of the card files
    bool watch = false;   // render again whenever a note's file is saved, until stopped
    bool copy = false;    // the one card to the clipboard instead of a file
    bool stream = false;  // one JSON request a line on standard input, one JSON answer a line
    // --shard K/N: this run draws the notes whose place in the inputs is K, K + N, K + 2N, ...
    // (from 1), under the names the whole batch would give them.
    std::size_t shard = 1, shards = 1;
    std::size_t jobs = 0;  // --jobs: pages drawing side by side (0: as the machine's cores allow)
    bool mine(std::size_t input) const { return input % shards == shard - 1; }
    int density = 1;      // 2: the same cards at twice the width and height
    std::vector<std::string> pictureFolders;  // --images: more folders a note's pictures may come from
    std::string style;    // --style: a saved style's name or a style file; empty: the theme only
    bool keepFiles = false;  // a made name never names a file there already (norvo mcp: the folder is shared)
    // What the run prints instead of rendering, and then stops: --help, --version, a --list-*
    // option's names, or --completion's script for `shell`.
    enum class Answer { None, Help, Version, Styles, Themes, Fonts, Sizes, Completion };
    Answer answer = Answer::None;
    std::string shell;  // --completion: bash, zsh or fish
};

struct RenderUsageError {
    std::string message;
};

// Parses the arguments after "render".
std::variant<RenderOptions, RenderUsageError> parseRenderOptions(const std::vector<std::string>& args);

const char* renderHelpText();

// Why `value` is not one of a card setting's (`expected`: what its row says it should be), in
// the user's language: "unknown theme 'x' (paper, ink or sky)". `orAll`: a size may be "all".
std::string whyNotASetting(const CardSettingRow& row, const std::string& value, const std::string& expected,
                           bool orAll = false);

// What only the file system can tell: -o may not name a folder or one of the notes.
std::optional<RenderUsageError> checkOutputFile(const RenderOptions& options);

// Why a card may not be written to `file` (nothing when it may): a folder, one of the `notes`
// being rendered, a file there already that is not a picture or PDF by its ending (a note, a
// document), or a new file of an ending Norvo does not write. A FIFO or device is written into.
std::optional<std::string> whyNotACardFile(const std::filesystem::path& file, const std::vector<std::string>& notes);
// Why Norvo cannot write a file named `file` (an ending such as .gif or .svg); nothing when it can.
std::optional<std::string> whyNotACardName(const std::filesystem::path& file);

// Hands out output paths, never the same one twice in a run: a second
// "note-square.png" becomes "note-square-2.png". A name too long for the file system is
// shortened before its number and extension.
class OutputNames {
public:
    std::filesystem::path claim(const std::filesystem::path& wanted);
    // Takes `exact` as it is: false when it was handed out or taken before.
    bool take(const std::filesystem::path& exact) { return taken_.insert(exact.lexically_normal()).second; }
    // The base name of a set of cards, "<slug>-<size>.png" in `folder`, whose cards will be
    // "<slug>-<size>-1.png" and on: a second set of the same slug and size becomes
    // "<slug>-2-<size>.png", so that no card of one set can take the name of another's.
    std::filesystem::path claimSet(const std::filesystem::path& folder, const std::string& slug,
                                   const std::string& sizeID, const std::string& extension = ".png");

private:
    std::set<std::filesystem::path> taken_;
};

}  // namespace norvo
