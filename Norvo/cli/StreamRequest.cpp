#include "cli/StreamRequest.hpp"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/StyleFiles.hpp"

namespace norvo {

namespace {

using nlohmann::json;


// The value at `key` when it is a string; an error when it is there but is not.
std::optional<std::string> stringAt(const json& j, const char* key, std::string& error) {
    const auto it = j.find(key);
    if (it == j.end()) return std::nullopt;
    if (!it->is_string()) {
        error = std::string("\"") + key + "\" is not text";
        return std::nullopt;
    }
    return it->get<std::string>();
}

// The look settings a request may change, each checked as its option is.
std::optional<std::string> takeSettings(const json& j, RenderOptions& o) {
    std::string error;
    for (const CardSettingRow& row : cardSettingRows()) {
        const auto it = j.find(row.key);
        if (it == j.end()) continue;
        CardSettings scratch;
        const auto text = jsonSettingText(row, *it);
        if (!text)
            return "\"" + std::string(row.key) + "\" is not " +
                   (row.kind == CardSettingRow::Kind::Choice ? std::string("text") : *row.take(scratch, ""));
        if (const auto expected = row.take(o.card, *text)) return whyNotASetting(row, *text, *expected);
        if (row.key == "size") o.presets = {o.card.size};
    }
    if (const auto format = stringAt(j, "format", error)) {
        const auto known = CardFormats::byName(*format);
        if (!known) return "unknown format '" + *format + "' (png, jpeg or webp)";
        o.format = *known;
    }
    if (const auto output = stringAt(j, "output", error)) {
        // As with -o, the file's ending says what it holds.
        o.outputFile = *output;
        const auto named = CardFormats::namedBy(*output);
        if (named && j.contains("format") && *named != o.format)
            return "\"output\" ends in " + o.outputFile->extension().string() + " but \"format\" asks for " +
                   j["format"].get<std::string>();
        if (named) o.format = *named;
    }
    if (!error.empty()) return error;
    return std::nullopt;
}

// Where a request's card may go: as -o allows, and never into the stream's own answers.
std::optional<std::string> whyNotAnOutput(const StreamRequest& request, const std::optional<std::string>& file) {
    const std::filesystem::path& output = *request.options.outputFile;
    if (const auto fd = descriptorNamedBy(output); output == "-" || (fd && *fd <= 2))
        return std::string("\"output\" names the stream's own input, answers or errors");
    std::vector<std::string> notes;
    if (file) notes.push_back(*file);
    if (const auto why = whyNotACardFile(output, notes)) return "\"output\" " + *why;
    return std::nullopt;
}

// Whether `value` nests no deeper than `levels` (a deep one would overflow the stack when echoed).
bool shallow(const json& value, int levels) {
    if (!value.is_structured()) return true;
    if (levels == 0) return false;
    for (const auto& inner : value) if (!shallow(inner, levels - 1)) return false;
    return true;
}

}  // namespace

std::optional<std::string> parseStreamRequest(const std::string& line, std::size_t number,
                                              const RenderOptions& defaults, StreamRequest& out) {
    return readStreamRequest(json::parse(line, nullptr, false), number, defaults, out);
}

std::optional<std::string> readStreamRequest(const json& j, std::size_t number, const RenderOptions& defaults,
                                             StreamRequest& out) {
    out.id = std::to_string(number);
    if (!j.is_object()) return std::string("the request is not a JSON object");
    if (const auto id = j.find("id"); id != j.end()) {
        if (!shallow(*id, 16)) return std::string("\"id\" is nested too deeply to be echoed");
        out.id = id->dump(-1, ' ', false, json::error_handler_t::replace);
    }
    static const char* const kKeys[] = {"id", "markdown", "file", "style", "format", "output"};
    for (const auto& [key, value] : j.items())
        if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys) && !settingByKey(key))
            return "unknown key \"" + key + "\"";
    out.options = defaults;
    if (auto error = takeSettings(j, out.options)) return error;
    std::string error;
    const auto markdown = stringAt(j, "markdown", error);
    const auto file = stringAt(j, "file", error);
    if (const auto style = stringAt(j, "style", error)) out.style = *style;
    if (!error.empty()) return error;
    if (markdown.has_value() == file.has_value()) return std::string("a request has \"markdown\" or \"file\", one of them");
    if (out.options.outputFile)
        if (auto why = whyNotAnOutput(out, file)) return why;
    if (markdown) {
        if (markdown->size() > Card::kMaxMarkdownBytes) return std::string("the note is too long to render (over 1 MiB)");
        if (const auto nul = markdown->find('\0'); nul != std::string::npos)
            return "the note contains a NUL byte at offset " + std::to_string(nul);
        out.markdown = *markdown;
        out.label = "request " + out.id;
        return std::nullopt;
    }
    if (const auto fd = descriptorNamedBy(*file); *file == "-" || (fd && *fd <= 2))
        return std::string("\"file\" names the stream's own input, answers or errors");
    const NoteFileRead read = readNoteFile(*file, Card::kMaxMarkdownBytes);
    if (!read.ok()) return whyUnreadable(*file, read);
    out.markdown = read.text;
    out.label = *file;
    const auto parent = std::filesystem::path(*file).parent_path();
    out.folder = parent.empty() ? "." : parent.string();
    return std::nullopt;
}

std::shared_ptr<const Note> noteOf(const StreamRequest& request, std::string& error) {
    CardStyle style = request.options.card.style;
    if (!request.style.empty()) {
        StyleRead read = StyleFiles::load(request.style);
        if (read.problem) {
            error = "style: " + read.problem->message;
            return nullptr;
        }
        style = std::move(read.style);
    }
    auto note = std::make_shared<Note>();
    note->label = request.label;
    note->markdown = request.markdown;
    note->folder = request.folder;
    note->look = lookOf(request.label, request.markdown, request.options, style);
    return note;
}

}  // namespace norvo
