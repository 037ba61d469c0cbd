#include "norvo/CardSettings.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <nlohmann/json.hpp>

#include "norvo/Catalogue.hpp"
#include "norvo/Numbers.hpp"

namespace norvo {

namespace {

// Marks English words for translation where they are shown (the command line's help and errors).
constexpr const char* N_(const char* text) { return text; }

using Row = CardSettingRow;
using Problem = std::optional<std::string>;

std::optional<bool> yesNo(std::string_view value) {
    std::string l;
    for (const char c : value) l += char(std::tolower(static_cast<unsigned char>(c)));
    if (l == "true" || l == "yes" || l == "on") return true;
    if (l == "false" || l == "no" || l == "off") return false;
    return std::nullopt;
}

// A text setting whose value is one of a catalogue's ids or of a few words.
Row choice(Row row, std::string CardSettings::*member, std::function<bool(std::string_view)> known,
           std::function<std::string()> expected, std::function<std::vector<std::string>()> words) {
    row.kind = Row::Kind::Choice;
    row.words = std::move(words);
    row.take = [member, known, expected](CardSettings& s, std::string_view v) -> Problem {
        if (!known(v)) return expected();
        s.*member = std::string(v);
        return std::nullopt;
    };
    row.text = [member](const CardSettings& s) { return s.*member; };
    return row;
}

Row toggle(Row row, bool CardSettings::*member) {
    row.kind = Row::Kind::Switch;
    row.toggle = member;
    row.take = [member](CardSettings& s, std::string_view v) -> Problem {
        const auto on = yesNo(v);
        if (!on) return std::string(N_("true or false"));
        s.*member = *on;
        return std::nullopt;
    };
    row.text = [member](const CardSettings& s) { return std::string(s.*member ? "true" : "false"); };
    return row;
}

Row sizeRow() {
    Row row{.key = "size", .frontMatter = "size", .flag = "--size", .valueName = "SIZE", .noun = N_("size"),
            .kind = Row::Kind::Choice, .onPage = Row::OnPage::No};
    row.take = [](CardSettings& s, std::string_view v) -> Problem {
        const auto size = Presets::parse(v);
        if (!size) return std::string(N_("a size (square, portrait, landscape, story, tall, WIDTHxHEIGHT or long)"));
        s.size = *size;
        return std::nullopt;
    };
    row.text = [](const CardSettings& s) { return s.size.id; };
    row.words = [] {
        std::vector<std::string> ids;
        for (const auto* list : {&Presets::all(), &Presets::more()})
            for (const Preset& p : *list) ids.push_back(p.id);
        return ids;
    };
    return row;
}

Row scaleRow() {
    Row row{.key = "scale", .frontMatter = "scale", .flag = "--scale", .valueName = "X", .noun = N_("scale"),
            .help = N_("text size multiplier, 0.5 to 3 (default 1.0); the app's Text slider offers the everyday 0.7 to "
                       "1.8 of it"),
            .kind = Row::Kind::Number, .onPage = Row::OnPage::Always};
    row.take = [](CardSettings& s, std::string_view v) -> Problem {
        const auto x = parseStrictDouble(v);
        if (!x || !std::isfinite(*x) || *x < 0.5 || *x > 3.0) return std::string(N_("a number from 0.5 to 3"));
        s.scale = *x;
        return std::nullopt;
    };
    row.text = [](const CardSettings& s) { return formatShortest(s.scale); };
    return row;
}

const std::vector<std::string>& pageMarks() {
    static const std::vector<std::string> marks{"n/N", "01 / 12", "none"};
    return marks;
}
bool isPageMarks(std::string_view marks) {
    return std::find(pageMarks().begin(), pageMarks().end(), marks) != pageMarks().end();
}

// The ids of a catalogue (themes, fonts), as a completion offers them.
template <typename T>
std::function<std::vector<std::string>()> idsOf(const std::vector<T>& (*all)()) {
    return [all] {
        std::vector<std::string> ids;
        for (const T& item : all()) ids.push_back(item.id);
        return ids;
    };
}

std::vector<Row> makeRows() {
    std::vector<Row> rows;
    rows.push_back(choice({.key = "theme", .frontMatter = "theme", .flag = "--theme", .valueName = "THEME",
                           .noun = N_("theme"),
                           .onPage = Row::OnPage::Always},
                          &CardSettings::theme, Themes::isKnown, Themes::idList, idsOf(Themes::all)));
    rows.push_back(choice({.key = "font", .frontMatter = "font", .flag = "--font", .valueName = "FONT", .noun = N_("font")},
                          &CardSettings::font, Fonts::isKnown, Fonts::idList, idsOf(Fonts::all)));
    rows.push_back(sizeRow());
    rows.push_back(scaleRow());
    rows.push_back(toggle({.key = "wordmark", .frontMatter = "wordmark", .flag = "--no-wordmark",
                           .help = N_("leave the tazu wordmark off the card"), .onPage = Row::OnPage::Always},
                          &CardSettings::wordmark));
    rows.push_back(toggle({.key = "pages", .frontMatter = "pages", .flag = "--pages",
                           .help = N_("split a long note into a set of cards of the same size (at most 20): "
                                      "<slug>-<size>-1.png, -2.png, ... (one card keeps the plain name); --report then "
                                      "gives one line per card, with \"page\" and \"pages\"")},
                          &CardSettings::pages));
    rows.push_back(toggle({.key = "cover", .frontMatter = "cover", .flag = "--cover",
                           .help = N_("open each set with a cover card: the note's first heading as a hero, with the "
                                      "subtitle and tags of its front matter (\"subtitle: ...\", \"tags: a, b\") and a "
                                      "cue to swipe; the cover is card 1 of the set and counts in its marks; --report "
                                      "marks its line with \"cover\": true"),
                           .onPage = Row::OnPage::InSets},
                          &CardSettings::cover));
    rows.push_back(choice({.key = "pageMarks", .frontMatter = "page-marks", .flag = "--page-marks", .valueName = "M",
                           .noun = N_("page marks"),
                           .help = N_("how a set's cards are numbered: n/N (default, 3/12), '01 / 12' or none"),
                           .onPage = Row::OnPage::InSets},
                          &CardSettings::pageMarks, isPageMarks, [] { return std::string(N_("n/N, 01 / 12 or none")); },
                          pageMarks));
    Row split{.key = "split", .frontMatter = "split", .flag = "--split", .valueName = "S", .noun = N_("split"),
              .help = N_("where a set starts a new card: auto (default, where a card is full) or headings (at every # "
                         "and ## heading as well)"),
              .kind = Row::Kind::Choice, .onPage = Row::OnPage::InSets, .toggle = &CardSettings::splitAtHeadings};
    split.take = [](CardSettings& s, std::string_view v) -> Problem {
        if (v != "auto" && v != "headings") return std::string(N_("auto or headings"));
        s.splitAtHeadings = v == "headings";
        return std::nullopt;
    };
    split.text = [](const CardSettings& s) { return std::string(s.splitAtHeadings ? "headings" : "auto"); };
    split.words = [] { return std::vector<std::string>{"auto", "headings"}; };
    rows.push_back(std::move(split));
    return rows;
}

const CardSettingRow* find(std::string_view Row::*name, std::string_view word) {
    const auto& rows = cardSettingRows();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const Row& row) { return row.*name == word; });
    return it == rows.end() ? nullptr : &*it;
}

}  // namespace

const std::vector<CardSettingRow>& cardSettingRows() {
    static const std::vector<CardSettingRow> rows = makeRows();
    return rows;
}

const CardSettingRow* settingByKey(std::string_view key) { return find(&Row::key, key); }
const CardSettingRow* settingByFrontMatter(std::string_view key) { return find(&Row::frontMatter, key); }
const CardSettingRow* settingByFlag(std::string_view flag) { return find(&Row::flag, flag); }

nlohmann::json jsonSettingValue(const CardSettingRow& row, const CardSettings& settings) {
    const std::string value = row.text(settings);
    if (row.kind == Row::Kind::Switch) return value == "true";
    if (row.kind == Row::Kind::Number) return *parseStrictDouble(value);
    return value;
}

std::string CardSettings::toJson() const {
    nlohmann::json j = nlohmann::json::object();
    for (const Row& row : cardSettingRows()) j[std::string(row.key)] = jsonSettingValue(row, *this);
    j["style"] = style.name;
    return j.dump();
}

std::optional<std::string> jsonSettingText(const CardSettingRow& row, const nlohmann::json& value) {
    switch (row.kind) {
    case Row::Kind::Switch: return value.is_boolean() ? std::optional(std::string(value.get<bool>() ? "true" : "false")) : std::nullopt;
    case Row::Kind::Number: return value.is_number() ? std::optional(value.dump()) : std::nullopt;
    case Row::Kind::Choice: return value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
    }
    return std::nullopt;
}

CardSettings CardSettings::fromJson(std::string_view text, const CardSettings& fallback) {
    CardSettings out = fallback;
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_object()) return out;
    for (const Row& row : cardSettingRows())
        if (const auto it = j.find(row.key); it != j.end())
            if (const auto value = jsonSettingText(row, *it)) {
                CardSettings taken = out;
                if (!row.take(taken, *value)) out = std::move(taken);
            }
    const auto s = j.find("style");
    if (s != j.end() && s->is_string() && (s->get<std::string>().empty() || isStyleName(s->get<std::string>()))) {
        out.style = CardStyle{};
        out.style.name = s->get<std::string>();
    }
    return out;
}

CardSettings overlayFrontMatter(const CardSettings& base, const NoteSettings& note, const StyleLookup& findStyle,
                                std::vector<std::string>& warnings) {
    CardSettings out = base;
    warnings.insert(warnings.end(), note.warnings.begin(), note.warnings.end());
    for (const auto& [key, value] : note.values)
        if (const CardSettingRow* row = settingByKey(key)) row->take(out, value);
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
