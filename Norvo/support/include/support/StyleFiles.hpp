#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "norvo/CardStyle.hpp"

namespace norvo::StyleFiles {

// Where the user's styles are kept, one <name>.json each: $XDG_CONFIG_HOME/norvo/styles.
std::filesystem::path folder();
// The styles Norvo ships, read-only, in its resources.
std::filesystem::path bundledFolder();
// The bundled styles' names, sorted; the user's own, sorted.
std::vector<std::string> bundledNames();
std::vector<std::string> ownNames();
// Every style's name: the bundled ones, then the user's own (one the user saved under a
// bundled name is listed once, and is the user's).
std::vector<std::string> names();
// Whether `name` is a bundled style the user has not replaced with one of their own.
bool isBundled(const std::string& name);
// The file a style of that name is read from.
std::filesystem::path fileOf(const std::string& name);
// A style by its name (a file in folder()) or by the path of a .json file. A file that cannot
// be read or is not a style gives its problem, naming the file (and the key).
StyleRead load(const std::string& nameOrFile);
// A saved or bundled style by its name only (what a note's front matter may name): never a
// file elsewhere.
StyleRead loadSaved(const std::string& name);
// loadSaved() as a front-matter overlay asks for it: the style, or nothing and why.
std::optional<CardStyle> lookup(const std::string& name, std::string& problem);
// Writes `style` as <folder>/<style.name>.json, atomically; an error message, or empty.
std::string save(const CardStyle& style);

}  // namespace norvo::StyleFiles
