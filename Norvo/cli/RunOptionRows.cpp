#include "cli/RunOptionRows.hpp"

#include <algorithm>

namespace norvo {

namespace {

constexpr const char* N_(const char* text) { return text; }
using V = OptionValue;

std::vector<RunOptionRow> makeRows() {
    return {
        {.flag = "--report",
         .help = N_("print one JSON object per card instead of the usual line: {\"file\", \"width\", \"height\", "
                    "\"bodyPx\", \"minPx\", \"cut\", \"overflowX\", \"brokenWords\", \"minContrast\"} (text sizes in "
                    "pixels; cut: part of the note is not shown; brokenWords: words split across lines; minContrast: "
                    "the lowest contrast of any text against what is behind it)")},
        {.flag = "--format", .valueName = "F", .value = V::Word, .words = {"png", "jpeg", "webp"},
         .help = N_("png (default), jpeg (quality 92) or webp (lossless); the files are named .png, .jpg or .webp")},
        {.flag = "--density", .valueName = "D", .value = V::Word, .words = {"1", "2"},
         .help = N_("1 (default) or 2: the same card at twice the width and height (2160x2160 for square), drawn at "
                    "that size")},
        {.flag = "--pdf",
         .help = N_("write the set as one PDF, <slug>-<size>.pdf, a page per card (with --pages, the PNG files too); "
                    "--report gives it a line {\"pdf\", \"pages\"}")},
        {.flag = "--watch",
         .help = N_("after rendering, render a note's cards again each time its file is saved (saves within 0.1 s "
                    "count once), one line per card written, until Ctrl+C (exit 0); a note that cannot be read says "
                    "why and is rendered again once it can")},
        {.flag = "--jobs", .valueName = "N", .value = V::Typed,
         .help = N_("draw on N pages side by side (default: 2 with four cores or more, else 1: on two cores one page "
                    "and the writer keep both busy)")},
        {.flag = "--shard", .valueName = "K/N", .value = V::Typed,
         .help = N_("draw only the notes at places K, K+N, K+2N, ... of the inputs, under the names the whole batch "
                    "gives them: N runs (on N machines) draw the batch once, and their --report lines together are "
                    "its report")},
        {.flag = "--stream",
         .help = N_("answer requests, one JSON object a line on standard input ({\"markdown\" or \"file\", and any of "
                    "%1\"style\", \"format\", \"output\", \"id\"}), each with one JSON line on standard output, in "
                    "order: the card's report (with its \"id\"), or {\"id\", \"error\"}; the options above are the "
                    "defaults, -d the folder for requests without \"output\"")},
        {.flag = "--copy",
         .help = N_("put the one card on the clipboard, with the note's plain text beside it, instead of writing a "
                    "file; it is served in the background until something else is copied or 10 minutes pass")},
        {.flag = "--images", .valueName = "DIR", .value = V::Folder,
         .help = N_("pictures may also come from DIR (repeatable); a note's own folder always counts. A picture is "
                    "named by a path relative to one of them (![alt](photos/cat.jpg)); PNG, JPEG, WebP or GIF, at "
                    "most 25 MB and 50 megapixels. One that cannot be shown keeps its description on the card and is "
                    "named in a warning")},
        {.flag = "--style", .valueName = "STYLE", .value = V::Style,
         .help = N_("draw the cards in a style: one that comes with Norvo or one saved in norvo's Styles (by its "
                    "name), or a style file (a path to a .json file); a style that does not exist is a usage error")},
        {.flag = "--list-styles",
         .help = N_("name every style, one a line: those that come with Norvo, then the user's own")},
        {.flag = "--list-themes", .help = N_("name every theme, one a line: its name, a tab and its label")},
        {.flag = "--list-fonts", .help = N_("name every font, one a line: its name, a tab and its label")},
        {.flag = "--list-sizes",
         .help = N_("name every named size, one a line: its name, a tab and its pixels, WIDTHxHEIGHT (a long "
                    "picture's WIDTHxlong)")},
        {.flag = "-o", .valueName = "FILE", .value = V::File, .help = N_("write the one card to FILE")},
        {.flag = "-d", .valueName = "DIR", .value = V::Folder,
         .help = N_("write cards into DIR (default: the current folder), named after the note's first line: "
                    "<slug>-<size>.png")},
        {.flag = "--version", .help = N_("print the version, as norvo --version does")},
        {.flag = "--help", .alias = "-h", .help = N_("show this help")},
        {.flag = "--completion", .valueName = "SHELL", .value = V::Word, .words = {"bash", "zsh", "fish"}},
    };
}

}  // namespace

const std::vector<RunOptionRow>& runOptionRows() {
    static const std::vector<RunOptionRow> rows = makeRows();
    return rows;
}

const RunOptionRow* runOptionByFlag(std::string_view flag) {
    const auto& rows = runOptionRows();
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [&](const RunOptionRow& row) { return row.flag == flag || (!row.alias.empty() && row.alias == flag); });
    return it == rows.end() ? nullptr : &*it;
}

}  // namespace norvo
