#include "cli/RenderOptions.hpp"

#include <algorithm>
#include <functional>
#include <string>

#include <glib/gi18n.h>
#include <glibmm/ustring.h>

#include "norvo/CardSettings.hpp"
#include "norvo/Catalogue.hpp"
#include "cli/RunOptionRows.hpp"
#include "norvo/Presets.hpp"

// `norvo render --help`: the card settings as their table names them, then the run's own options.
namespace norvo {

namespace {

// "paper (default), ink or sky": the catalogue's ids, the first the default, with what
// `extra` adds to each.
template <typename T>
std::string choices(const std::vector<T>& all, const std::function<std::string(const T&)>& extra) {
    std::string out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i) out += i + 1 == all.size() ? std::string(" ") + _("or") + " " : std::string(", ");
        const std::string more = extra(all[i]);
        out += all[i].id + (i == 0 ? std::string(" (") + _("default") + (more.empty() ? "" : ", " + more) + ")"
                                   : more.empty() ? std::string() : " (" + more + ")");
    }
    return out;
}

// `text` folded to lines of at most 78 terminal columns, each after the first indented by `indent`.
// A line may break at a space, or after a wide (CJK) character, which takes two columns;
// closing punctuation stays with what it closes.
std::string folded(const std::string& text, std::size_t indent = 19) {
    const std::size_t kWidth = 78 - indent;
    const Glib::ustring closing = "\uFF0C\u3002\u3001\uFF1B\uFF1A\uFF09\u201D\u300D\uFF01\uFF1F)";
    const Glib::ustring opening = "\uFF08\u201C\u300C(";
    struct Piece {
        Glib::ustring text;
        std::size_t columns = 0;
        bool afterSpace = false;
    };
    std::vector<Piece> pieces;
    bool space = false;
    // A value in quotes ('01 / 12') is typed whole: it is not broken (an apostrophe opens none).
    bool quoted = false;
    gunichar previous = ' ';
    for (const gunichar c : Glib::ustring(text)) {
        if (c == '\'' && (quoted || previous == ' ' || previous == '(')) quoted = !quoted;
        previous = c;
        if (c == ' ' && quoted && !pieces.empty()) {
            pieces.back().text += c;
            pieces.back().columns += 1;
            continue;
        }
        if (c == ' ') {
            space = true;
            continue;
        }
        const bool wide = g_unichar_iswide(c);
        const gunichar last = pieces.empty() ? 0 : pieces.back().text[pieces.back().text.size() - 1];
        const bool joins = !pieces.empty() && !space &&
                           (closing.find(c) != Glib::ustring::npos || opening.find(last) != Glib::ustring::npos ||
                            (!wide && !g_unichar_iswide(last)));
        if (!joins) pieces.push_back({{}, 0, space});
        pieces.back().text += c;
        pieces.back().columns += wide ? 2 : 1;
        space = false;
    }
    std::string out;
    std::size_t used = 0;
    for (const Piece& piece : pieces) {
        const std::size_t gap = used && piece.afterSpace ? 1 : 0;
        if (used && used + gap + piece.columns > kWidth) {
            out += "\n" + std::string(indent, ' ');
            used = 0;
        } else if (gap) {
            out += ' ';
            used += 1;
        }
        out += piece.text.raw();
        used += piece.columns;
    }
    return out;
}

// An option's line: the flag and its value's name, then its words folded under them.
std::string optionHelp(std::string_view names, std::string_view valueName, const std::string& words) {
    std::string head = "  " + std::string(names) + (valueName.empty() ? "" : " " + std::string(valueName));
    head.resize(std::max<std::size_t>(head.size() + 1, 19), ' ');
    return head + folded(words) + "\n";
}

// The settings whose values come from the catalogue list them (a new theme, font or size is
// listed by itself); the others say what they take.
std::string settingsHelp() {
    const std::function<std::string(const Theme&)> noTheme = [](const Theme&) { return std::string(); };
    const std::function<std::string(const Font&)> noFont = [](const Font&) { return std::string(); };
    const std::function<std::string(const Preset&)> pixels = [](const Preset& p) {
        return std::to_string(p.width) + "x" + std::to_string(p.height);
    };
    std::string sizes = choices(Presets::all(), pixels);
    sizes.replace(sizes.rfind(std::string(" ") + _("or") + " "), std::string(_("or")).size() + 2, ", ");
    std::string out;
    for (const CardSettingRow& row : cardSettingRows()) {
        if (row.help) out += optionHelp(row.flag, row.valueName, _(row.help));
        else if (row.key == "theme") out += "  --theme THEME    " + choices(Themes::all(), noTheme) + "\n";
        else if (row.key == "font") out += "  --font FONT      " + choices(Fonts::all(), noFont) + "\n";
        else
            out += "  --size SIZE      " +
                   folded(Glib::ustring::compose(_("%1, tall (1080x1440), WIDTHxHEIGHT (each side 320 to 4096 px, at "
                                                   "most 4:1), long or WIDTHxlong (1080 or WIDTH wide, as tall as the "
                                                   "note up to 16383 px), or all (the first four)"),
                                                 sizes)) +
                   "\n";
    }
    return out;
}

// A list of names in quotes: "theme", "font", ...
std::string quotedList(std::string_view CardSettingRow::*name) {
    std::string out;
    for (const CardSettingRow& row : cardSettingRows()) out += (out.empty() ? "" : ", ") + std::string(row.*name);
    return out;
}

// The run's own options, from their table; --stream's words name the settings' JSON keys.
std::string runOptionsHelp() {
    std::string keys;
    for (const CardSettingRow& row : cardSettingRows()) keys += "\"" + std::string(row.key) + "\", ";
    std::string out;
    for (const RunOptionRow& row : runOptionRows()) {
        if (!row.help) continue;
        const std::string names = row.alias.empty() ? std::string(row.flag) : std::string(row.alias) + ", " + std::string(row.flag);
        out += optionHelp(names, row.valueName, Glib::ustring::compose(_(row.help), keys).raw());
    }
    return out;
}

}  // namespace

const char* renderHelpText() {
    // The option names and the values in them are typed as they stand: only the words
    // around them are translated.
    static const std::string text =
        std::string(_("Usage: norvo render [OPTION]... [FILE]...\n"
                      "Render Markdown notes as PNG cards, one card per file and size.\n"
                      "With no FILE, or when FILE is -, read standard input.\n")) +
        "\n" + settingsHelp() + runOptionsHelp() + "\n" +
        folded(Glib::ustring::compose(_("A note may set %1, style and accent for itself in its front matter (\"---\" "
                                        "lines at its top, \"key: value\" between them); the options above are the "
                                        "defaults it changes."),
                                      quotedList(&CardSettingRow::frontMatter)),
               0) +
        "\n\n" + _(R"(Each card written is reported on its own line. Two cards of one run never share a
file: a repeated name gets "-2", "-3", ... before ".png". SIGINT or SIGTERM stops
the run between files (exit 130 or 143): what was written is what was reported.
Exit status: 0 when every card was written, 1 when any failed, 2 for bad usage.
Without a display (over ssh, in CI) it draws on a headless display of its own (Xvfb),
stopped when the run ends.
)");
    return text.c_str();
}

}  // namespace norvo
