#include "cli/OutputLines.hpp"

#include <cstdio>

#include <glib.h>
#include <nlohmann/json.hpp>

#include "engine/PageProtocol.hpp"

namespace norvo {

namespace {
bool isValidUtf8(const std::string& s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }
}  // namespace

std::string printable(const std::filesystem::path& path) {
    const std::string raw = path.string();
    std::string out;
    const char* p = raw.data();
    const char* end = p + raw.size();
    while (p < end) {
        const char* next = nullptr;
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == gunichar(-1) || c == gunichar(-2) || c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(static_cast<unsigned char>(*p)));
            out += hex;
            ++p;
            continue;
        }
        next = g_utf8_next_char(p);
        if (c == '\\') out += '\\';
        out.append(p, next);
        p = next;
    }
    return out;
}

// A file name for a JSON string: as it is when it is UTF-8, else with its bytes escaped.
namespace {
std::string jsonName(const std::filesystem::path& path) {
    return isValidUtf8(path.string()) ? path.string() : printable(path);
}
}  // namespace

std::string reportLine(const std::filesystem::path& file, const Preset& preset, const LayoutReport& report,
                       bool paged) {
    nlohmann::ordered_json line;
    line["file"] = jsonName(file);
    line["width"] = preset.width;
    line["height"] = preset.height;
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.pop_back();  // the page's measurements follow inside the same object
    return text + "," + PageProtocol::reportMembers(report, paged) + "}";
}

std::string pdfReportLine(const std::filesystem::path& file, std::size_t pages) {
    nlohmann::ordered_json line;
    line["pdf"] = jsonName(file);
    line["pages"] = pages;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace norvo
