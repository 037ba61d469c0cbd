#include "norvo/CardSettings.hpp"

#include <cmath>

#include <nlohmann/json.hpp>

#include "norvo/Catalogue.hpp"

namespace norvo {

std::string CardSettings::toJson() const {
    return nlohmann::json{{"theme", theme}, {"font", font},         {"size", size.id},  {"scale", scale},
                          {"wordmark", wordmark}, {"pages", pages}, {"style", style.name},
                          {"cover", cover}, {"pageMarks", pageMarks},
                          {"split", splitAtHeadings ? "headings" : "auto"}}
        .dump();
}

CardSettings CardSettings::fromJson(std::string_view text, const CardSettings& fallback) {
    CardSettings out = fallback;
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_object()) return out;
    auto string = [&](const char* key) -> std::optional<std::string> {
        const auto it = j.find(key);
        return it != j.end() && it->is_string() ? std::optional(it->get<std::string>()) : std::nullopt;
    };
    auto boolean = [&](const char* key, bool& into) {
        if (const auto it = j.find(key); it != j.end() && it->is_boolean()) into = it->get<bool>();
    };
    if (const auto t = string("theme"); t && Themes::isKnown(*t)) out.theme = *t;
    if (const auto f = string("font"); f && Fonts::isKnown(*f)) out.font = *f;
    if (const auto s = string("size"); s)
        if (const auto size = Presets::parse(*s)) out.size = *size;
    if (const auto it = j.find("scale"); it != j.end() && it->is_number() && std::isfinite(it->get<double>()))
        out.scale = it->get<double>();
    boolean("wordmark", out.wordmark);
    boolean("pages", out.pages);
    boolean("cover", out.cover);
    if (const auto m = string("pageMarks"); m && isPageMarks(*m)) out.pageMarks = *m;
    if (const auto split = string("split"))
        if (const auto headings = splitsAtHeadings(*split)) out.splitAtHeadings = *headings;
    if (const auto s = string("style"); s && s->empty()) out.style = CardStyle{};
    else if (s && isStyleName(*s)) {
        out.style = CardStyle{};
        out.style.name = *s;
    }
    return out;
}

CardSettings overlayFrontMatter(const CardSettings& base, const NoteSettings& note, const StyleLookup& findStyle,
                                std::vector<std::string>& warnings) {
    CardSettings out = base;
    warnings.insert(warnings.end(), note.warnings.begin(), note.warnings.end());
    if (note.theme) out.theme = *note.theme;
    if (note.font) out.font = *note.font;
    if (note.size)
        if (const auto size = Presets::parse(*note.size)) out.size = *size;
    if (note.scale) out.scale = *note.scale;
    if (note.wordmark) out.wordmark = *note.wordmark;
    if (note.pages) out.pages = *note.pages;
    if (note.cover) out.cover = *note.cover;
    if (note.pageMarks) out.pageMarks = *note.pageMarks;
    if (note.splitAtHeadings) out.splitAtHeadings = *note.splitAtHeadings;
    if (note.style && findStyle) {
        std::string problem;
        if (auto style = findStyle(*note.style, problem))
            out.style = std::move(*style);
        else
            warnings.push_back("style: \u201c" + *note.style + "\u201d: " + problem + "; the default is used");
    }
    if (note.accent) out.style.accent = *note.accent;
    return out;
}

}  // namespace norvo
