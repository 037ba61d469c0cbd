// What norvo render never does: write over a note or through a link, wait on a FIFO, leave
// half-written files, or let one card's fault fail the others.
#include "RenderCommandSupport.hpp"

using namespace norvo;
using namespace norvo::cli_testing;

TEST(RenderCommand, BadInputsAndTargetsGiveTheirErrorAndLeaveNothing) {
    TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    writeFile(note, "# Kept as it is");

    // Usage errors: exit 2 and nothing written.
    fs::create_directories(dir / "existing");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-o", (dir / "existing").string(), note.string()},
             {"-o", note.string(), note.string()},
             {"-o", (dir / "." / "note.md").string(), note.string()}}) {
        const auto r = render(args);
        EXPECT_EQ(r.exitStatus, 2) << args[1] << r.err;
    }
    EXPECT_EQ(readText(note), "# Kept as it is");
    EXPECT_TRUE(fs::is_empty(dir / "existing"));

    // A prepared link where the temporary file goes is never written through; a card's link
    // to something that is not a card is refused.
    const auto victim = dir / "victim.txt";
    writeFile(victim, "precious");
    fs::create_symlink(victim, dir / "out.png.part");
    fs::create_symlink(victim, dir / "linked.png");
    auto r = render({"-o", (dir / "out.png").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(pngSize(dir / "out.png"), "1080x1080");
    EXPECT_EQ(render({"-o", (dir / "linked.png").string(), note.string()}).exitStatus, 2);
    EXPECT_EQ(readText(victim), "precious");

    // A card whose name is taken by a folder fails with the reason; the others are written.
    const auto cards = dir / "cards";
    fs::create_directories(cards / "kept-as-it-is-square.png");
    writeFile(dir / "other.md", "# Other");
    r = render({"-d", cards.string(), note.string(), (dir / "other.md").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "kept-as-it-is-square.png: Is a directory")) << r.err;
    EXPECT_EQ(filesIn(cards).size(), 2u);  // the folder and other-square.png, no temporary file

    // A folder that cannot be made there says so; a locale that is not installed is English, quietly.
    r = render({"-d", "/proc/nothere", note.string()});
    EXPECT_TRUE(has(r.err, "cannot make the folder /proc/nothere: /proc takes no new folders")) << r.err;
    r = render({"--size", "huge"}, {"LC_ALL=xx_XX.UTF-8"});
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
    EXPECT_TRUE(has(r.err, "big.md: too long to render (over 1 MiB)")) << r.err;
    EXPECT_TRUE(has(r.err, "/dev/zero: it is a device, not a file")) << r.err;
    EXPECT_EQ(filesIn(many), std::vector<fs::path>{many / "other-square.png"});

    for (const char* shell : {"exec \"$0\" render -o \"$1\" <&-", "exec \"$0\" render -o \"$1\" < /"}) {
        r = runProcess({"sh", "-c", shell, NORVO_TEST_EXECUTABLE, (dir / "stdin.png").string()});
        EXPECT_EQ(r.exitStatus, 1) << shell;
        EXPECT_TRUE(has(r.err, "standard input: ")) << r.err;
        EXPECT_FALSE(fs::exists(dir / "stdin.png")) << shell;
    }

    // A name of 255 bytes given with -o is used as it is. (A name made from a title is kept
    // under that by Card::fileName and OutputNames: CardSlug's and RenderOptions' tests.)
    const std::string longest = std::string(251, 'n') + ".png";
    r = render({"-o", (dir / longest).string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / longest));
    for (const auto& f : filesIn(dir)) EXPECT_NE(f.filename().string().rfind(".norvo-", 0), 0u) << f;
}

// A card never lands on a note or on a file Norvo did not write, and standard output and links
// are written through as a shell's redirection would be.
TEST(RenderCommand, ACardNeverReplacesANoteAndFollowsTheShellsWays) {
    TempFolder tmp;
    const auto dir = tmp.path();
    const std::string note = "# Keep me\n\nMy words.";
    for (const char* name : {"keep.md", "other.md", "README"}) writeFile(dir / name, note);
    const std::string keep = (dir / "keep.md").string();
    // The rest of the command line after "exec norvo render", run by a shell.
    auto shell = [](const std::string& rest) {
        return runProcess({"/bin/sh", "-c", "exec '" + std::string(NORVO_TEST_EXECUTABLE) + "' render " + rest});
    };
    for (const char* output : {"keep.md", "other.md", "README", "card.gif", "card.svg"})
        EXPECT_EQ(render({"-o", (dir / output).string(), keep}).exitStatus, 2) << output;
    for (const char* name : {"keep.md", "other.md", "README"}) EXPECT_EQ(readText(dir / name), note);

    // "-" is standard output: exactly one PNG there, the line on standard error.
    auto r = render({"-o", "-", keep});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_FALSE(has(r.out, "1080x1080"));
    EXPECT_TRUE(has(r.err, "1080x1080"));
    // A link to a descriptor writes into it (the shell's file stays, and so does the link); a
    // link to a file writes the file it names.
    fs::create_symlink("/proc/self/fd/1", dir / "to-stdout");
    r = shell("-o '" + (dir / "to-stdout").string() + "' '" + keep + "' > '" + (dir / "shell.png").string() + "'");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "to-stdout"));
    EXPECT_EQ(pngSize(dir / "shell.png"), "1080x1080");
    // A descriptor the shell opened is written into; one it did not is not Norvo's own to write.
    r = shell("-o /dev/fd/3 '" + keep + "' 3> '" + (dir / "three.png").string() + "'");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(pngSize(dir / "three.png"), "1080x1080");
    r = render({"-o", "/dev/fd/9", keep});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "Bad file descriptor")) << r.err;
    fs::create_directories(dir / "real");
    fs::create_symlink("real/card.png", dir / "link.png");
    r = render({"-o", (dir / "link.png").string(), keep});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(pngSize(dir / "real" / "card.png"), "1080x1080");

    // A name Norvo makes never writes through a link or onto a note; a PDF named after -o and a
    // descriptor onto a note are held to -o's rules; what was asked for on a closed stdout fails.
    fs::create_directories(dir / "made");
    fs::create_symlink(dir / "other.md", dir / "made" / "keep-me-square.png");
    r = render({"-d", (dir / "made").string(), keep});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    writeFile(dir / "made" / "named-square.png", "# Named\n");
    r = render({"-d", (dir / "made").string(), (dir / "made" / "named-square.png").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readText(dir / "made" / "named-square.png"), "# Named\n");
    fs::create_symlink(dir / "other.md", dir / "card.pdf");
    EXPECT_EQ(render({"--pdf", "-o", (dir / "card.png").string(), keep}).exitStatus, 2);
    EXPECT_EQ(shell("-o /dev/fd/3 '" + keep + "' 3>> '" + keep + "'").exitStatus, 2);
    EXPECT_EQ(shell("--report -o '" + (dir / "closed.png").string() + "' '" + keep + "' >&-").exitStatus, 1);

    // The stream keeps the same rules, and a second request for one file, by any name, is refused.
    fs::create_symlink(dir / "a.png", dir / "a-link.png");
    const std::string o = R"(", "output": ")";
    r = render({"--stream", "-d", dir.string()}, {},
                   R"({"file": ")" + keep + o + keep + "\"}\n" + R"({"markdown": "# x)" + o + (dir / "other.md").string() + "\"}\n" +
                       R"({"markdown": "# x)" + o + (dir / "a.png").string() + "\"}\n" + R"({"markdown": "# y)" + o +
                       (dir / "a.png").string() + "\"}\n" + R"({"markdown": "# z)" + o + "/dev/stdout\"}\n" +
                       R"({"markdown": "a\u0000b"})" + "\n" + R"({"markdown": "# l)" + o + (dir / "a-link.png").string() +
                       "\"}\n" + R"({"file": "-"})" + "\n" + R"({"markdown": "# d", "id": )" + std::string(5000, '[') +
                       std::string(5000, ']') + "}\n");
    const auto answers = reportLines(r.out);
    ASSERT_EQ(answers.size(), 9u) << r.out;
    for (const std::size_t i : {0, 1, 3, 4, 5, 6, 7, 8}) EXPECT_TRUE(answers[i].contains("error")) << i << answers[i];
    EXPECT_EQ(answers[2]["file"], (dir / "a.png").string());
    EXPECT_TRUE(has(answers[5]["error"].get<std::string>(), "NUL byte at offset 1"));
    for (const char* name : {"keep.md", "other.md"}) EXPECT_EQ(readText(dir / name), note);
}

// Whatever a user or a note names: a FIFO is never waited on, and a device or FIFO given as
// the output is written into and never replaced.
TEST(RenderCommand, NothingNamedBlocksOrIsClobbered) {
    TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    writeFile(note, "# Named things\n\nA short note.");
    for (const char* fifo : {"pipe.png", "pipe.ttf", "face.png"}) ASSERT_EQ(mkfifo((dir / fifo).c_str(), 0600), 0);
    writeFile(dir / "fifos.json", R"({"background": {"image": "pipe.png"},
        "fonts": {"body": "pipe.ttf"}, "signature": {"name": "Ada", "avatar": "face.png"}})");
    auto r = render({"--style", (dir / "fifos.json").string(), "-o", (dir / "fifos.png").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(lineCount(r.err), 3) << r.err;
    EXPECT_TRUE(has(r.err, "the style's background: it is a named pipe (FIFO)")) << r.err;
    EXPECT_TRUE(fs::exists(dir / "fifos.png"));
    r = render({"-o", (dir / "x.png").string(), (dir / "pipe.png").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "it is a named pipe (FIFO), not a file")) << r.err;

    // The output is a FIFO a program reads from: the card goes into it, and the FIFO stays.
    ASSERT_EQ(mkfifo((dir / "out.fifo").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(dir / "out.fifo", std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), {});
    });
    r = render({"-o", (dir / "out.fifo").string(), note.string()});
    reader.join();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::is_fifo(dir / "out.fifo"));
    EXPECT_EQ(received.substr(1, 3), "PNG");
    // Nobody reads it: refused at once, still a FIFO.
    r = render({"-o", (dir / "out.fifo").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(fs::is_fifo(dir / "out.fifo"));
}

// A set asked for by a note still makes the one file -o names. A note never reaches a style
// file of its own choosing; fonts that cannot be used are left out; a picture's header decides
// before any decoder allocates.
TEST(RenderCommand, FormatsStylesFontsAndPicturesAreTakenOnlyAsTheyMayBe) {
    TempFolder tmp;
    const auto dir = tmp.path();
    const auto note = dir / "note.md";
    writeFile(note, "# Named things\n\nA short note.");
    writeFile(dir / "paged.md", "---\npages: true\n---\n# Paged\n\n" + std::string(20000, 'w'));
    auto r = render({"-o", (dir / "one.png").string(), (dir / "paged.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "one.png"));
    EXPECT_FALSE(fs::exists(dir / "one-1.png"));

    // A note's front matter names saved styles only, never a file beside it.
    writeFile(dir / "evil.json", R"({"background": {"image": "/etc/passwd"}})");
    writeFile(dir / "evil.md", "---\nstyle: evil.json\n---\n# Evil");
    r = runProcess({"/bin/sh", "-c",
                    "cd '" + dir.string() + "' && exec '" + NORVO_TEST_EXECUTABLE + "' render -o evil.png evil.md"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.err, "is not the name of a saved style")) << r.err;
    EXPECT_FALSE(has(r.err, "passwd")) << r.err;

    // Fonts: the same good file for two roles works; a damaged one is left out with a reason.
    fs::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", dir / "good.ttf");
    std::string damaged = readText(dir / "good.ttf");
    for (std::size_t i = 1024; i < damaged.size(); i += 50) damaged[i] = char(damaged[i] ^ 0x5a);
    writeFile(dir / "bad.ttf", damaged);
    writeFile(dir / "fonts.json", R"({"fonts": {"body": "good.ttf", "heading": "good.ttf", "code": "bad.ttf"}})");
    r = render({"--style", (dir / "fonts.json").string(), "-o", (dir / "fonts.png").string(), note.string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::string damagedFont = "font \u201c" + (dir / "bad.ttf").string() + "\u201d not used: the style's code font";
    EXPECT_TRUE(has(r.err, damagedFont + ": it is damaged")) << r.err;
    EXPECT_FALSE(has(r.err, "body font")) << r.err;

    // Six names of one 49-megapixel picture: decoded once, four fit the card's budget.
    ASSERT_TRUE(norvo::testing::writeSolidPng(dir / "big.png", 7000, 7000, 0x336699ff));
    std::string linked = "# Linked\n\n";
    for (int i = 0; i < 6; ++i) {
        if (i > 0) fs::create_hard_link(dir / "big.png", dir / ("big" + std::to_string(i) + ".png"));
        linked += "![](" + std::string(i > 0 ? "big" + std::to_string(i) : "big") + ".png)\n\n";
    }
    writeFile(dir / "linked.md", linked);
    r = render({"-o", (dir / "linked.png").string(), (dir / "linked.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(lineCount(r.err), 2) << r.err;
    EXPECT_TRUE(has(r.err, "more than 200 megapixels")) << r.err;

    // The clipboard server takes only a folder norvo render made, and never removes another.
    fs::create_directories(dir / "victim" / "sub");
    writeFile(dir / "victim" / "sub" / "kept.txt", "kept");
    r = runProcess({NORVO_TEST_EXECUTABLE, "--serve-clipboard", (dir / "victim").string()});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(readText(dir / "victim" / "sub" / "kept.txt"), "kept");
}

TEST(RenderCommand, OutputFolderStaleFilesAndSignals) {
    TempFolder tmp;
    const auto dir = tmp.path();
    writeFile(dir / "note.md", "# Note");

    // A folder that cannot be made says why, before anything is rendered.
    auto r = render({"-d", "/sys/norvo/cards", (dir / "note.md").string()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(has(r.err, "cannot make the folder /sys/norvo/cards: Operation not permitted")) << r.err;

    // Temporary files of runs that died are removed when a minute old; nothing else is.
    const auto out = dir / "out";
    fs::create_directories(out);
    for (const char* name : {".norvo-Ab3dE9", ".norvo-fresh1", ".norvo-longer-name", "mine.txt"})
        writeFile(out / name, "x");
    for (const char* name : {".norvo-Ab3dE9", ".norvo-longer-name", "mine.txt"})
        fs::last_write_time(out / name, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    r = render({"-d", out.string(), (dir / "note.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(fs::exists(out / ".norvo-Ab3dE9"));
    for (const char* name : {".norvo-fresh1", ".norvo-longer-name", "mine.txt", "note-square.png"})
        EXPECT_TRUE(fs::exists(out / name)) << name;

    // Names that are not text are printed so that a reader can find the files.
    const std::string odd = (dir / "line\nbreak\xff").string();
    r = render({"-d", odd, (dir / "note.md").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(has(r.out, "line\\x0abreak\\xff/note-square.png  1080x1080\n")) << r.out;
    EXPECT_EQ(lineCount(r.out), 1);
    r = render({"--report", "-d", odd, (dir / "note.md").string()});
    EXPECT_EQ(nlohmann::json::parse(r.out)["file"], dir.string() + "/line\\x0abreak\\xff/note-square.png") << r.out;

    // SIGTERM and SIGINT in the middle of a batch: what was written is whole and named, the
    // rest is not started, and the exit status tells the signal.
    std::vector<std::string> args{NORVO_TEST_EXECUTABLE, "render", "--size", "all", "-d", (dir / "batch").string()};
    for (int i = 0; i < 40; ++i) {
        writeFile(dir / ("n" + std::to_string(i) + ".md"), "# Note " + std::to_string(i));
        args.push_back((dir / ("n" + std::to_string(i) + ".md")).string());
    }
    for (const int signal : {SIGTERM, SIGINT}) {
        fs::remove_all(dir / "batch");
        ChildProcess run(args, dir / "stdout.txt", dir / "stderr.txt");
        ASSERT_TRUE(waitFor([&] {
            std::error_code ec;
            return fs::exists(dir / "batch", ec) && filesIn(dir / "batch").size() >= 4;
        }, std::chrono::seconds(60)));
        kill(run.pid(), signal);
        const int status = run.wait();
        const std::string err = readText(dir / "stderr.txt");
        EXPECT_EQ(status, 128 + signal) << err;
        EXPECT_TRUE(has(err, signal == SIGINT ? "interrupted;" : "terminated;")) << err;
        const auto written = filesIn(dir / "batch");
        EXPECT_LT(written.size(), 160u);
        const std::string named = readText(dir / "stdout.txt");
        for (const auto& f : written) {
            EXPECT_GT(readPngHeader(readFile(f)).width, 0u) << f;
            EXPECT_TRUE(has(named, f.filename().string())) << f;
        }
        EXPECT_EQ(std::size_t(lineCount(named)), written.size()) << named;
    }
}

TEST(RenderCommand, WebProcessFaultsFailOnlyTheirCard) {
    TempFolder tmp;
    const auto dir = tmp.path();
    std::vector<std::string> notes;
    std::string pathological;
    for (int i = 0; i < 50000; ++i) pathological += "*a";
    writeFile(dir / "bad.md", pathological);
    notes.push_back((dir / "bad.md").string());
    for (int i = 1; i <= 12; ++i) {
        const auto n = dir / ("n" + std::to_string(i) + ".md");
        writeFile(n, "# Note " + std::to_string(i) + "\n\nSome words for card " + std::to_string(i));
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
        EXPECT_TRUE(has(r.err, "bad.md failed")) << r.err;
    }
    EXPECT_EQ(r.exitStatus, failed ? 1 : 0);
    EXPECT_EQ(filesIn(out).size(), 13u - std::size_t(failed));
    for (const auto& card : filesIn(out)) EXPECT_FALSE(isUniform(card)) << card;
    fs::remove_all(out);

    // A web process killed twice in the middle of a batch fails at most the cards it was
    // drawing. (A page that hangs meets the engine's watchdog: the engine's own test.)
    const auto log = dir / "stderr.txt";
    std::vector<std::string> withoutBad;
    for (const auto& a : args)
        if (a != notes[0]) withoutBad.push_back(a);
    ChildProcess run(withoutBad, dir / "stdout.txt", log);
    const pid_t child = run.pid();
    int killed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (killed < 2 && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        const auto written = fs::exists(out, ec) ? filesIn(out).size() : 0u;
        if (written >= 3 + 5 * std::size_t(killed)) {
            const auto pids = norvo::testing::descendantsNamed(child, "WebKitWebProces");
            if (!pids.empty() && kill(pids.front(), SIGKILL) == 0) ++killed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int status = run.wait();
    EXPECT_EQ(killed, 2);
    const std::string err = readText(log);
    const int faulted = failedCards(err);
    EXPECT_LE(faulted, 2) << err;
    EXPECT_EQ(status, faulted ? 1 : 0) << err;
    EXPECT_EQ(filesIn(out).size() + std::size_t(faulted), 12u) << err;
    for (const auto& card : filesIn(out)) EXPECT_FALSE(isUniform(card)) << card;
}
