#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <gtk/gtk.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <nlohmann/json.hpp>

#include "norvo/Presets.hpp"

#include "TestSupport.hpp"

using namespace norvo;
using norvo::testing::runProcess;
namespace fs = std::filesystem;

namespace {

// True when every pixel of the PNG has the same colour (a blank page, not a card).
bool isUniform(const fs::path& png) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(png.c_str(), &error);
    if (!pixbuf) {
        g_error_free(error);
        return true;
    }
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* px = gdk_pixbuf_read_pixels(pixbuf);
    bool uniform = true;
    for (int y = 0; y < h && uniform; y += 3)
        for (int x = 0; x < w && uniform; x += 3)
            uniform = std::equal(px, px + channels, px + y * stride + x * channels);
    g_object_unref(pixbuf);
    return uniform;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path());
    return out;
}

// The corpus's notes (its pictures lie beside them), in name order.
std::vector<std::string> corpusNotes() {
    std::vector<std::string> notes;
    for (const auto& e : fs::directory_iterator(NORVO_TEST_CORPUS))
        if (e.path().extension() == ".md") notes.push_back(e.path().string());
    std::sort(notes.begin(), notes.end());
    return notes;
}

int failedCards(const std::string& err) {
    int n = 0;
    for (std::size_t at = err.find("norvo render: rendering "); at != std::string::npos;
         at = err.find("norvo render: rendering ", at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(RenderCommand, WritesNamedCardsAndReportsFailures) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "one.md", "# Hello World\n\nFirst.");
    norvo::testing::writeFile(dir / "two.md", "# Hello World\n\nSame title.");
    norvo::testing::writeFile(dir / "bad.md", "# Broken \xff\xfe");
    const auto out = dir / "cards";

    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--size", "all", "-d", out.string(), (dir / "one.md").string(),
                         (dir / "two.md").string(), (dir / "missing.md").string(), (dir / "bad.md").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("missing.md"), std::string::npos);
    EXPECT_NE(r.err.find("bad.md is not UTF-8"), std::string::npos);
    for (const char* name : {"hello-world-square.png", "hello-world-square-2.png", "hello-world-landscape.png",
                             "hello-world-story-2.png"})
        EXPECT_TRUE(std::filesystem::exists(out / name)) << name;
    const auto landscape = norvo::testing::readPngHeader(norvo::testing::readFile(out / "hello-world-landscape.png"));
    EXPECT_EQ(landscape.width, 1200u);
    EXPECT_EQ(landscape.height, 630u);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8);

    // Standard input, one named file.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--theme", "ink", "-o", (dir / "mine.png").string()}, {},
                   "<!-- draft: hidden -->\n## From ==stdin==\n\nWith **words**. <!-- and a secret -->");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto mine = norvo::testing::readFile(dir / "mine.png");
    EXPECT_EQ(norvo::testing::readPngHeader(mine).width, 1080u);
    // The PNG says what the card says: its title and its plain text, uncompressed.
    const std::string bytes(mine.begin(), mine.end());
    using namespace std::string_view_literals;
    EXPECT_NE(bytes.find("iTXtTitle\0\0\0\0\0From stdin"sv), std::string::npos);
    EXPECT_NE(bytes.find("Description\0\0\0\0\0From stdin\n\nWith words."sv), std::string::npos);
    EXPECT_EQ(bytes.find("hidden"), std::string::npos);  // comments are never the card's words
    EXPECT_EQ(bytes.find("secret"), std::string::npos);

    // A note of white space still makes its card, with a word about it.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "blank.png").string()}, {}, " \n\t\n");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("standard input: empty note"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "blank.png"));

    // Other formats: named by their extension, each a picture of its kind.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--format", "jpeg", "--size", "landscape", "-d", out.string(),
                    (dir / "one.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto jpeg = norvo::testing::readFile(out / "hello-world-landscape.jpg");
    ASSERT_GE(jpeg.size(), 3u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    // Twice the density: twice the width and height.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--density", "2", "--size", "story", "-o", (dir / "2x.png").string()},
                   {}, "# Sharp");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto twice = norvo::testing::readPngHeader(norvo::testing::readFile(dir / "2x.png"));
    EXPECT_EQ(twice.width, 2160u);
    EXPECT_EQ(twice.height, 3840u);

    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--format", "gif"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("unknown format 'gif' (png, jpeg or webp)"), std::string::npos) << r.err;

    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--size", "huge"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("unknown size 'huge'"), std::string::npos);

    // Without a display (over ssh, in CI) a headless one of the run's own draws the card, and
    // goes with the run; the app itself says in a sentence what to use instead.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "headless.png").string(), (dir / "one.md").string()},
                   {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "headless.png"));
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", (dir / "one.md").string()},
                   {"DISPLAY=", "WAYLAND_DISPLAY=", "NORVO_NO_PRIVATE_DISPLAY=1"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
    r = runProcess({NORVO_TEST_EXECUTABLE}, {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("norvo render"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    r = runProcess({NORVO_TEST_EXECUTABLE, "--bogus"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("unknown option '--bogus'"), std::string::npos) << r.err;
}

// The benchmark's cold-start timeline: every phase of a one-card run marked once, in the
// order a start goes through them, on the monotonic clock.
TEST(RenderCommand, ATimelineMarksEveryPhaseOfAStartInOrder) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "note.md", "# Hello\n\nOne card.");
    const auto timeline = dir / "timeline";
    const auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-d", (dir / "out").string(), (dir / "note.md").string()},
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
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    norvo::testing::writeFile(note, "# Watched\n\nFirst.");
    const auto out = dir / "out.txt", err = dir / "err.txt";
    norvo::testing::ChildProcess watch({NORVO_TEST_EXECUTABLE, "render", "--watch", "--report", "-d", (dir / "cards").string(),
                                        note.string()},
                                       out, err);
    auto lines = [&] {
        const auto bytes = norvo::testing::readFile(out);
        return std::count(bytes.begin(), bytes.end(), '\n');
    };
    auto errors = [&] {
        const auto bytes = norvo::testing::readFile(err);
        return std::string(bytes.begin(), bytes.end());
    };
    const auto card = dir / "cards" / "watched-square.png";
    ASSERT_TRUE(norvo::testing::waitFor([&] { return lines() == 1; }, std::chrono::seconds(20))) << errors();
    const auto first = norvo::testing::readFile(card);

    // A save the way editors make them: a new file renamed over the note.
    norvo::testing::writeFile(dir / "note.md.tmp", "# A new title\n\nSecond, longer than the first one.");
    std::filesystem::rename(dir / "note.md.tmp", note);
    ASSERT_TRUE(norvo::testing::waitFor([&] { return lines() == 2; }, std::chrono::seconds(20))) << errors();
    EXPECT_NE(norvo::testing::readFile(card), first);  // same name, new card
    norvo::testing::writeFile(note, "# Watched\n\nThird.");
    ASSERT_TRUE(norvo::testing::waitFor([&] { return lines() == 3; }, std::chrono::seconds(20))) << errors();

    norvo::testing::writeFile(note, "caf\xe9");
    ASSERT_TRUE(norvo::testing::waitFor([&] { return errors().find("note.md is not UTF-8 text") != std::string::npos; },
                                        std::chrono::seconds(20)));
    norvo::testing::writeFile(note, "# Watched\n\nFixed.");
    ASSERT_TRUE(norvo::testing::waitFor([&] { return lines() == 4; }, std::chrono::seconds(20))) << errors();
    EXPECT_EQ(lines(), 4);  // the bad save rendered nothing

    // An editor that empties the file first: the good card stays. A FIFO put in its place is
    // refused without waiting on it; a removed note is named; a note back again is drawn.
    const auto good = norvo::testing::readFile(card);
    norvo::testing::writeFile(note, "");
    ASSERT_TRUE(norvo::testing::waitFor([&] { return errors().find("until it has text again") != std::string::npos; },
                                        std::chrono::seconds(20)));
    EXPECT_EQ(norvo::testing::readFile(card), good);
    std::filesystem::remove(note);
    ASSERT_EQ(mkfifo(note.c_str(), 0600), 0);
    ASSERT_TRUE(norvo::testing::waitFor([&] { return errors().find("named pipe (FIFO)") != std::string::npos; },
                                        std::chrono::seconds(20)));
    std::filesystem::remove(note);
    ASSERT_TRUE(norvo::testing::waitFor([&] { return errors().find("was removed") != std::string::npos; },
                                        std::chrono::seconds(20)));
    norvo::testing::writeFile(note, "# Watched\n\nBack again.");
    ASSERT_TRUE(norvo::testing::waitFor([&] { return lines() == 5; }, std::chrono::seconds(20))) << errors();

    ::kill(watch.pid(), SIGINT);
    EXPECT_EQ(watch.wait(), 0) << errors();
    EXPECT_FALSE(std::filesystem::exists(dir / "cards" / "watched-square-2.png"));
}

namespace {
// Whether a clipboard server started by `norvo render --copy` is still running.
bool clipboardServerRuns() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto bytes = norvo::testing::readFile(entry.path() / "cmdline");
        if (std::string(bytes.begin(), bytes.end()).find("--serve-clipboard") != std::string::npos) return true;
    }
    return false;
}
}  // namespace

// --copy returns at once; another program then reads the card and its words from the
// clipboard, and the server goes once something else is copied.
TEST(RenderCommand, CopyLeavesTheCardAndItsWordsOnTheClipboard) {
    ASSERT_TRUE(gtk_init_check());
    const auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--copy", "--size", "portrait"}, {},
                              "# Copied card\n\nWith **words**.");
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

TEST(RenderCommand, BadInputsAndTargetsGiveTheirErrorAndLeaveNothing) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    norvo::testing::writeFile(note, "# Kept as it is");
    auto render = [&](std::vector<std::string> args, const std::string& stdinText = {}) {
        args.insert(args.begin(), {NORVO_TEST_EXECUTABLE, "render"});
        return runProcess(args, {}, stdinText);
    };

    // Usage errors: exit 2 and nothing written.
    fs::create_directories(dir / "existing");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-o", (dir / "existing").string(), note.string()},
             {"-o", note.string(), note.string()},
             {"-o", (dir / "." / "note.md").string(), note.string()},
             {"-o", (dir / "x.png").string(), "-", "-"}}) {
        const auto r = render(args);
        EXPECT_EQ(r.exitStatus, 2) << args[1] << r.err;
    }
    EXPECT_EQ(norvo::testing::readText(note), "# Kept as it is");
    EXPECT_TRUE(fs::is_empty(dir / "existing"));

    // A prepared link where the temporary file goes is never written through; a card's link
    // to something that is not a card is refused.
    const auto victim = dir / "victim.txt";
    norvo::testing::writeFile(victim, "precious");
    fs::create_symlink(victim, dir / "out.png.part");
    fs::create_symlink(victim, dir / "linked.png");
    auto r = render({"-o", (dir / "out.png").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(dir / "out.png")).width, 1080u);
    EXPECT_EQ(render({"-o", (dir / "linked.png").string(), note.string()}).exitStatus, 2);
    EXPECT_EQ(norvo::testing::readText(victim), "precious");

    // A card whose name is taken by a folder fails with the reason; the others are written.
    const auto cards = dir / "cards";
    fs::create_directories(cards / "kept-as-it-is-square.png");
    norvo::testing::writeFile(dir / "other.md", "# Other");
    r = render({"-d", cards.string(), note.string(), (dir / "other.md").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("kept-as-it-is-square.png: Is a directory"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(cards).size(), 2u);  // the folder and other-square.png, no temporary file

    // A folder that cannot be made there says so; a locale that is not installed is English, quietly.
    r = render({"-d", "/proc/nothere", note.string()});
    EXPECT_NE(r.err.find("cannot make the folder /proc/nothere: /proc takes no new folders"), std::string::npos) << r.err;
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--size", "huge"}, {"LC_ALL=xx_XX.UTF-8"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err.rfind("norvo render: unknown size 'huge'", 0), 0u) << r.err;

    // Too long, endless or unreadable input: a clear error, exit 1, the rest still rendered.
    {
        std::ofstream big(dir / "big.md", std::ios::binary);
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 50; ++i) big << block;
    }
    const auto many = dir / "many";
    r = render({"-d", many.string(), (dir / "big.md").string(), "/dev/zero", (dir / "other.md").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("big.md: too long to render (over 1 MiB)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/dev/zero: it is a device, not a file"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(many), std::vector<fs::path>{many / "other-square.png"});

    for (const char* shell : {"exec \"$0\" render -o \"$1\" <&-", "exec \"$0\" render -o \"$1\" < /"}) {
        r = runProcess({"sh", "-c", shell, NORVO_TEST_EXECUTABLE, (dir / "stdin.png").string()});
        EXPECT_EQ(r.exitStatus, 1) << shell;
        EXPECT_NE(r.err.find("standard input: "), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "stdin.png")) << shell;
    }

    // A title of heavy characters still gets a name the file system takes.
    std::string heavy = "# ";
    for (int i = 0; i < 50; ++i) heavy += "a\u0301\u0302\u0303\u0304\u0305\u0306\u0307";
    const auto named = dir / "named";
    r = render({"-d", named.string()}, heavy);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(filesIn(named).size(), 1u);
    EXPECT_LE(filesIn(named)[0].filename().string().size(), 255u);
    EXPECT_EQ(filesIn(named)[0].extension(), ".png");
    // And a name of 255 bytes given with -o is used as it is.
    const std::string longest = std::string(251, 'n') + ".png";
    r = render({"-o", (dir / longest).string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / longest));
    for (const auto& f : filesIn(dir)) EXPECT_NE(f.filename().string().rfind(".norvo-", 0), 0u) << f;
}

TEST(RenderCommand, WebProcessFaultsFailOnlyTheirCard) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    std::vector<std::string> notes;
    std::string pathological;
    for (int i = 0; i < 50000; ++i) pathological += "*a";
    norvo::testing::writeFile(dir / "bad.md", pathological);
    notes.push_back((dir / "bad.md").string());
    for (int i = 1; i <= 30; ++i) {
        const auto n = dir / ("n" + std::to_string(i) + ".md");
        norvo::testing::writeFile(n, "# Note " + std::to_string(i) + "\n\nSome words for card " + std::to_string(i));
        notes.push_back(n.string());
    }
    const auto out = dir / "out";

    // The pathological note first: whether or not its page gives up on it, no other card
    // suffers, and nothing written is a blank page.
    std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "-d", out.string()};
    args.insert(args.end(), notes.begin(), notes.end());
    auto r = runProcess(args);
    const int failed = failedCards(r.err);
    EXPECT_LE(failed, 1) << r.err;
    if (failed) {
        EXPECT_NE(r.err.find("bad.md failed"), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.exitStatus, failed ? 1 : 0);
    EXPECT_EQ(filesIn(out).size(), 31u - std::size_t(failed));
    for (const auto& card : filesIn(out)) EXPECT_FALSE(isUniform(card)) << card;
    fs::remove_all(out);

    // A web process killed or stopped in the middle of a batch fails at most the card it
    // was drawing.
    const auto log = dir / "stderr.txt";
    std::vector<std::string> withoutBad;
    for (const auto& a : args)
        if (a != notes[0]) withoutBad.push_back(a);
    norvo::testing::ChildProcess render(withoutBad, dir / "stdout.txt", log);
    const pid_t child = render.pid();
    int killed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (killed < 2 && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        const auto written = fs::exists(out, ec) ? filesIn(out).size() : 0u;
        if (written >= 4 + 8 * std::size_t(killed)) {
            const auto pids = norvo::testing::descendantsNamed(child, "WebKitWebProces");
            // First a death, then a hang (a stopped process answers nothing until the watchdog).
            if (!pids.empty() && kill(pids.front(), killed == 0 ? SIGKILL : SIGSTOP) == 0) ++killed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int status = render.wait();
    EXPECT_EQ(killed, 2);
    const std::string err = norvo::testing::readText(log);
    const int faulted = failedCards(err);
    EXPECT_LE(faulted, 2) << err;
    EXPECT_EQ(status, faulted ? 1 : 0) << err;
    EXPECT_EQ(filesIn(out).size() + std::size_t(faulted), 30u) << err;
    for (const auto& card : filesIn(out)) EXPECT_FALSE(isUniform(card)) << card;
}

TEST(RenderCommand, PagesAndPdf) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    std::string essay = "# A long essay\n\n";
    for (int i = 0; essay.size() < 6000; ++i)
        essay += "Paragraph " + std::to_string(i) + " says a few calm words about cards and the people who read them.\n\n";
    norvo::testing::writeFile(dir / "essay.md", essay);
    norvo::testing::writeFile(dir / "short.md", "# Short\n\nOne card.");
    const auto out = dir / "out";

    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--pages", "--pdf", "--report", "-d", out.string(),
                         (dir / "essay.md").string(), (dir / "short.md").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::size_t pages = 0;
    while (fs::exists(out / ("a-long-essay-square-" + std::to_string(pages + 1) + ".png"))) ++pages;
    ASSERT_GE(pages, 2u);
    EXPECT_TRUE(fs::exists(out / "short-square.png"));  // one card keeps the plain name
    EXPECT_FALSE(fs::exists(out / "short-square-1.png"));
    // One report line per card, each telling its page.
    std::istringstream lines(r.out);
    std::size_t reported = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find("a-long-essay-square-") != std::string::npos) {
            ++reported;
            EXPECT_NE(line.find("\"pages\":" + std::to_string(pages)), std::string::npos) << line;
        }
    EXPECT_EQ(reported, pages);

    // The PDF: a page per card, each the card's aspect at 0.75 pt per pixel, titled by the note.
    const auto pdf = out / "a-long-essay-square.pdf";
    EXPECT_EQ(norvo::testing::pdfInfo(pdf, "Pages"), std::to_string(pages));
    EXPECT_EQ(norvo::testing::pdfInfo(pdf, "Page size").substr(0, 13), "810 x 810 pts");
    EXPECT_EQ(norvo::testing::pdfInfo(pdf, "Title"), "A long essay");
    EXPECT_TRUE(fs::exists(out / "short-square.pdf"));
}

TEST(RenderCommand, SetsNeverShareNamesAndEveryReportLineIsJson) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    std::string longNote = "# Same title\n\n";
    for (int i = 0; longNote.size() < 5000; ++i)
        longNote += "Paragraph " + std::to_string(i) + " goes on about cards and the people who read them.\n\n";
    norvo::testing::writeFile(dir / "long.md", longNote);
    norvo::testing::writeFile(dir / "short.md", "# Same title\n\nShort.");
    norvo::testing::writeFile(dir / "nul.md", std::string("# Nul\n\na\0b", 10));
    const auto out = dir / "out";
    const auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--pages", "--pdf", "--size", "all", "--report", "-d",
                               out.string(), (dir / "long.md").string(), (dir / "short.md").string(),
                               (dir / "nul.md").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("nul.md contains a NUL byte at offset 8"), std::string::npos) << r.err;
    std::set<std::string> named;
    std::size_t lines = 0, pdfs = 0;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line); ++lines) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(j.is_object()) << line;
        const std::string file = j.contains("pdf") ? j["pdf"] : j["file"];
        pdfs += j.contains("pdf");
        EXPECT_TRUE(named.insert(file).second) << "named twice: " << file;
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    EXPECT_EQ(pdfs, 8u);  // two notes, four sizes
    EXPECT_GT(lines, 16u);  // the long note takes several cards
    EXPECT_EQ(filesIn(out).size(), lines);  // nothing overwritten, nothing extra

    // A set that fails part-way leaves nothing of itself: card 3's name is taken by a folder.
    const auto broken = dir / "broken";
    fs::create_directories(broken / "same-title-square-3.png");
    const auto failed = runProcess({NORVO_TEST_EXECUTABLE, "render", "--pages", "--pdf", "-d", broken.string(),
                                    (dir / "long.md").string()});
    EXPECT_EQ(failed.exitStatus, 1) << failed.err;
    EXPECT_NE(failed.err.find("same-title-square-3.png: Is a directory"), std::string::npos) << failed.err;
    EXPECT_EQ(filesIn(broken), std::vector<fs::path>{broken / "same-title-square-3.png"});
    EXPECT_EQ(failed.out, "");
}

TEST(RenderCommand, OutputFolderStaleFilesAndSignals) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "note.md", "# Note");

    // A folder that cannot be made says why, before anything is rendered.
    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-d", "/sys/norvo/cards", (dir / "note.md").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("cannot make the folder /sys/norvo/cards: Operation not permitted"), std::string::npos) << r.err;

    // Temporary files of runs that died are removed when a minute old; nothing else is.
    const auto out = dir / "out";
    fs::create_directories(out);
    for (const char* name : {".norvo-Ab3dE9", ".norvo-fresh1", ".norvo-longer-name", "mine.txt"})
        norvo::testing::writeFile(out / name, "x");
    for (const char* name : {".norvo-Ab3dE9", ".norvo-longer-name", "mine.txt"})
        fs::last_write_time(out / name, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-d", out.string(), (dir / "note.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(fs::exists(out / ".norvo-Ab3dE9"));
    for (const char* name : {".norvo-fresh1", ".norvo-longer-name", "mine.txt", "note-square.png"})
        EXPECT_TRUE(fs::exists(out / name)) << name;

    // Names that are not text are printed so that a reader can find the files.
    const std::string odd = (dir / "line\nbreak\xff").string();
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-d", odd, (dir / "note.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("line\\x0abreak\\xff/note-square.png  1080x1080\n"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--report", "-d", odd, (dir / "note.md").string()});
    EXPECT_EQ(nlohmann::json::parse(r.out)["file"], dir.string() + "/line\\x0abreak\\xff/note-square.png") << r.out;

    // SIGTERM and SIGINT in the middle of a batch: what was written is whole and named, the
    // rest is not started, and the exit status tells the signal.
    std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--size", "all", "-d", (dir / "batch").string()};
    for (int i = 0; i < 40; ++i) {
        norvo::testing::writeFile(dir / ("n" + std::to_string(i) + ".md"), "# Note " + std::to_string(i));
        args.push_back((dir / ("n" + std::to_string(i) + ".md")).string());
    }
    for (const int signal : {SIGTERM, SIGINT}) {
        fs::remove_all(dir / "batch");
        norvo::testing::ChildProcess render(args, dir / "stdout.txt", dir / "stderr.txt");
        ASSERT_TRUE(norvo::testing::waitFor([&] {
            std::error_code ec;
            return fs::exists(dir / "batch", ec) && filesIn(dir / "batch").size() >= 4;
        }, std::chrono::seconds(60)));
        kill(render.pid(), signal);
        const int status = render.wait();
        const std::string err = norvo::testing::readText(dir / "stderr.txt");
        EXPECT_EQ(status, 128 + signal) << err;
        EXPECT_NE(err.find(signal == SIGINT ? "interrupted;" : "terminated;"), std::string::npos) << err;
        const auto written = filesIn(dir / "batch");
        EXPECT_LT(written.size(), 160u);
        const std::string named = norvo::testing::readText(dir / "stdout.txt");
        for (const auto& f : written) {
            EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(f)).width > 0, true) << f;
            EXPECT_NE(named.find(f.filename().string()), std::string::npos) << f;
        }
        EXPECT_EQ(std::size_t(std::count(named.begin(), named.end(), '\n')), written.size());
    }
}

// Notes up to the 1 MiB limit that are hard to lay out: each is drawn in time, cut with the
// cue; a 5,000-row table becomes the usual 20 cards.
TEST(RenderCommand, TheLargestNotesRenderInTime) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    const std::size_t limit = 1024 * 1024 - 64;
    std::string code = "```\n", table = "| # | Name | Value |\n|---|---|---|\n", emphasis;
    for (int i = 0; code.size() < limit - 64; ++i) code += "line " + std::to_string(i) + " = value(" + std::to_string(i) + ")\n";
    code += "```\n";
    for (int i = 0; table.size() < limit - 64; ++i)
        table += "| " + std::to_string(i) + " | item " + std::to_string(i) + " | " + std::to_string(i * 3) + " |\n";
    while (emphasis.size() < limit) emphasis += "*a";
    const std::pair<const char*, const std::string*> notes[] = {{"code.md", &code}, {"table.md", &table}, {"emphasis.md", &emphasis}};
    std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--report", "-d", (dir / "out").string()};
    for (const auto& [name, text] : notes) {
        norvo::testing::writeFile(dir / name, *text);
        args.push_back((dir / name).string());
    }
    auto r = runProcess(args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::istringstream lines(r.out);
    int cards = 0;
    for (std::string line; std::getline(lines, line); ++cards) EXPECT_TRUE(nlohmann::json::parse(line)["cut"]) << line;
    EXPECT_EQ(cards, 3);

    std::string rows = "| # | Name | Value |\n|---|---|---|\n";
    for (int i = 0; i < 5000; ++i) rows += "| " + std::to_string(i) + " | item | " + std::to_string(i * 7) + " |\n";
    norvo::testing::writeFile(dir / "rows.md", rows);
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--pages", "--report", "-d", (dir / "sets").string(),
                    (dir / "rows.md").string(), (dir / "emphasis.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::vector<nlohmann::json> reports;
    std::istringstream setLines(r.out);
    for (std::string line; std::getline(setLines, line);) reports.push_back(nlohmann::json::parse(line));
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
    for (int i = 0; paragraph.size() < limit - 16; ++i) paragraph += "$a_{" + std::to_string(i) + "}$ ";
    norvo::testing::writeFile(dir / "formulas.md", formulas);
    norvo::testing::writeFile(dir / "paragraph.md", paragraph);
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--pages", "-d", (dir / "formulas").string(),
                    (dir / "formulas.md").string(), (dir / "paragraph.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    // (Of a megabyte paragraph the page lays out a bounded part: most of a set.)
    for (const char* set : {"formulas-square-", "one-paragraph-square-"}) {
        const auto files = filesIn(dir / "formulas");
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
    norvo::testing::TempFolder tmp;
    const std::vector<std::string> notes = corpusNotes();
    std::size_t cards = 0;
    for (const char* scale : {"0.7", "1.0", "1.3", "1.6", "1.8"}) {
        for (const bool pages : {false, true}) {
            const auto out = tmp.path() / (std::string(scale) + (pages ? "-pages" : ""));
            std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--size", "all", "--font", GetParam(),
                                          "--scale", scale, "--report", "-d", out.string()};
            if (pages) args.push_back("--pages");
            args.insert(args.end(), notes.begin(), notes.end());
            const auto r = runProcess(args);
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

// The corpus at odd shapes and as long pictures: every card exactly its size (a long one from
// a square to the cap), nothing across the edge, every text readable, a long picture never
// below its reading size.
TEST(CrashSweepOddShapes, TheCorpusKeepsItsPromisesAtAnyShape) {
    norvo::testing::TempFolder tmp;
    const std::vector<std::string> notes = corpusNotes();
    for (const char* size : {"1080x1440", "1600x900", "800x2000", "2000x500", "long"}) {
        std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--size", size, "--report",
                                      "-d", (tmp.path() / size).string()};
        args.insert(args.end(), notes.begin(), notes.end());
        const auto r = runProcess(args);
        EXPECT_EQ(r.exitStatus, 0) << size << "\n" << r.err;
        const auto shape = *norvo::Presets::parse(size);
        std::istringstream lines(r.out);
        std::size_t cards = 0;
        for (std::string line; std::getline(lines, line); ++cards) {
            const auto report = nlohmann::json::parse(line);
            const std::string what = std::string(size) + " " + std::string(report["file"]);
            EXPECT_EQ(report["width"], shape.width) << what;
            if (shape.grows) {
                EXPECT_GE(report["height"], shape.width) << what;
                EXPECT_LE(report["height"], norvo::Presets::kLongCap) << what;
            } else {
                EXPECT_EQ(report["height"], shape.height) << what;
            }
            EXPECT_FALSE(report["overflowX"]) << what;
            EXPECT_GE(double(report["minContrast"]), 4.5) << what;
        }
        EXPECT_EQ(cards, notes.size()) << size;
    }
}

namespace {

std::vector<nlohmann::json> reportLines(const std::string& out) {
    std::vector<nlohmann::json> reports;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) reports.push_back(nlohmann::json::parse(line));
    return reports;
}

// A card's note: its file name without the size (and a set's card number).
std::string noteOf(const std::string& file, const std::string& size) {
    const std::string name = fs::path(file).filename().string();
    return name.substr(0, name.rfind("-" + size));
}

}  // namespace

// The corpus's sets, drawn on a quiet machine and again with every core kept busy, are the
// same files to the byte.
TEST(CrashSweepSets, TheCorpusSetsAreTheSameHoweverBusyTheMachine) {
    norvo::testing::TempFolder tmp;
    const auto notes = corpusNotes();
    auto draw = [&](const std::string& folder, const char* size) {
        std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--pages", "--size", size, "-d",
                                      (tmp.path() / folder).string()};
        args.insert(args.end(), notes.begin(), notes.end());
        const auto r = runProcess(args);
        EXPECT_EQ(r.exitStatus, 0) << folder << "\n" << r.err;
    };
    for (const char* size : {"square", "landscape"}) draw(std::string("quiet-") + size, size);
    {
        norvo::testing::BusyCores cores;
        for (const char* size : {"square", "landscape"}) draw(std::string("busy-") + size, size);
    }
    for (const char* size : {"square", "landscape"}) {
        const auto quiet = tmp.path() / (std::string("quiet-") + size), busy = tmp.path() / (std::string("busy-") + size);
        std::size_t files = 0;
        for (const auto& e : fs::directory_iterator(quiet)) {
            ++files;
            const auto other = busy / e.path().filename();
            ASSERT_TRUE(fs::exists(other)) << other;
            EXPECT_TRUE(norvo::testing::readFile(e.path()) == norvo::testing::readFile(other)) << e.path().filename();
        }
        EXPECT_EQ(files, std::size_t(std::distance(fs::directory_iterator(busy), fs::directory_iterator()))) << size;
        EXPECT_GT(files, notes.size()) << size;
    }
}

// A note that fits a square card is never cut or blank on a wide or odd shape, as a card or a
// set, and every card of a set on a photo style keeps its text at 4.5:1.
TEST(CrashSweepSets, WhatFitsASquareFitsEveryShapeAndEveryCardStaysReadable) {
    norvo::testing::TempFolder tmp;
    const auto notes = corpusNotes();
    auto draw = [&](const std::string& size, std::vector<std::string> extra) {
        std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--report", "--size", size, "-d",
                                      (tmp.path() / (size + std::to_string(extra.size()))).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), notes.begin(), notes.end());
        const auto r = runProcess(args);
        EXPECT_EQ(r.exitStatus, 0) << size << "\n" << r.err;
        return reportLines(r.out);
    };
    std::set<std::string> fitsSquare;
    for (const auto& report : draw("square", {}))
        if (!report["cut"]) fitsSquare.insert(noteOf(report["file"], "square"));
    EXPECT_GT(fitsSquare.size(), notes.size() / 2);
    // (A narrower card than the square may show a wide table's columns only in part.)
    for (const char* size : {"landscape", "1600x900", "2000x500", "1080x1440", "long"}) {
        for (const auto& extra : std::vector<std::vector<std::string>>{{}, {"--style", "Dusk"}, {"--pages", "--style", "Dusk"}}) {
            if (extra.size() == 3 && std::string(size) == "long") continue;  // a long picture is one card
            for (const auto& report : draw(size, extra)) {
                const std::string file = report["file"];
                const std::string what = std::string(size) + " " + std::to_string(extra.size()) + " " + file;
                if (fitsSquare.count(noteOf(file, size))) {
                    EXPECT_FALSE(report["cut"]) << what;
                    EXPECT_FALSE(isUniform(file)) << what;
                }
                EXPECT_GE(double(report["minContrast"]), 4.5) << what;
            }
        }
    }
}

TEST(RenderCommand, PicturesBesideTheNoteAndWhyOthersAreNotShown) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    fs::create_directories(dir / "notes");
    fs::create_directories(dir / "shared");
    fs::create_directories(dir / "private");
    auto solidPng = [](const fs::path& file, guint32 rgba) {
        GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 400, 300);
        gdk_pixbuf_fill(p, rgba);
        ASSERT_TRUE(gdk_pixbuf_save(p, file.c_str(), "png", nullptr, nullptr));
        g_object_unref(p);
    };
    solidPng(dir / "notes" / "red.png", 0xe02020ff);
    solidPng(dir / "shared" / "green.png", 0x20c040ff);
    solidPng(dir / "private" / "secret.png", 0x2020e0ff);
    fs::create_symlink(dir / "private" / "secret.png", dir / "notes" / "link.png");
    norvo::testing::writeFile(dir / "notes" / "fake.png", "text, not a picture");
    norvo::testing::writeFile(dir / "notes" / "trip.md",
                              "# Trip\n\n![Red](red.png)\n\n![Green](green.png)\n\n![Link](link.png)\n\n"
                              "![Up](../private/secret.png)\n\n![Abs](" + (dir / "private" / "secret.png").string() +
                                  ")\n\n![Fake](fake.png)\n\n![Web](https://example.invalid/a.png)\n");
    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--report", "--images", (dir / "shared").string(), "-o",
                         (dir / "trip.png").string(), (dir / "notes" / "trip.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;  // pictures not shown are warnings, not failures
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_FALSE(report["overflowX"]);
    // The report names what the card was drawn without, and why.
    std::set<std::string> leftOut;
    for (const auto& refused : report.value("leftOut", nlohmann::json::array())) {
        EXPECT_FALSE(std::string(refused["reason"]).empty()) << refused.dump();
        leftOut.insert(refused["target"]);
    }
    EXPECT_EQ(leftOut.size(), 5u) << r.out;
    EXPECT_TRUE(leftOut.count("fake.png")) << r.out;
    for (const char* name : {"link.png", "../private/secret.png", "secret.png\u201d", "fake.png", "https://example.invalid/a.png"})
        EXPECT_NE(r.err.find(name), std::string::npos) << name << "\n" << r.err;
    EXPECT_NE(r.err.find("trip.md: picture \u201clink.png\u201d not shown: it lies outside the note's folder"), std::string::npos);
    EXPECT_EQ(r.err.find("red.png"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("green.png"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 5) << r.err;

    // The shown pictures are on the card, the refused one nowhere.
    GdkPixbuf* card = gdk_pixbuf_new_from_file((dir / "trip.png").c_str(), nullptr);
    ASSERT_TRUE(card);
    std::map<std::string, int> seen;
    const int stride = gdk_pixbuf_get_rowstride(card), channels = gdk_pixbuf_get_n_channels(card);
    const guchar* px = gdk_pixbuf_read_pixels(card);
    for (int y = 0; y < gdk_pixbuf_get_height(card); y += 4)
        for (int x = 0; x < gdk_pixbuf_get_width(card); x += 4) {
            const guchar* p = px + y * stride + x * channels;
            if (p[0] == 0xe0 && p[1] == 0x20 && p[2] == 0x20) ++seen["red"];
            if (p[0] == 0x20 && p[1] == 0xc0 && p[2] == 0x40) ++seen["green"];
            if (p[0] == 0x20 && p[1] == 0x20 && p[2] == 0xe0) ++seen["secret"];
        }
    g_object_unref(card);
    EXPECT_GT(seen["red"], 100);
    EXPECT_GT(seen["green"], 100);
    EXPECT_EQ(seen["secret"], 0);

    // --images must name a folder.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--images", (dir / "nothere").string(), "-o",
                    (dir / "x.png").string(), (dir / "notes" / "trip.md").string()});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

TEST(RenderCommand, StylesAndFrontMatterSetEachNotesLook) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "dark.json", R"({"background": {"color": "#0f2a2e"}, "signature": {"name": "Ada"}})");
    norvo::testing::writeFile(dir / "broken.json", R"({"accent": "teal"})");
    // Front matter outranks the options for its note only; a wrong value is named and left out.
    norvo::testing::writeFile(dir / "own.md", "---\nsize: story\ntheme: ink\nscale: 9\n---\n# Own look\n\nText.");
    norvo::testing::writeFile(dir / "plain.md", "# Plain look\n\nText.");
    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--report", "--style", (dir / "dark.json").string(), "-d",
                         (dir / "out").string(), (dir / "own.md").string(), (dir / "plain.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("own.md: scale: \u201c9\u201d is not a number from 0.5 to 3; the default is used"), std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "own-look-story.png"));
    EXPECT_TRUE(fs::exists(dir / "out" / "plain-look-square.png"));
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) EXPECT_GE(nlohmann::json::parse(line)["minContrast"].get<double>(), 4.5) << line;
    // The style's dark background is on both cards.
    GdkPixbuf* card = gdk_pixbuf_new_from_file((dir / "out" / "plain-look-square.png").c_str(), nullptr);
    ASSERT_TRUE(card);
    const guchar* corner = gdk_pixbuf_read_pixels(card);
    EXPECT_LT(std::abs(corner[0] - 0x0f) + std::abs(corner[1] - 0x2a) + std::abs(corner[2] - 0x2e), 12);
    g_object_unref(card);

    // A broken style says which file and key, and the cards are drawn in the theme.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--style", (dir / "broken.json").string(), "-o",
                    (dir / "theme.png").string(), (dir / "plain.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("broken.json: \"accent\" \"teal\" is not a colour"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "theme.png"));

    // Front matter longer than the page lays out is never drawn as the note: the cover shows the
    // start of its subtitle, one card holds the body. A formula's own colour reads too.
    norvo::testing::writeFile(dir / "long-front.md", "---\ncover: true\npages: true\nsubtitle: " +
                                                         std::string(100000, 's') + "\n---\n# Title\n\nBody.\n");
    norvo::testing::writeFile(dir / "white.md", "# Colour\n\nA formula $\\color{#fff}{x+y}$ in white.");
    norvo::testing::writeFile(dir / "only-front.md", "---\ncover: true\npages: true\n---\n");
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--report", "-d", (dir / "front").string(),
                    (dir / "long-front.md").string(), (dir / "white.md").string(), (dir / "only-front.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::vector<nlohmann::json> reports;
    std::istringstream reportLines(r.out);
    for (std::string line; std::getline(reportLines, line);) reports.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(reports.size(), 4u) << r.out;
    EXPECT_EQ(reports[0]["pages"], 2);
    EXPECT_NE(r.err.find("subtitle: \u201csss"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is longer than 280 characters"), std::string::npos) << r.err;
    EXPECT_GE(double(reports[2]["minContrast"]), 4.5);
    EXPECT_NE(r.err.find("only-front.md: empty note"), std::string::npos) << r.err;
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--cover", "-d", (dir / "front").string(), (dir / "plain.md").string()});
    EXPECT_NE(r.err.find("a cover opens a set of cards"), std::string::npos) << r.err;
}

// Whatever a user or a note names: a FIFO is never waited on, a device or FIFO given as the
// output is written into and never replaced, a note never reaches a style file of its own
// choosing, fonts that cannot be used are left out, and a picture's header decides before
// any decoder allocates.
TEST(RenderCommand, NothingNamedBlocksIsClobberedOrReachedByANote) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    norvo::testing::writeFile(note, "# Named things\n\nA short note.");
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.ttf").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "face.png").c_str(), 0600), 0);
    norvo::testing::writeFile(dir / "fifos.json", R"({"background": {"image": "pipe.png"},
        "fonts": {"body": "pipe.ttf"}, "signature": {"name": "Ada", "avatar": "face.png"}})");
    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--style", (dir / "fifos.json").string(), "-o",
                         (dir / "fifos.png").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
    EXPECT_NE(r.err.find("the style's background: it is a named pipe (FIFO)"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "fifos.png"));
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "x.png").string(), (dir / "pipe.png").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("it is a named pipe (FIFO), not a file"), std::string::npos) << r.err;

    // The output is a FIFO a program reads from: the card goes into it, and the FIFO stays.
    ASSERT_EQ(mkfifo((dir / "out.fifo").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(dir / "out.fifo", std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), {});
    });
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "out.fifo").string(), note.string()});
    reader.join();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::is_fifo(dir / "out.fifo"));
    EXPECT_EQ(received.substr(1, 3), "PNG");
    // Nobody reads it: refused at once, still a FIFO.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "out.fifo").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(fs::is_fifo(dir / "out.fifo"));

    // The file's ending decides its format; a mismatch or a set for one file is a usage error.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "card.jpg").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(norvo::testing::readFile(dir / "card.jpg").at(0), 0xFF);
    for (const auto& args : std::vector<std::vector<std::string>>{{"--format", "webp", "-o", (dir / "card.png").string()},
                                                                   {"--pages", "-o", (dir / "card.png").string()}}) {
        std::vector<std::string> all{NORVO_TEST_EXECUTABLE, "render"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(note.string());
        EXPECT_EQ(runProcess(all).exitStatus, 2) << args[0];
    }
    norvo::testing::writeFile(dir / "paged.md", "---\npages: true\n---\n# Paged\n\n" + std::string(20000, 'w'));
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "one.png").string(), (dir / "paged.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "one.png"));
    EXPECT_FALSE(fs::exists(dir / "one-1.png"));

    // A note's front matter names saved styles only, never a file beside it.
    norvo::testing::writeFile(dir / "evil.json", R"({"background": {"image": "/etc/passwd"}})");
    norvo::testing::writeFile(dir / "evil.md", "---\nstyle: evil.json\n---\n# Evil");
    r = runProcess({"/bin/sh", "-c", "cd '" + dir.string() + "' && exec '" + NORVO_TEST_EXECUTABLE +
                                         "' render -o evil.png evil.md"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("is not the name of a saved style"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("passwd"), std::string::npos) << r.err;

    // Fonts: the same good file for two roles works; a damaged one is left out with a reason.
    fs::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", dir / "good.ttf");
    std::string damaged = norvo::testing::readText(dir / "good.ttf");
    for (std::size_t i = 1024; i < damaged.size(); i += 50) damaged[i] = char(damaged[i] ^ 0x5a);
    norvo::testing::writeFile(dir / "bad.ttf", damaged);
    norvo::testing::writeFile(dir / "fonts.json", R"({"fonts": {"body": "good.ttf", "heading": "good.ttf", "code": "bad.ttf"}})");
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--style", (dir / "fonts.json").string(), "-o",
                    (dir / "fonts.png").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("font \u201c" + (dir / "bad.ttf").string() + "\u201d not used: the style's code font: it is damaged"),
              std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("body font"), std::string::npos) << r.err;

    // Six names of one 49-megapixel picture: decoded once, four fit the card's budget.
    {
        GdkPixbuf* big = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 7000, 7000);
        gdk_pixbuf_fill(big, 0x336699ff);
        ASSERT_TRUE(gdk_pixbuf_save(big, (dir / "big.png").c_str(), "png", nullptr, nullptr));
        g_object_unref(big);
    }
    std::string linked = "# Linked\n\n";
    for (int i = 0; i < 6; ++i) {
        if (i > 0) fs::create_hard_link(dir / "big.png", dir / ("big" + std::to_string(i) + ".png"));
        linked += "![](" + std::string(i > 0 ? "big" + std::to_string(i) : "big") + ".png)\n\n";
    }
    norvo::testing::writeFile(dir / "linked.md", linked);
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "linked.png").string(), (dir / "linked.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("more than 200 megapixels"), std::string::npos) << r.err;

    // The clipboard server takes only a folder norvo render made, and never removes another.
    fs::create_directories(dir / "victim" / "sub");
    norvo::testing::writeFile(dir / "victim" / "sub" / "kept.txt", "kept");
    r = runProcess({NORVO_TEST_EXECUTABLE, "--serve-clipboard", (dir / "victim").string()});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(norvo::testing::readText(dir / "victim" / "sub" / "kept.txt"), "kept");
}

// One process answers request after request, each before the next is sent (as a script or
// an agent would use it); bad requests are answered with their error and the stream goes on.
TEST(RenderCommand, AStreamAnswersEachRequestInTurn) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "note.md", "# From a file\n\nIts words.");
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[1]);
        close(out[0]);
        execl(NORVO_TEST_EXECUTABLE, NORVO_TEST_EXECUTABLE, "render", "--stream", "-d", (dir / "cards").c_str(), nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FILE* answers = fdopen(out[0], "r");
    auto ask = [&](const std::string& request) {
        const std::string line = request + "\n";
        EXPECT_EQ(write(in[1], line.data(), line.size()), ssize_t(line.size()));
        char buffer[1 << 16];
        return nlohmann::json::parse(fgets(buffer, sizeof buffer, answers) ? buffer : "null");
    };
    auto card = ask(R"({"id": "first", "markdown": "# Hello\n\nA card.", "size": "landscape"})");
    EXPECT_EQ(card["id"], "first");
    EXPECT_EQ(card["width"], 1200);
    EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(card["file"].get<std::string>())).height, 630u);
    auto bad = ask(R"({"markdown": "x", "theme": "neon"})");
    EXPECT_EQ(bad["id"], 2);
    EXPECT_NE(bad["error"].get<std::string>().find("neon"), std::string::npos);
    EXPECT_EQ(ask("not json")["id"], 3);
    auto file = ask(R"({"file": ")" + (dir / "note.md").string() + R"(", "output": ")" + (dir / "own.jpg").string() + "\"}");
    EXPECT_EQ(file["file"], (dir / "own.jpg").string());
    EXPECT_EQ(norvo::testing::readFile(dir / "own.jpg").at(0), 0xFF);
    auto set = ask(R"({"id": 5, "markdown": "# Long\n\n)" + std::string(6000, 'w') + " end\", \"pages\": true}");
    EXPECT_GE(set["files"].size(), 2u);
    EXPECT_EQ(set["reports"].size(), set["files"].size());
    close(in[1]);  // the end of the requests ends the stream
    int status = 0;
    waitpid(child, &status, 0);
    fclose(answers);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);  // two requests failed
}

// A card never lands on a note or on a file Norvo did not write, and standard output and links
// are written through as a shell's redirection would be.
TEST(RenderCommand, ACardNeverReplacesANoteAndFollowsTheShellsWays) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    const std::string note = "# Keep me\n\nMy words.";
    for (const char* name : {"keep.md", "other.md", "README"}) norvo::testing::writeFile(dir / name, note);
    const std::string keep = (dir / "keep.md").string();
    for (const char* output : {"keep.md", "other.md", "README", "card.gif", "card.svg"}) {
        const auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / output).string(), keep});
        EXPECT_EQ(r.exitStatus, 2) << output << r.err;
    }
    for (const char* name : {"keep.md", "other.md", "README"}) EXPECT_EQ(norvo::testing::readText(dir / name), note);

    // "-" is standard output: exactly one PNG there, the line on standard error.
    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", "-", keep});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(r.out.find("1080x1080"), std::string::npos);
    EXPECT_NE(r.err.find("1080x1080"), std::string::npos);
    // A link to a descriptor writes into it (the shell's file stays, and so does the link); a
    // link to a file writes the file it names.
    fs::create_symlink("/proc/self/fd/1", dir / "to-stdout");
    r = runProcess({"/bin/sh", "-c", "exec '" + std::string(NORVO_TEST_EXECUTABLE) + "' render -o '" +
                                         (dir / "to-stdout").string() + "' '" + keep + "' > '" + (dir / "shell.png").string() + "'"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "to-stdout"));
    EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(dir / "shell.png")).width, 1080u);
    // A descriptor the shell opened is written into; one it did not is not Norvo's own to write.
    r = runProcess({"/bin/sh", "-c", "exec '" + std::string(NORVO_TEST_EXECUTABLE) + "' render -o /dev/fd/3 '" + keep +
                                         "' 3> '" + (dir / "three.png").string() + "'"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(dir / "three.png")).width, 1080u);
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", "/dev/fd/9", keep});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Bad file descriptor"), std::string::npos) << r.err;
    fs::create_directories(dir / "real");
    fs::create_symlink("real/card.png", dir / "link.png");
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-o", (dir / "link.png").string(), keep});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(dir / "real" / "card.png")).width, 1080u);

    // A name Norvo makes never writes through a link or onto a note; a PDF named after -o and a
    // descriptor onto a note are held to -o's rules; what was asked for on a closed stdout fails.
    fs::create_directories(dir / "made");
    fs::create_symlink(dir / "other.md", dir / "made" / "keep-me-square.png");
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-d", (dir / "made").string(), keep});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    norvo::testing::writeFile(dir / "made" / "named-square.png", "# Named\n");
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "-d", (dir / "made").string(), (dir / "made" / "named-square.png").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(norvo::testing::readText(dir / "made" / "named-square.png"), "# Named\n");
    fs::create_symlink(dir / "other.md", dir / "card.pdf");
    EXPECT_EQ(runProcess({NORVO_TEST_EXECUTABLE, "render", "--pdf", "-o", (dir / "card.png").string(), keep}).exitStatus, 2);
    EXPECT_EQ(runProcess({"/bin/sh", "-c", "exec '" + std::string(NORVO_TEST_EXECUTABLE) + "' render -o /dev/fd/3 '" + keep +
                                               "' 3>> '" + keep + "'"}).exitStatus, 2);
    EXPECT_EQ(runProcess({"/bin/sh", "-c", "exec '" + std::string(NORVO_TEST_EXECUTABLE) + "' render --report -o '" +
                                               (dir / "closed.png").string() + "' '" + keep + "' >&-"}).exitStatus, 1);
    for (const char* name : {"keep.md", "other.md"}) EXPECT_EQ(norvo::testing::readText(dir / name), note);

    // The stream keeps the same rules, and a second request for one file, by any name, is refused.
    fs::create_symlink(dir / "a.png", dir / "a-link.png");
    const std::string o = R"(", "output": ")";
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--stream", "-d", dir.string()}, {},
                   R"({"file": ")" + keep + o + keep + "\"}\n" + R"({"markdown": "# x)" + o + (dir / "other.md").string() + "\"}\n" +
                       R"({"markdown": "# x)" + o + (dir / "a.png").string() + "\"}\n" + R"({"markdown": "# y)" + o +
                       (dir / "a.png").string() + "\"}\n" + R"({"markdown": "# z)" + o + "/dev/stdout\"}\n" +
                       R"({"markdown": "a\u0000b"})" + "\n" + R"({"markdown": "# l)" + o + (dir / "a-link.png").string() +
                       "\"}\n" + R"({"file": "-"})" + "\n" + R"({"markdown": "# d", "id": )" + std::string(5000, '[') +
                       std::string(5000, ']') + "}\n");
    std::vector<nlohmann::json> answers;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) answers.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(answers.size(), 9u) << r.out;
    for (const std::size_t i : {0, 1, 3, 4, 5, 6, 7, 8}) EXPECT_TRUE(answers[i].contains("error")) << i << answers[i];
    EXPECT_EQ(answers[2]["file"], (dir / "a.png").string());
    EXPECT_NE(answers[5]["error"].get<std::string>().find("NUL byte at offset 1"), std::string::npos);
    for (const char* name : {"keep.md", "other.md"}) EXPECT_EQ(norvo::testing::readText(dir / name), note);
}

// Whatever comes down a stream, each request gets one answer that is JSON; the stream ends when
// either of its ends closes, and nothing of it (its display, a session bus) outlives it.
TEST(RenderCommand, AStreamAnswersOnceAndEndsWithItsEnds) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    const std::string exe = NORVO_TEST_EXECUTABLE;
    const std::string huge = R"({"markdown": ")" + std::string(20u << 20, 'a') + "\"}";
    auto r = runProcess({exe, "render", "--stream", "-d", dir.string()}, {},
                        huge + "\n" + R"({"markdown": "# after"})" + "\n" + huge.substr(0, 9u << 20));
    std::vector<nlohmann::json> answers;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) answers.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_EQ(answers.size(), 3u) << r.out.substr(0, 500);
    EXPECT_EQ(answers[0]["id"], 1);
    EXPECT_TRUE(answers[1].contains("file")) << answers[1];
    EXPECT_EQ(answers[2]["id"], 3);

    // Closed input or output: refused at once; a reader gone: the stream stops with an error.
    for (const char* closing : {"<&-", ">&-"}) {
        r = runProcess({"/bin/sh", "-c", "exec '" + exe + "' render --stream -d '" + dir.string() + "' " + closing});
        EXPECT_EQ(r.exitStatus, 1) << closing;
        EXPECT_NE(r.err.find("closed"), std::string::npos) << r.err;
    }
    const fs::path cards = dir / "gone";
    r = runProcess({"/bin/bash", "-c", "for i in $(seq 1 200); do echo '{\"markdown\": \"# card '$i'\"}'; done | '" + exe +
                                           "' render --stream -d '" + cards.string() + "' | head -n 1; echo \"${PIPESTATUS[1]}\" >&2"});
    EXPECT_NE(r.err.find("answers cannot be written"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), "1\n") << r.err;
    EXPECT_LT(std::distance(fs::directory_iterator(cards), fs::directory_iterator()), 100);

    // Killed outright on a bare machine: its own display goes with it, and no bus was started.
    fs::create_directories(dir / "home");
    ASSERT_EQ(mkfifo((dir / "requests").c_str(), 0600), 0);
    const int requests = ::open((dir / "requests").c_str(), O_RDWR | O_CLOEXEC);  // kept open: the stream waits
    norvo::testing::ChildProcess run({"/bin/sh", "-c", "exec /usr/bin/env -u DISPLAY -u WAYLAND_DISPLAY -u "
                                      "DBUS_SESSION_BUS_ADDRESS HOME='" + (dir / "home").string() + "' '" + exe +
                                      "' render --stream -d '" + dir.string() + "' < '" + (dir / "requests").string() + "'"},
                                     dir / "out.txt", dir / "err.txt");
    const std::string request = "{\"markdown\": \"# drawn\"}\n";
    ASSERT_EQ(::write(requests, request.data(), request.size()), ssize_t(request.size()));
    for (int i = 0; i < 1200 && norvo::testing::readText(dir / "out.txt").empty(); ++i)  // drawn: the display is up
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<int> displays = norvo::testing::descendantsNamed(run.pid(), "Xvfb");
    ASSERT_EQ(displays.size(), 1u) << norvo::testing::readText(dir / "err.txt");
    ::kill(run.pid(), SIGKILL);
    run.wait();
    ::close(requests);
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        std::ifstream stat("/proc/" + std::to_string(displays.front()) + "/stat");
        std::string pid, name, state;
        gone = !(stat >> pid >> name >> state) || state == "Z";
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone);
    // A run that ends leaves no session bus and none of its web pages' sandbox notes.
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    fs::create_directories(dir / "home2");
    r = runProcess({"/usr/bin/env", "-u", "DBUS_SESSION_BUS_ADDRESS", "HOME=" + (dir / "home2").string(),
                    "XDG_RUNTIME_DIR=" + (dir / "runtime").string(), exe, "render", "-o", (dir / "ended.png").string()},
                   {}, "# Ended");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir / "home" / ".dbus"));
    EXPECT_FALSE(fs::exists(dir / "home2" / ".dbus"));
    for (const fs::path& notes : {dir / "runtime" / ".flatpak", dir / "home2" / ".cache" / ".flatpak"}) {
        EXPECT_TRUE(!fs::exists(notes) || fs::is_empty(notes)) << notes;
    }
}

// Shards of one batch: together they write the batch's files under the batch's names (a
// repeated title numbered as in one run), each once, and their report lines are its report.
TEST(RenderCommand, ShardsTogetherAreOneBatch) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    std::vector<std::string> notes;
    for (int i = 1; i <= 5; ++i) {
        notes.push_back((dir / ("n" + std::to_string(i) + ".md")).string());
        norvo::testing::writeFile(notes.back(), i == 5 ? "# Other\n\nText." : "# Same\n\nNote " + std::to_string(i) + ".");
    }
    auto run = [&](std::vector<std::string> args, const fs::path& out) {
        args.insert(args.begin(), {NORVO_TEST_EXECUTABLE, "render", "--report", "-d", out.string()});
        args.insert(args.end(), notes.begin(), notes.end());
        auto r = runProcess(args);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        std::multiset<std::string> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            auto j = nlohmann::json::parse(line);
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
        EXPECT_EQ(norvo::testing::readFile(file), norvo::testing::readFile(dir / "parts" / file.filename())) << file;
}

// Sizes beyond the four: 3:4 and any width and height (from the command line or the note),
// named in the file; bad ones are usage errors naming the limits. A long picture is as tall
// as its note, from a square up to the cap, where the rest is cut with a warning.
TEST(RenderCommand, SizesBeyondTheFourAndLongPictures) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "short.md", "# Short\n\nOne line.");
    norvo::testing::writeFile(dir / "wide.md", "---\nsize: 1200x900\n---\n# Wide\n\nFrom its front matter.");
    std::string essay = "# Essay\n\n";
    for (int i = 0; i < 40; ++i) essay += "Paragraph " + std::to_string(i) + " says a few calm words about cards.\n\n";
    norvo::testing::writeFile(dir / "essay.md", essay);
    std::string huge;
    for (int i = 0; i < 12; ++i) huge += essay;
    norvo::testing::writeFile(dir / "huge.md", huge);
    auto size = [&](const std::string& file) {
        const auto header = norvo::testing::readPngHeader(norvo::testing::readFile(dir / "out" / file));
        return std::to_string(header.width) + "x" + std::to_string(header.height);
    };
    auto render = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {NORVO_TEST_EXECUTABLE, "render", "--report", "-d", (dir / "out").string()});
        return runProcess(args);
    };
    auto r = render({"--size", "tall", (dir / "short.md").string(), (dir / "wide.md").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(size("short-tall.png"), "1080x1440");
    EXPECT_EQ(size("wide-1200x900.png"), "1200x900");
    r = render({"--size", "800x2000", (dir / "short.md").string()});
    EXPECT_EQ(size("short-800x2000.png"), "800x2000");
    for (const char* bad : {"100x100", "4000x500", "huge"}) {
        r = render({"--size", bad, (dir / "short.md").string()});
        EXPECT_EQ(r.exitStatus, 2) << bad;
        EXPECT_NE(r.err.find("320 to 4096"), std::string::npos) << r.err;
    }

    r = render({"--size", "long", (dir / "short.md").string(), (dir / "essay.md").string(), (dir / "huge.md").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(size("short-long.png"), "1080x1080");  // a square holds it
    const auto essayHeader = norvo::testing::readPngHeader(norvo::testing::readFile(dir / "out" / "essay-long.png"));
    EXPECT_EQ(essayHeader.width, 1080u);
    EXPECT_GT(essayHeader.height, 2000u);
    EXPECT_LT(essayHeader.height, 16383u);
    EXPECT_EQ(size("essay-long-2.png"), "1080x16383");
    std::istringstream lines(r.out);
    std::vector<nlohmann::json> reports;
    for (std::string line; std::getline(lines, line);) reports.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1]["height"], essayHeader.height);
    EXPECT_FALSE(reports[1]["cut"]);
    EXPECT_GE(double(reports[1]["bodyPx"]), 40);
    EXPECT_TRUE(reports[2]["cut"]);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("huge.md is longer than a long picture's 16383 px"), std::string::npos) << r.err;
    // A table wider than a narrow long picture is cut at its columns, not its length.
    std::string columns = "|";
    for (int c = 0; c < 40; ++c) columns += " c" + std::to_string(c) + " |";
    norvo::testing::writeFile(dir / "columns.md", "# Columns\n\n" + columns + "\n|" + std::string(40 * 4, '-') + "|\n");
    r = render({"--size", "320xlong", (dir / "columns.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find("longer than"), std::string::npos) << r.err;
    // Every format holds the tallest one.
    for (const char* format : {"jpeg", "webp"}) {
        r = render({"--size", "long", "--format", format, (dir / "huge.md").string()});
        EXPECT_EQ(r.exitStatus, 0) << format << r.err;
    }

    // A note asking for a set in its front matter is still one long picture, and its line gives
    // the file's own size, not the cap's, in the report and the plain line alike.
    norvo::testing::writeFile(dir / "paged.md", "---\npages: true\n---\n" + essay);
    norvo::testing::writeFile(dir / "paged-short.md", "---\npages: true\n---\n# Paged short\n\nOne line.");
    for (const bool report : {true, false}) {
        std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--size", "long", "-d", (dir / "paged").string(),
                                      (dir / "paged.md").string(), (dir / "paged-short.md").string()};
        if (report) args.insert(args.begin() + 2, "--report");
        r = runProcess(args);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        std::istringstream out(r.out);
        int files = 0;
        for (std::string line; std::getline(out, line); ++files) {
            const std::string file = report ? std::string(nlohmann::json::parse(line)["file"]) : line.substr(0, line.find("  "));
            const auto header = norvo::testing::readPngHeader(norvo::testing::readFile(file));
            const std::string shown = std::to_string(header.width) + "x" + std::to_string(header.height);
            if (report) {
                const auto j = nlohmann::json::parse(line);
                EXPECT_EQ(std::to_string(int(j["width"])) + "x" + std::to_string(int(j["height"])), shown) << line;
            } else {
                EXPECT_EQ(line.substr(line.rfind(' ') + 1), shown) << line;
            }
            EXPECT_LT(header.height, 16383u) << line;
        }
        EXPECT_EQ(files, 2) << r.out;
        fs::remove_all(dir / "paged");
    }
}
