#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "norvo/CardStyle.hpp"

namespace norvo::StyleFiles {

// Where the user's styles are kept, one <name>.json each: $XDG_CONFIG_HOME/norvo/styles.
std::filesystem::path folder();
// The names of the styles there, sorted.
std::vector<std::string> names();
// A style by its name (a file in folder()) or by the path of a .json file. A file that cannot
// be read or is not a style gives its problem, naming the file (and the key).
StyleRead load(const std::string& nameOrFile);
// A saved style by its name only (what a note's front matter may name): never a file elsewhere.
StyleRead loadSaved(const std::string& name);
// loadSaved() as a front-matter overlay asks for it: the style, or nothing and why.
std::optional<CardStyle> lookup(const std::string& name, std::string& problem);
// Writes `style` as <folder>/<style.name>.json, atomically; an error message, or empty.
std::string save(const CardStyle& style);

}  // namespace norvo::StyleFiles
