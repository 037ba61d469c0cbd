#include "cli/McpTools.hpp"

#include <algorithm>

#include <glib.h>
#include <glib/gi18n.h>
#include <glibmm/ustring.h>

#include "norvo/CardSettings.hpp"
#include "norvo/Catalogue.hpp"
#include "norvo/Presets.hpp"
#include "support/GPtr.hpp"
#include "support/StyleFiles.hpp"

namespace norvo::McpTools {

using nlohmann::json;

namespace {

template <typename T>
json idsOf(const std::vector<T>& all) {
    json ids = json::array();
    for (const T& item : all) ids.push_back(item.id);
    return ids;
}

// The sizes of one's own, in the words of their limits.
std::string ownSizeWords() {
    return "WIDTHxHEIGHT (each side " + std::to_string(Presets::kMinSide) + " to " + std::to_string(Presets::kMaxSide) +
           " px, at most " + std::to_string(Presets::kMaxAspect) + ":1 either way), long or WIDTHxlong (as tall as the "
           "note, up to " + std::to_string(Presets::kLongCap) + " px)";
}

// Every size render takes.
std::string sizeWords() {
    std::string named;
    for (const auto* list : {&Presets::all(), &Presets::more()})
        for (const Preset& p : *list)
            if (!p.grows) named += p.id + " (" + std::to_string(p.width) + "x" + std::to_string(p.height) + "), ";
    return named + ownSizeWords();
}

// A card setting's schema, from its row: a new row is offered by itself.
json settingSchema(const CardSettingRow& row) {
    static const CardSettings kDefaults{};
    json schema = {{"type", row.kind == CardSettingRow::Kind::Switch   ? "boolean"
                            : row.kind == CardSettingRow::Kind::Number ? "number"
                                                                       : "string"},
                   {"description", row.help ? std::string(row.help)
                                   : "the card's " + (row.noun ? std::string(row.noun) : std::string(row.key))},
                   {"default", jsonSettingValue(row, kDefaults)}};
    if (row.key == "theme") schema["enum"] = idsOf(Themes::all());
    if (row.key == "font") schema["enum"] = idsOf(Fonts::all());
    if (row.key == "size") schema["description"] = "the card's pixel size: " + sizeWords();
    return schema;
}

json renderSchema() {
    json properties = {{"markdown", {{"type", "string"}, {"description", "the note, in Markdown (front matter too)"}}}};
    for (const CardSettingRow& row : cardSettingRows()) properties[std::string(row.key)] = settingSchema(row);
    properties["style"] = {{"type", "string"}, {"description", "a style's name, as list_styles names them"}};
    properties["format"] = {{"type", "string"}, {"enum", {"png", "jpeg", "webp"}}, {"default", "png"}};
    return {{"type", "object"}, {"properties", properties}, {"required", {"markdown"}}, {"additionalProperties", false}};
}

// What each card's report holds, as the stream's answers and --report give it.
json renderOutputSchema() {
    auto of = [](const char* type, const char* description) { return json{{"type", type}, {"description", description}}; };
    const json card = {
        {"type", "object"},
        {"properties",
         {{"file", of("string", "where the card was written")},
          {"width", of("integer", "pixels")},
          {"height", of("integer", "pixels")},
          {"bodyPx", of("number", "the body text size in pixels")},
          {"minPx", of("number", "the smallest text size on the card")},
          {"cut", of("boolean", "part of the note is not on the card")},
          {"overflowX", of("boolean", "something is wider than the text area")},
          {"brokenWords", of("integer", "words split across lines")},
          {"minContrast", of("number", "the lowest contrast of any text against what is behind it")},
          {"page", of("integer", "the card's place in its set")},
          {"pages", of("integer", "the cards of its set")},
          {"cover", of("boolean", "the card is its set's cover")},
          {"leftOut", of("array", "pictures and fonts the card was drawn without, each with its reason")}}},
        {"required", {"file", "width", "height", "cut"}}};
    return {{"type", "object"}, {"properties", {{"cards", {{"type", "array"}, {"items", card}}}}}, {"required", {"cards"}}};
}

json noArguments() { return {{"type", "object"}, {"properties", json::object()}, {"additionalProperties", false}}; }

json result(json structured, const std::string& text) {
    return {{"content", {{{"type", "text"}, {"text", text}}}}, {"structuredContent", std::move(structured)}, {"isError", false}};
}

// A card's file as an image content, or nothing when it cannot be read.
std::optional<json> pictureOf(const std::filesystem::path& file) {
    gchar* raw = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(file.c_str(), &raw, &size, nullptr)) return std::nullopt;
    const GCharPtr bytes(raw);
    const GCharPtr base64(g_base64_encode(reinterpret_cast<const guchar*>(bytes.get()), size));
    static const char* const kTypes[] = {"image/png", "image/jpeg", "image/webp"};
    return json{{"type", "image"},
                {"data", base64.get()},
                {"mimeType", kTypes[static_cast<int>(CardFormats::byExtension(file.string()))]}};
}

// "1 card, 1080×1080, fits": what an agent reads first.
std::string summary(const json& cards) {
    const bool cut = std::any_of(cards.begin(), cards.end(), [](const json& c) { return c.value("cut", false); });
    const unsigned long n = cards.size();
    return Glib::ustring::compose(ngettext("%1 card, %2\u00d7%3, %4", "%1 cards, %2\u00d7%3, %4", n), n,
                                  cards.front().value("width", 0), cards.front().value("height", 0),
                                  cut ? _("part of the note is cut") : _("fits"))
        .raw();
}

}  // namespace

json list() {
    const json readOnly = {{"readOnlyHint", true}, {"openWorldHint", false}};
    return {{"tools",
             {{{"name", "render"},
               {"title", "Render a card"},
               {"description", "Draws a Markdown note as a picture card (or a set of cards with pages) of exact pixel "
                               "size, writes it into Norvo's folder and returns each card as an image, with its "
                               "layout report: cut means part of the note did not fit."},
               {"inputSchema", renderSchema()},
               {"outputSchema", renderOutputSchema()},
               {"annotations", {{"readOnlyHint", false}, {"destructiveHint", false}, {"openWorldHint", false}}}},
              {{"name", "list_styles"},
               {"title", "List styles"},
               {"description", "Names every style render's style takes: those that come with Norvo, then the user's own."},
               {"inputSchema", noArguments()},
               {"annotations", readOnly}},
              {{"name", "list_sizes"},
               {"title", "List sizes"},
               {"description", "The named card sizes with their pixels, and the limits of a size of one's own."},
               {"inputSchema", noArguments()},
               {"annotations", readOnly}}}}};
}

json failure(const std::string& message) {
    return {{"content", {{{"type", "text"}, {"text", message}}}}, {"isError", true}};
}

json styles() {
    json all = json::array();
    std::string text;
    for (const std::string& name : StyleFiles::names()) {
        all.push_back({{"name", name}, {"bundled", StyleFiles::isBundled(name)}});
        text += (text.empty() ? "" : "\n") + name;
    }
    return result({{"styles", all}}, text);
}

json sizes() {
    json all = json::array();
    std::string text;
    for (const auto* list : {&Presets::all(), &Presets::more()})
        for (const Preset& p : *list) {
            all.push_back({{"id", p.id}, {"width", p.width}, {"height", p.height}, {"grows", p.grows}});
            text += p.id + "  " + std::to_string(p.width) + "x" + std::to_string(p.height) +
                    (p.grows ? " (as tall as the note, up to that)\n" : "\n");
        }
    return result({{"sizes", all}, {"ownSizes", ownSizeWords()}}, text + "or " + ownSizeWords());
}

std::optional<std::string> renderRequest(const json& arguments, const RenderOptions& defaults, StreamRequest& out) {
    static const json kOffered = renderSchema()["properties"];
    for (const auto& [key, value] : arguments.items())
        if (!kOffered.contains(key)) {
            std::string offered;
            for (const auto& [name, schema] : kOffered.items()) offered += (offered.empty() ? "" : ", ") + name;
            return "unknown argument \"" + key + "\" (render takes " + offered + ")";
        }
    const auto markdown = arguments.find("markdown");
    if (markdown == arguments.end()) return std::string("\"markdown\" is missing: the note to draw, as text");
    if (!markdown->is_string()) return std::string("\"markdown\" is not text");
    // A style by its name only, as a note's front matter names one: no file elsewhere is read.
    const auto style = arguments.find("style");
    if (style != arguments.end() && style->is_string() && !isStyleName(style->get<std::string>()))
        return "\"style\" " + style->dump() + " is not a style's name (list_styles names them)";
    return readStreamRequest(arguments, 1, defaults, out);
}

json rendered(const StreamAnswer& answer) {
    if (!answer.error.empty()) return failure(answer.error);
    json cards = json::array();
    json content = json::array({{{"type", "text"}, {"text", ""}}});
    for (std::size_t i = 0; i < answer.files.size() && i < answer.cards.size(); ++i) {
        auto picture = pictureOf(answer.files[i]);
        if (!picture) return failure("the card " + answer.files[i].string() + " was written but cannot be read back");
        content.push_back(std::move(*picture));
        cards.push_back(json::parse(answer.cards[i], nullptr, false));
    }
    if (cards.empty()) return failure("no card was written");
    content[0]["text"] = summary(cards);
    return {{"content", content}, {"structuredContent", {{"cards", cards}}}, {"isError", false}};
}

}  // namespace norvo::McpTools
