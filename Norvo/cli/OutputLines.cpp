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

namespace {
std::string jsonText(const std::string& s) {
    return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
}  // namespace

std::string answerLine(const std::string& id, const std::string& line) { return "{\"id\":" + id + "," + line.substr(1); }

std::string errorAnswer(const std::string& id, const std::string& message) {
    return "{\"id\":" + id + ",\"error\":" + jsonText(message) + "}";
}

std::string setAnswer(const std::string& id, const std::vector<std::filesystem::path>& files,
                      const std::vector<std::string>& reports) {
    std::string names, members;
    for (std::size_t i = 0; i < files.size(); ++i) names += (i ? "," : "") + jsonText(printable(files[i]));
    for (std::size_t i = 0; i < reports.size(); ++i) members += (i ? ",{" : "{") + reports[i] + "}";
    return "{\"id\":" + id + ",\"files\":[" + names + "],\"pages\":" + std::to_string(files.size()) +
           ",\"reports\":[" + members + "]}";
}

}  // namespace norvo
