#include "support/StyleFiles.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <glib.h>

#include "support/AtomicFile.hpp"

namespace norvo::StyleFiles {

namespace fs = std::filesystem;

fs::path folder() { return fs::path(g_get_user_config_dir()) / "norvo" / "styles"; }

std::vector<std::string> names() {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder(), ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".json" && it->is_regular_file(ec)) out.push_back(it->path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

StyleRead load(const std::string& nameOrFile) {
    const bool isFile = nameOrFile.find('/') != std::string::npos || fs::path(nameOrFile).extension() == ".json";
    const fs::path file = isFile ? fs::path(nameOrFile) : folder() / (nameOrFile + ".json");
    const std::string name = file.stem().string();
    StyleRead read;
    read.style.name = name;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > 1024 * 1024) {
        read.problem = StyleProblem{"", file.string() + ": no such style file"};
        return read;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    read = parseStyle(text, name, fs::absolute(file, ec).parent_path().string());
    if (read.problem) {
        const std::string where = read.problem->key.empty() ? "" : " \"" + read.problem->key + "\"";
        read.problem->message = file.string() + ":" + where + " " + read.problem->message;
    }
    return read;
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
