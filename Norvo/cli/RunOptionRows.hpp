#pragma once
#include <string_view>
#include <vector>

namespace norvo {

// What an option's value is, as a shell completes it: nothing (a switch), one of a few
// words, a file, a folder, a style (a saved style's name or a .json file), or anything typed
// (a number).
enum class OptionValue { None, Word, File, Folder, Style, Typed };

// One of `norvo render`'s own options; the card settings have their table in core
// (cardSettingRows()). --help, the parser (whether it takes a value) and the shell
// completions all read it, so an option added here is listed, parsed and completed.
struct RunOptionRow {
    std::string_view flag{};       // "--format", "-o"
    std::string_view alias{};      // "-h" beside "--help"; empty for none
    std::string_view valueName{};  // --help's name for the value ("F"); empty for a switch
    OptionValue value = OptionValue::None;
    std::vector<std::string_view> words{};  // a Word's values, as completions offer them
    // --help's words, in English (marked with N_()); --stream's holds %1, the settings' JSON
    // keys. nullptr: hidden from --help (--completion, which the build runs).
    const char* help = nullptr;
};

// In the order --help lists them, after the card settings.
const std::vector<RunOptionRow>& runOptionRows();
// The row of a flag or its alias; nothing for another word.
const RunOptionRow* runOptionByFlag(std::string_view flag);

}  // namespace norvo
