#include "updater/RelativePath.hpp"

namespace norvo::RelativePath {

bool isClean(std::string_view path, bool folderSlashAllowed) {
    if (folderSlashAllowed && !path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.empty() || path.front() == '/') return false;
    for (const char c : path)
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
        if (path.empty()) return false;  // "a/" or "a//"
    }
    return true;
}

}  // namespace norvo::RelativePath
