#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace norvo {

// norvo's completion script for `shell` (bash, zsh or fish): its commands, `norvo render`'s
// options from the tables --help reads, and what each option's value may be (a theme, a font,
// a size, a file, a folder, a style). The build writes the scripts the package installs with
// it. Nothing for another shell.
std::optional<std::string> completionScript(std::string_view shell);

}  // namespace norvo
