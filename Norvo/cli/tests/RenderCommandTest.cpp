// norvo render as a user runs it: named cards, formats, sets and PDFs, reports, watching,
// the clipboard, shards, pictures and styles.
#include "RenderCommandSupport.hpp"
#include "norvo/CardSettings.hpp"

using namespace norvo;
using namespace norvo::cli_testing;

TEST(RenderCommand, WritesNamedCardsAndReportsFailures) {
    TempFolder tmp;
    const auto dir = tmp.path();
    writeFile(dir / "one.md", "# Hello World\n\nFirst.");
    writeFile(dir / "two.md", "# Hello World\n\nSame title.");
    writeFile(dir / "bad.md", "# Broken \xff\xfe");
    const auto out = dir / "cards";

    auto r = render({"--size", "all", "-d", out.string(), (dir / "one.md").string(), (dir / "two.md").string(),
                     (dir / "missing.md").string(), (dir / "bad.md").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(has(r.err, "missing.md"));
    EXPECT_TRUE(has(r.err, "bad.md is not UTF-8"));
    for (const char* name : {"hello-world-square.png", "hello-world-square-2.png", "hello-world-landscape.png",
                             "hello-world-story-2.png"})
        EXPECT_TRUE(std::filesystem::exists(out / name)) << name;
    EXPECT_EQ(pngSize(out / "hello-world-landscape.png"), "1200x630");
    EXPECT_EQ(lineCount(r.out), 8);

    // Standard input, one named file.
    r = render({"--theme", "ink", "-o", (dir / "mine.png").string()}, {}, "## From ==stdin==\n\nWith **words**.");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    // The PNG says what the card says: its title and its plain text, uncompressed (which words
    // those are is AltText's test).
    const std::string bytes = readText(dir / "mine.png");
    using namespace std::string_view_literals;
    EXPECT_TRUE(has(bytes, "iTXtTitle\0\0\0\0\0From stdin"sv));
    EXPECT_TRUE(has(bytes, "Description\0\0\0\0\0From stdin\n\nWith words."sv));

    // Other formats: named by their extension, each a picture of its kind.
    r = render({"--format", "jpeg", "--size", "landscape", "-d", out.string(), (dir / "one.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readText(out / "hello-world-landscape.jpg").substr(0, 2), "\xFF\xD8");
    // Twice the density: twice the width and height.
    r = render({"--density", "2", "--size", "story", "-o", (dir / "2x.png").string()}, {}, "# Sharp");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(pngSize(dir / "2x.png"), "2160x3840");

    // Without a display and without a headless one of its own (which the stream's test draws
    // on), norvo render says so; the app itself says in a sentence what to use instead.
    r = render({(dir / "one.md").string()}, {"DISPLAY=", "WAYLAND_DISPLAY=", "NORVO_NO_PRIVATE_DISPLAY=1"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "no display")) << r.err;
    r = runProcess({NORVO_TEST_EXECUTABLE}, {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "norvo render")) << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    // (norvo's own usage error, and its status, are CommandLineSpeaksChinese's.)
}

// The benchmark's cold-start timeline: every phase of a one-card run marked once, in the
// order a start goes through them, on the monotonic clock.
TEST(RenderCommand, ATimelineMarksEveryPhaseOfAStartInOrder) {
    TempFolder tmp;
    const auto dir = tmp.path();
    writeFile(dir / "note.md", "# Hello\n\nOne card.");
    const auto timeline = dir / "timeline";
    const auto r = render({"-d", (dir / "out").string(), (dir / "note.md").string()},
                          {"NORVO_TIMELINE=" + timeline.string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::ifstream in(timeline);
    std::vector<std::string> phases;
    long long previous = 0;
    std::string phase;
    for (long long ns = 0; in >> phase >> ns; previous = ns) {
        EXPECT_GE(ns, previous) << phase;
        phases.push_back(phase);
    }
    // The start's phases and one card's steps, each in its order; the backdrop is painted on
    // its own thread whenever it is asked for.
    const std::vector<std::string> start{"main",          "gtk-ready",  "view-created", "load-started",
                                         "load-finished", "card-drawn", "card-written", "exit"};
    const std::vector<std::string> steps{"card-begun", "layout-asked", "laid-out", "snapshot-asked", "snapped",
                                         "copied",     "encode-begun", "encoded",  "written"};
    auto only = [&](const std::vector<std::string>& kept) {
        std::vector<std::string> out;
        std::copy_if(phases.begin(), phases.end(), std::back_inserter(out),
                     [&](const std::string& p) { return std::find(kept.begin(), kept.end(), p) != kept.end(); });
        return out;
    };
    EXPECT_EQ(only(start), start);
    EXPECT_EQ(only(steps), steps);
    EXPECT_EQ(only({"backdrop-begun", "backdrop-painted"}), (std::vector<std::string>{"backdrop-begun", "backdrop-painted"}));
}

// --watch: each save renders the note's cards again under the same names; a save that
// cannot be read says why, and the next good one renders; Ctrl+C ends it with status 0.
TEST(RenderCommand, WatchRendersEverySaveAndRecoversFromABadOne) {
    TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    writeFile(note, "# Watched\n\nFirst.");
    const auto out = dir / "out.txt", err = dir / "err.txt";
    ChildProcess watch({NORVO_TEST_EXECUTABLE, "render", "--watch", "--report", "-d", (dir / "cards").string(),
                        note.string()}, out, err);
    auto errors = [&] { return readText(err); };
    const auto wait = std::chrono::seconds(20);
    auto lines = [&](long n) { return waitFor([&] { return lineCount(readText(out)) == n; }, wait); };
    auto says = [&](const char* what) { return waitFor([&] { return has(errors(), what); }, wait); };
    const auto card = dir / "cards" / "watched-square.png";
    ASSERT_TRUE(lines(1)) << errors();
    const auto first = readFile(card);

    // A save the way editors make them: a new file renamed over the note.
    writeFile(dir / "note.md.tmp", "# A new title\n\nSecond, longer than the first one.");
    std::filesystem::rename(dir / "note.md.tmp", note);
    ASSERT_TRUE(lines(2)) << errors();
    EXPECT_NE(readFile(card), first);  // same name, new card
    writeFile(note, "# Watched\n\nThird.");
    ASSERT_TRUE(lines(3)) << errors();

    writeFile(note, "caf\xe9");
    ASSERT_TRUE(says("note.md is not UTF-8 text"));
    writeFile(note, "# Watched\n\nFixed.");
    ASSERT_TRUE(lines(4)) << errors();
    EXPECT_EQ(lineCount(readText(out)), 4);  // the bad save rendered nothing

    // An editor that empties the file first: the good card stays. A FIFO put in its place is
    // refused without waiting on it; a removed note is named; a note back again is drawn.
    const auto good = readFile(card);
    writeFile(note, "");
    ASSERT_TRUE(says("until it has text again"));
    EXPECT_EQ(readFile(card), good);
    std::filesystem::remove(note);
    ASSERT_EQ(mkfifo(note.c_str(), 0600), 0);
    ASSERT_TRUE(says("named pipe (FIFO)"));
    std::filesystem::remove(note);
    ASSERT_TRUE(says("was removed"));
    writeFile(note, "# Watched\n\nBack again.");
    ASSERT_TRUE(lines(5)) << errors();

    ::kill(watch.pid(), SIGINT);
    EXPECT_EQ(watch.wait(), 0) << errors();
    EXPECT_FALSE(std::filesystem::exists(dir / "cards" / "watched-square-2.png"));
}

namespace {
// Whether a clipboard server started by `norvo render --copy` is still running.
bool clipboardServerRuns() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc"))
        if (has(readText(entry.path() / "cmdline"), "--serve-clipboard")) return true;
    return false;
}
}  // namespace

// --copy returns at once; another program then reads the card and its words from the
// clipboard, and the server goes once something else is copied.
TEST(RenderCommand, CopyLeavesTheCardAndItsWordsOnTheClipboard) {
    ASSERT_TRUE(gtk_init_check());
    const auto r = render({"--copy", "--size", "portrait"}, {}, "# Copied card\n\nWith **words**.");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "clipboard  1080x1350\n");

    GdkClipboard* clipboard = gdk_display_get_clipboard(gdk_display_get_default());
    struct Pasted {
        GdkTexture* texture = nullptr;
        std::optional<std::string> text;
        bool textureRead = false;
    } pasted;
    gdk_clipboard_read_texture_async(clipboard, nullptr, +[](GObject* c, GAsyncResult* result, gpointer data) {
        auto* p = static_cast<Pasted*>(data);
        p->texture = gdk_clipboard_read_texture_finish(GDK_CLIPBOARD(c), result, nullptr);
        p->textureRead = true;
    }, &pasted);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return pasted.textureRead; }));
    ASSERT_TRUE(pasted.texture);
    EXPECT_EQ(gdk_texture_get_width(pasted.texture), 1080);
    EXPECT_EQ(gdk_texture_get_height(pasted.texture), 1350);
    g_object_unref(pasted.texture);
    gdk_clipboard_read_text_async(clipboard, nullptr, +[](GObject* c, GAsyncResult* result, gpointer data) {
        char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(c), result, nullptr);
        static_cast<Pasted*>(data)->text = text ? text : "";
        g_free(text);
    }, &pasted);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return pasted.text.has_value(); }));
    EXPECT_EQ(*pasted.text, "Copied card\n\nWith words.");

    EXPECT_TRUE(clipboardServerRuns());
    gdk_clipboard_set_text(clipboard, "something else");
    EXPECT_TRUE(norvo::testing::runUntil([] { return !clipboardServerRuns(); }));
}

// Sets: every card a name of its own (one card keeps the plain name), one report line of JSON
// per card telling its page, and a PDF of the set, a page per card; a set that fails part-way
// leaves nothing of itself.
TEST(RenderCommand, SetsAndPdfsNeverShareNamesAndEveryReportLineIsJson) {
    TempFolder tmp;
    const auto dir = tmp.path(), out = dir / "out";
    std::string essay = "# A long essay\n\n";
    for (int i = 0; essay.size() < 3000; ++i)
        essay += "Paragraph " + std::to_string(i) + " says a few calm words about cards and the people who read them.\n\n";
    writeFile(dir / "essay.md", essay);
    writeFile(dir / "short.md", "# Short\n\nOne card.");
    writeFile(dir / "same.md", "# A long essay\n\nThe same title.");
    writeFile(dir / "nul.md", std::string("# Nul\n\na\0b", 10));
    const auto r = render({"--pages", "--pdf", "--size", "all", "--report", "-d", out.string(), (dir / "essay.md").string(),
                           (dir / "short.md").string(), (dir / "same.md").string(), (dir / "nul.md").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(has(r.err, "nul.md contains a NUL byte at offset 8")) << r.err;
    std::size_t pages = 0;
    while (fs::exists(out / ("a-long-essay-square-" + std::to_string(pages + 1) + ".png"))) ++pages;
    ASSERT_GE(pages, 2u);
    EXPECT_TRUE(fs::exists(out / "short-square.png"));  // one card keeps the plain name
    EXPECT_FALSE(fs::exists(out / "short-square-1.png"));
    std::set<std::string> named;
    std::size_t pdfs = 0, reported = 0;
    const auto reports = reportLines(r.out);
    for (const auto& j : reports) {
        ASSERT_TRUE(j.is_object());
        const std::string file = j.contains("pdf") ? j["pdf"] : j["file"];
        pdfs += j.contains("pdf");
        EXPECT_TRUE(named.insert(file).second) << "named twice: " << file;
        EXPECT_TRUE(fs::exists(file)) << file;
        if (j.value("pages", 1) != 1 && file.find("-square-") != std::string::npos) {
            ++reported;
            EXPECT_EQ(j["pages"], pages) << j;
        }
    }
    EXPECT_EQ(reported, pages);
    EXPECT_EQ(pdfs, 12u);  // three notes, four sizes
    EXPECT_EQ(filesIn(out).size(), reports.size());  // nothing overwritten, nothing extra
    // The PDF: a page per card, each the card's aspect at 0.75 pt per pixel, titled by the note.
    const auto pdf = out / "a-long-essay-square.pdf";
    EXPECT_EQ(norvo::testing::pdfInfo(pdf, "Pages"), std::to_string(pages));
    EXPECT_EQ(norvo::testing::pdfInfo(pdf, "Page size").substr(0, 13), "810 x 810 pts");
    EXPECT_EQ(norvo::testing::pdfInfo(pdf, "Title"), "A long essay");

    // A set that fails part-way leaves nothing of itself: card 3's name is taken by a folder.
    const auto broken = dir / "broken";
    fs::create_directories(broken / "a-long-essay-square-3.png");
    const auto failed = render({"--pages", "--pdf", "-d", broken.string(), (dir / "essay.md").string()});
    EXPECT_EQ(failed.exitStatus, 1) << failed.err;
    EXPECT_TRUE(has(failed.err, "a-long-essay-square-3.png: Is a directory")) << failed.err;
    EXPECT_EQ(filesIn(broken), std::vector<fs::path>{broken / "a-long-essay-square-3.png"});
    EXPECT_EQ(failed.out, "");
}

// Shards of one batch: together they write the batch's files under the batch's names (a
// repeated title numbered as in one run), each once, and their report lines are its report.
TEST(RenderCommand, ShardsTogetherAreOneBatch) {
    TempFolder tmp;
    const auto dir = tmp.path();
    std::vector<std::string> notes;
    for (int i = 1; i <= 5; ++i) {
        notes.push_back((dir / ("n" + std::to_string(i) + ".md")).string());
        writeFile(notes.back(), i == 5 ? "# Other\n\nText." : "# Same\n\nNote " + std::to_string(i) + ".");
    }
    auto run = [&](std::vector<std::string> args, const fs::path& out) {
        args.insert(args.begin(), {NORVO_TEST_EXECUTABLE, "render", "--report", "-d", out.string()});
        args.insert(args.end(), notes.begin(), notes.end());
        auto r = runProcess(args);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        std::multiset<std::string> lines;
        for (auto j : reportLines(r.out)) {
            j["file"] = fs::path(j["file"].get<std::string>()).filename().string();
            lines.insert(j.dump());
        }
        return lines;
    };
    const auto whole = run({}, dir / "whole");
    auto parts = run({"--shard", "1/2"}, dir / "parts");
    const auto second = run({"--shard", "2/2"}, dir / "parts");
    EXPECT_EQ(parts.size() + second.size(), whole.size());
    parts.insert(second.begin(), second.end());
    EXPECT_EQ(parts, whole);
    for (const auto& file : filesIn(dir / "whole"))
        EXPECT_EQ(readFile(file), readFile(dir / "parts" / file.filename())) << file;
}

// The note's folder and --images reach the page; what is refused is named on standard error
// and in the report. Which targets are refused is the picture rules' own test (PictureTarget,
// Pictures.FoundOnlyInsideTheNotesFolders), and how a shown picture is drawn the card design's.
TEST(RenderCommand, PicturesBesideTheNoteAndWhyOthersAreNotShown) {
    TempFolder tmp;
    const auto dir = tmp.path();
    for (const char* folder : {"notes", "shared", "private"}) fs::create_directories(dir / folder);
    for (const auto& file : {dir / "notes" / "beside.png", dir / "shared" / "shared.png"})
        ASSERT_TRUE(norvo::testing::writeSolidPng(file, 400, 300, 0xe02020ff));
    writeFile(dir / "private" / "secret.png", "x");
    fs::create_symlink(dir / "private" / "secret.png", dir / "notes" / "link.png");
    writeFile(dir / "notes" / "fake.png", "text, not a picture");
    writeFile(dir / "notes" / "trip.md", "# Trip\n\n![Beside](beside.png)\n\n![Shared](shared.png)\n\n![Link](link.png)\n\n"
                                         "![Fake](fake.png)\n");
    auto r = render({"--report", "--images", (dir / "shared").string(), "-o", (dir / "trip.png").string(),
                     (dir / "notes" / "trip.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;  // pictures not shown are warnings, not failures
    const auto report = nlohmann::json::parse(r.out);
    // The report names what the card was drawn without, and why.
    std::set<std::string> leftOut;
    for (const auto& refused : report.value("leftOut", nlohmann::json::array())) {
        EXPECT_FALSE(std::string(refused["reason"]).empty()) << refused.dump();
        leftOut.insert(refused["target"]);
    }
    EXPECT_EQ(leftOut, (std::set<std::string>{"link.png", "fake.png"})) << r.out;
    EXPECT_TRUE(has(r.err, "trip.md: picture \u201clink.png\u201d not shown: it lies outside the note's folder"));
    EXPECT_TRUE(has(r.err, "fake.png")) << r.err;
    EXPECT_EQ(lineCount(r.err), 2) << r.err;

    // --images must name a folder.
    r = render({"--images", (dir / "nothere").string(), "-o", (dir / "x.png").string(),
                (dir / "notes" / "trip.md").string()});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

TEST(RenderCommand, StylesAndFrontMatterSetEachNotesLook) {
    TempFolder tmp;
    const auto dir = tmp.path();
    writeFile(dir / "dark.json", R"({"background": {"color": "#0f2a2e"}, "signature": {"name": "Ada"}})");
    writeFile(dir / "broken.json", R"({"accent": "teal"})");
    // Front matter outranks the options for its note only; a wrong value is named and left out.
    writeFile(dir / "own.md", "---\nsize: story\ntheme: ink\nscale: 9\n---\n# Own look\n\nText.");
    writeFile(dir / "plain.md", "# Plain look\n\nText.");
    writeFile(dir / "covered.md", "---\ncover: true\n---\n# One card");  // a cover without a set is named
    auto r = render({"--style", (dir / "dark.json").string(), "-d", (dir / "out").string(),
                     (dir / "own.md").string(), (dir / "plain.md").string(), (dir / "covered.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.err, "own.md: scale: \u201c9\u201d is not a number from 0.5 to 3; the default is used")) << r.err;
    EXPECT_TRUE(has(r.err, "covered.md: cover: a cover opens a set of cards")) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "own-look-story.png"));
    EXPECT_TRUE(fs::exists(dir / "out" / "plain-look-square.png"));
    // The style's dark background is on both cards (its text's contrast is UserStyles' test).
    GdkPixbuf* card = gdk_pixbuf_new_from_file((dir / "out" / "plain-look-square.png").c_str(), nullptr);
    ASSERT_TRUE(card);
    const guchar* corner = gdk_pixbuf_read_pixels(card);
    EXPECT_LT(std::abs(corner[0] - 0x0f) + std::abs(corner[1] - 0x2a) + std::abs(corner[2] - 0x2e), 12);
    g_object_unref(card);

    // A broken style says which file and key, and the cards are drawn in the theme.
    r = render({"--style", (dir / "broken.json").string(), "-o", (dir / "theme.png").string(),
                (dir / "plain.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.err, "broken.json: \"accent\" \"teal\" is not a colour")) << r.err;
    EXPECT_TRUE(fs::exists(dir / "theme.png"));

    // Front matter longer than the page lays out is never drawn as the note: the cover shows the
    // start of its subtitle, one card holds the body. A formula's own colour reads too. A note
    // of front matter and white space still makes its card, with a word about it.
    writeFile(dir / "long-front.md",
              "---\ncover: true\npages: true\nsubtitle: " + std::string(100000, 's') + "\n---\n# Title\n\nBody.\n");
    writeFile(dir / "white.md", "# Colour\n\nA formula $\\color{#fff}{x+y}$ in white.");
    writeFile(dir / "only-front.md", "---\ncover: true\npages: true\n---\n \n\t\n");  // and white space
    r = render({"--report", "-d", (dir / "front").string(), (dir / "long-front.md").string(),
                (dir / "white.md").string(), (dir / "only-front.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto reports = reportLines(r.out);
    ASSERT_EQ(reports.size(), 4u) << r.out;
    EXPECT_EQ(reports[0]["pages"], 2);
    EXPECT_TRUE(has(r.err, "subtitle: \u201csss")) << r.err;
    EXPECT_TRUE(has(r.err, "is longer than 280 characters")) << r.err;
    EXPECT_GE(double(reports[2]["minContrast"]), 4.5);
    EXPECT_TRUE(has(r.err, "only-front.md: empty note")) << r.err;
}

// What a script asks before it renders needs no display: the version (as `norvo --version`
// says it) and the names a choice takes, one a line before a tab, each a value the option
// takes (the words themselves are the settings table's test).
TEST(RenderCommand, ListsAndTheVersionNeedNoDisplay) {
    const std::vector<std::string> noDisplay = {"DISPLAY=", "WAYLAND_DISPLAY=", "NORVO_NO_PRIVATE_DISPLAY=1"};
    const auto version = render({"--version"}, noDisplay);
    EXPECT_EQ(version.exitStatus, 0) << version.err;
    EXPECT_EQ(version.out, runProcess({NORVO_TEST_EXECUTABLE, "--version"}).out);
    for (const std::string setting : {"size", "theme", "font"}) {
        const auto listed = render({"--list-" + setting + "s"}, noDisplay);
        ASSERT_EQ(listed.exitStatus, 0) << listed.err;
        std::istringstream lines(listed.out);
        std::set<std::string> names;
        for (std::string line; std::getline(lines, line);) names.insert(line.substr(0, line.find('\t')));
        const std::vector<std::string> words = settingByKey(setting)->words();
        EXPECT_EQ(names, std::set<std::string>(words.begin(), words.end())) << setting;
        EXPECT_TRUE(setting != "size" || has(listed.out, "story\t1080x1920\n")) << listed.out;
    }
}
