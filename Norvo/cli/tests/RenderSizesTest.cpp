// Sizes beyond the four, long pictures, the largest notes, and the corpus swept at every
// size, font and text size (the sweeps are the soak tier's).
#include <optional>

#include "RenderCommandSupport.hpp"

using namespace norvo;
using namespace norvo::cli_testing;

namespace {

// A note of forty paragraphs: a long picture taller than two thousand pixels.
std::string essay() {
    std::string essay = "# Essay\n\n";
    for (int i = 0; i < 40; ++i) essay += "Paragraph " + std::to_string(i) + " says a few calm words about cards.\n\n";
    return essay;
}

// Twelve essays: longer than the tallest long picture.
std::string tooLong() {
    std::string huge;
    for (int i = 0; i < 12; ++i) huge += essay();
    return huge;
}

constexpr std::size_t kLimit = 1024 * 1024 - 64;  // a little under the 1 MiB a note may hold

// A megabyte of emphasis marks that never close.
std::string endlessEmphasis() {
    std::string emphasis;
    while (emphasis.size() < kLimit) emphasis += "*a";
    return emphasis;
}

}  // namespace

// A long picture is as tall as its note, from a square up to the cap, where the rest is cut
// with a warning; a note asking for a set is still one picture; a table wider than it is cut
// at its columns. Its line gives the file's own size, not the cap's. A note's own size beyond
// the four (3:4, any width and height) is named in its file. (Which sizes are refused, and the
// words that say so, are Presets' and RenderOptions' tests.)
TEST(RenderCommand, ALongPictureIsAsTallAsItsNoteUpToTheCap) {
    TempFolder tmp;
    const auto dir = tmp.path(), out = dir / "out";
    writeFile(dir / "short.md", "# Short\n\nOne line.");
    writeFile(dir / "essay.md", "---\npages: true\n---\n" + essay());
    writeFile(dir / "huge.md", tooLong());
    writeFile(dir / "tall.md", "---\nsize: tall\n---\n# Tall");
    writeFile(dir / "wide.md", "---\nsize: 1200x900\n---\n# Wide\n\nFrom its front matter.");
    auto r = render({"--report", "-d", out.string(), "--size", "long", (dir / "short.md").string(), (dir / "essay.md").string(),
                     (dir / "huge.md").string(), (dir / "tall.md").string(), (dir / "wide.md").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(pngSize(out / "short-long.png"), "1080x1080");  // a square holds it
    EXPECT_EQ(pngSize(out / "tall-tall.png"), "1080x1440");
    EXPECT_EQ(pngSize(out / "wide-1200x900.png"), "1200x900");
    const auto essayHeader = readPngHeader(readFile(out / "essay-long.png"));
    EXPECT_EQ(essayHeader.width, 1080u);
    EXPECT_GT(essayHeader.height, 2000u);
    EXPECT_LT(essayHeader.height, 16383u);
    EXPECT_EQ(pngSize(out / "essay-long-2.png"), "1080x16383");
    EXPECT_FALSE(fs::exists(out / "essay-long-1.png"));
    const auto reports = reportLines(r.out);
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[1]["height"], essayHeader.height);
    EXPECT_FALSE(reports[1]["cut"]);
    EXPECT_GE(double(reports[1]["bodyPx"]), 40);
    EXPECT_TRUE(reports[2]["cut"]);
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    EXPECT_TRUE(has(r.err, "huge.md is longer than a long picture's 16383 px")) << r.err;
    // A table wider than a narrow long picture is cut at its columns, not its length.
    std::string columns = "|";
    for (int c = 0; c < 40; ++c) columns += " c" + std::to_string(c) + " |";
    writeFile(dir / "columns.md", "# Columns\n\n" + columns + "\n|" + std::string(40 * 4, '-') + "|\n");
    r = render({"-d", out.string(), "--size", "320xlong", (dir / "columns.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(has(r.err, "longer than")) << r.err;
    const std::string line = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), pngSize(line.substr(0, line.find("  ")))) << line;
}

// Every format holds the tallest long picture.
TEST(RenderCommandSoak, EveryFormatHoldsTheTallestLongPicture) {
    TempFolder tmp;
    writeFile(tmp.path() / "huge.md", tooLong());
    for (const char* format : {"jpeg", "webp"}) {
        const auto r = render({"-d", tmp.path().string(), "--size", "long", "--format", format, (tmp.path() / "huge.md").string()});
        EXPECT_EQ(r.exitStatus, 0) << format << r.err;
    }
}

// Notes up to the 1 MiB limit that are hard to lay out: a megabyte of code, of table rows and
// of emphasis is each drawn in time, cut with the cue; a 5,000-row table becomes the usual 20
// cards; a megabyte of emphasis is a set cut with the cue.
TEST(RenderCommandSoak, TheLargestNotesRenderInTimeAndMakeFullSets) {
    TempFolder tmp;
    const auto dir = tmp.path();
    std::string code = "```\n", table = "| # | Name | Value |\n|---|---|---|\n", rows = table;
    for (int i = 0; code.size() < kLimit - 64; ++i) code += "line " + std::to_string(i) + " = value(" + std::to_string(i) + ")\n";
    code += "```\n";
    for (int i = 0; table.size() < kLimit - 64; ++i)
        table += "| " + std::to_string(i) + " | item " + std::to_string(i) + " | " + std::to_string(i * 3) + " |\n";
    for (int i = 0; i < 5000; ++i) rows += "| " + std::to_string(i) + " | item | " + std::to_string(i * 7) + " |\n";
    const std::pair<const char*, std::string> notes[] = {{"code.md", code}, {"table.md", table}, {"emphasis.md", endlessEmphasis()},
                                                         {"rows.md", rows}};
    for (const auto& [name, text] : notes) writeFile(dir / name, text);
    auto r = render({"--report", "-d", (dir / "out").string(), (dir / "code.md").string(), (dir / "table.md").string(),
                     (dir / "emphasis.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    auto reports = reportLines(r.out);
    EXPECT_EQ(reports.size(), 3u);
    for (const auto& report : reports) EXPECT_TRUE(report["cut"]) << report;

    r = render({"--pages", "--report", "-d", (dir / "sets").string(), (dir / "rows.md").string(), (dir / "emphasis.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    reports = reportLines(r.out);
    // The two notes are drawn side by side: either may be reported first.
    const auto rowsSet = std::find_if(reports.begin(), reports.end(), [](const auto& j) {
        return std::string(j["file"]).find("name-value") != std::string::npos;
    });
    ASSERT_NE(rowsSet, reports.end());
    EXPECT_EQ((*rowsSet)["pages"], 20);
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(), [](const auto& j) { return j["cut"] == true; }), 2);

    // Ten thousand short formulas, and a megabyte of them in one paragraph, make full sets.
    std::string formulas = "# Formulas\n\n", paragraph = "# One paragraph\n\n";
    for (int i = 0; i < 10000; ++i) formulas += "Term $x_{" + std::to_string(i) + "}^2$ and" + (i % 12 == 11 ? "\n\n" : " ");
    for (int i = 0; paragraph.size() < kLimit - 16; ++i) paragraph += "$a_{" + std::to_string(i) + "}$ ";
    writeFile(dir / "formulas.md", formulas);
    writeFile(dir / "paragraph.md", paragraph);
    r = render({"--pages", "-d", (dir / "formulas").string(), (dir / "formulas.md").string(), (dir / "paragraph.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    // (Of a megabyte paragraph the page lays out a bounded part: most of a set.)
    const auto files = filesIn(dir / "formulas");
    for (const char* set : {"formulas-square-", "one-paragraph-square-"}) {
        EXPECT_GE(std::count_if(files.begin(), files.end(),
                                [&](const fs::path& f) { return f.filename().string().rfind(set, 0) == 0; }),
                  15)
            << set << r.err;
    }
}

// Every corpus note in every size, at every text size, as single cards and as sets: no
// card's page dies, so none needs the engine's fallback. One process per font and scale.
class CrashSweep : public ::testing::TestWithParam<const char*> {};

TEST_P(CrashSweep, NoNoteKillsThePage) {
    TempFolder tmp;
    const std::vector<std::string> notes = corpusNotes();
    std::size_t cards = 0;
    for (const char* scale : {"0.7", "1.0", "1.3", "1.6", "1.8"}) {
        for (const bool pages : {false, true}) {
            const auto out = tmp.path() / (std::string(scale) + (pages ? "-pages" : ""));
            std::vector<std::string> args{"--size", "all", "--font", GetParam(), "--scale", scale, "--report", "-d", out.string()};
            if (pages) args.push_back("--pages");
            args.insert(args.end(), notes.begin(), notes.end());
            const auto r = render(args);
            const std::string what = std::string(GetParam()) + " " + scale + (pages ? " pages" : "");
            EXPECT_EQ(r.exitStatus, 0) << what << "\n" << r.err;
            EXPECT_EQ(r.err.find("web process"), std::string::npos) << what << "\n" << r.err;
            EXPECT_EQ(r.err.find("again on a fresh page"), std::string::npos) << what << "\n" << r.err;
            const auto written = std::size_t(std::count(r.out.begin(), r.out.end(), '\n'));
            EXPECT_GE(written, 4 * notes.size()) << what;
            cards += written;
        }
    }
    std::printf("%s: %zu cards, no page died\n", GetParam(), cards);
}

INSTANTIATE_TEST_SUITE_P(EveryFont, CrashSweep, ::testing::Values("sans", "serif", "mono"));

namespace {

// A card's note: its file name without the size (and a set's card number).
std::string noteOf(const std::string& file, const std::string& size) {
    const std::string name = fs::path(file).filename().string();
    return name.substr(0, name.rfind("-" + size));
}

}  // namespace

// The corpus's sets, drawn on a quiet machine and again with every core kept busy, are the
// same files to the byte.
TEST(CrashSweepSets, TheCorpusSetsAreTheSameHoweverBusyTheMachine) {
    TempFolder tmp;
    const auto notes = corpusNotes();
    auto draw = [&](bool busy) {
        std::optional<norvo::testing::BusyCores> cores;
        if (busy) cores.emplace();
        std::map<std::string, std::size_t> files;  // each file's name and a hash of its bytes
        for (const char* size : {"square", "landscape"}) {
            const auto out = tmp.path() / (std::string(size) + (busy ? "-busy" : ""));
            std::vector<std::string> args{"--pages", "--size", size, "-d", out.string()};
            args.insert(args.end(), notes.begin(), notes.end());
            const auto r = render(args);
            EXPECT_EQ(r.exitStatus, 0) << size << "\n" << r.err;
            for (const auto& f : filesIn(out)) files[f.filename().string()] = std::hash<std::string>{}(readText(f));
        }
        return files;
    };
    const auto quiet = draw(false);
    EXPECT_GT(quiet.size(), 2 * notes.size());
    EXPECT_EQ(draw(true), quiet);
}

// The corpus at odd shapes and as long pictures, as cards and as sets on a photo style: every
// card exactly its size (a long one from a square to the cap), every text readable at 4.5:1,
// nothing across the edge of a plain card; a note that fits a square card is never cut or
// blank on a wider or taller shape.
TEST(CrashSweepSets, WhatFitsASquareFitsEveryShapeAndEveryCardStaysReadable) {
    TempFolder tmp;
    const auto notes = corpusNotes();
    auto draw = [&](const std::string& size, std::vector<std::string> extra) {
        std::vector<std::string> args{"--report", "--size", size, "-d", (tmp.path() / (size + std::to_string(extra.size()))).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), notes.begin(), notes.end());
        const auto r = render(args);
        EXPECT_EQ(r.exitStatus, 0) << size << "\n" << r.err;
        return reportLines(r.out);
    };
    std::set<std::string> fitsSquare;
    for (const auto& report : draw("square", {}))
        if (!report["cut"]) fitsSquare.insert(noteOf(report["file"], "square"));
    EXPECT_GT(fitsSquare.size(), notes.size() / 2);
    // (A narrower card than the square may show a wide table's columns only in part: what fits
    // a square is promised on cards at least as wide.)
    const int squareWidth = norvo::Presets::by("square").width;
    for (const char* size : {"landscape", "1600x900", "2000x500", "1080x1440", "800x2000", "long"}) {
        const auto shape = *norvo::Presets::parse(size);
        for (const auto& extra : std::vector<std::vector<std::string>>{{}, {"--style", "Dusk"}, {"--pages", "--style", "Dusk"}}) {
            if (extra.size() == 3 && shape.grows) continue;  // a long picture is one card
            const auto reports = draw(size, extra);
            if (extra.empty()) {
                EXPECT_EQ(reports.size(), notes.size()) << size;
            }
            for (const auto& report : reports) {
                const std::string file = report["file"];
                const std::string what = std::string(size) + " " + std::to_string(extra.size()) + " " + file;
                EXPECT_EQ(report["width"], shape.width) << what;
                if (shape.grows) {
                    EXPECT_GE(report["height"], shape.width) << what;
                    EXPECT_LE(report["height"], norvo::Presets::kLongCap) << what;
                } else {
                    EXPECT_EQ(report["height"], shape.height) << what;
                }
                if (extra.empty()) {
                    EXPECT_FALSE(report["overflowX"]) << what;
                }
                if (shape.width >= squareWidth && fitsSquare.count(noteOf(file, size))) {
                    EXPECT_FALSE(report["cut"]) << what;
                    EXPECT_FALSE(isUniform(file)) << what;
                }
                EXPECT_GE(double(report["minContrast"]), 4.5) << what;
            }
        }
    }
}
