#include "support/StyleFiles.hpp"

#include <algorithm>
#include <cerrno>

#include <glib.h>

#include "support/AtomicFile.hpp"
#include "support/ResourceBundle.hpp"
#include "support/UserFile.hpp"

namespace norvo::StyleFiles {

namespace fs = std::filesystem;

fs::path folder() { return fs::path(g_get_user_config_dir()) / "norvo" / "styles"; }

fs::path bundledFolder() { return ResourceBundle::path() / "styles"; }

namespace {

std::vector<std::string> namesIn(const fs::path& where) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(where, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".json" && it->is_regular_file(ec) && isStyleName(it->path().stem().string()))
            out.push_back(it->path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

bool isFileIn(const fs::path& where, const std::string& name) {
    std::error_code ec;
    return isStyleName(name) && fs::is_regular_file(where / (name + ".json"), ec);
}

}  // namespace

std::vector<std::string> bundledNames() { return namesIn(bundledFolder()); }

std::vector<std::string> ownNames() { return namesIn(folder()); }

std::vector<std::string> names() {
    std::vector<std::string> out = bundledNames();
    const std::size_t bundled = out.size();
    for (std::string& own : ownNames())
        if (!std::binary_search(out.begin(), out.begin() + std::ptrdiff_t(bundled), own)) out.push_back(std::move(own));
    return out;
}

bool isBundled(const std::string& name) { return !isFileIn(folder(), name) && isFileIn(bundledFolder(), name); }

fs::path fileOf(const std::string& name) {
    return isBundled(name) ? bundledFolder() / (name + ".json") : folder() / (name + ".json");
}

namespace {

StyleRead loadFile(const fs::path& file) {
    const std::string name = file.stem().string();
    StyleRead read;
    read.style.name = name;
    const UserFile::Read bytes = UserFile::readRegular(file, 1024 * 1024);
    if (!bytes.ok()) {
        read.problem = StyleProblem{"", file.string() + ": " +
                                            (bytes.error == ENOENT ? std::string("no such style file") : bytes.problem)};
        return read;
    }
    std::error_code ec;
    read = parseStyle(bytes.bytes, name, fs::absolute(file, ec).parent_path().string());
    if (read.problem) {
        const std::string where = read.problem->key.empty() ? "" : " \"" + read.problem->key + "\"";
        read.problem->message = file.string() + ":" + where + " " + read.problem->message;
    }
    return read;
}

}  // namespace

StyleRead load(const std::string& nameOrFile) {
    const bool isFile = nameOrFile.find('/') != std::string::npos || fs::path(nameOrFile).extension() == ".json";
    return isFile ? loadFile(nameOrFile) : loadSaved(nameOrFile);
}

StyleRead loadSaved(const std::string& name) {
    if (!isStyleName(name)) {
        StyleRead read;
        read.problem = StyleProblem{"", "\u201c" + name + "\u201d is not the name of a saved style"};
        return read;
    }
    return loadFile(fileOf(name));
}

std::optional<CardStyle> lookup(const std::string& name, std::string& problem) {
    StyleRead read = loadSaved(name);
    if (!read.problem) return std::move(read.style);
    problem = read.problem->message;
    return std::nullopt;
}

std::string save(const CardStyle& style) {
    if (style.name.empty() || style.name.find('/') != std::string::npos || style.name[0] == '.')
        return "a style needs a name without \"/\"";
    std::error_code ec;
    fs::create_directories(folder(), ec);
    if (ec) return ec.message();
    const std::error_code error = writeFileAtomically(folder() / (style.name + ".json"), styleJson(style, folder().string()));
    return error ? error.message() : std::string();
}

}  // namespace norvo::StyleFiles
