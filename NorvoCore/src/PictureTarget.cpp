#include "norvo/PictureTarget.hpp"

#include <cctype>

namespace norvo {

namespace {

PictureTarget refused(std::string reason) { return {PictureTarget::Kind::Refused, {}, std::move(reason)}; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The length of a URI scheme and its colon at the start of `s` ("https:" -> 6), or 0.
std::size_t schemeLength(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ':') return i + 1;
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return 0;
    }
    return 0;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

PictureTarget PictureTarget::of(std::string_view target) {
    if (target.empty()) return refused("it names no file");
    const std::size_t scheme = schemeLength(target);
    if (scheme) {
        const std::string name = lower(target.substr(0, scheme - 1));
        if (name == "http" || name == "https" || name == "ftp")
            return {Kind::Remote, {}, "pictures on the web are not fetched"};
        if (name == "file") return refused("absolute paths and file: addresses are not read");
        return refused("only pictures beside the note are drawn");
    }
    if (target.substr(0, 2) == "//") return {Kind::Remote, {}, "pictures on the web are not fetched"};

    std::string path;
    for (std::size_t i = 0; i < target.size(); ++i) {
        const char c = target[i];
        if (c == '?' || c == '#') break;
        if (c == '%' && i + 2 < target.size() && hexValue(target[i + 1]) >= 0 && hexValue(target[i + 2]) >= 0) {
            path += char(hexValue(target[i + 1]) * 16 + hexValue(target[i + 2]));
            i += 2;
            continue;
        }
        path += c;
    }
    if (path.empty()) return refused("it names no file");
    if (path.find('\0') != std::string::npos) return refused("it is not a file name");
    if (path[0] == '/' || path[0] == '~') return refused("absolute paths and file: addresses are not read");
    return {Kind::Relative, std::move(path), {}};
}

}  // namespace norvo
