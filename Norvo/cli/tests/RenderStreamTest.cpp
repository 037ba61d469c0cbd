// norvo render --stream: one process answering request after request.
#include "RenderCommandSupport.hpp"

using namespace norvo;
using namespace norvo::cli_testing;

// One process answers request after request, each before the next is sent (as a script or
// an agent would use it); bad requests are answered with their error and the stream goes on.
TEST(RenderCommand, AStreamAnswersEachRequestInTurn) {
    TempFolder tmp;
    const auto dir = tmp.path();
    writeFile(dir / "note.md", "# From a file\n\nIts words.");
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
    EXPECT_EQ(readPngHeader(readFile(card["file"].get<std::string>())).height, 630u);
    // A bad request is answered under its line's number (what the answer says is StreamRequest's test).
    EXPECT_EQ(ask("not json")["id"], 2);
    auto file = ask(R"({"file": ")" + (dir / "note.md").string() + R"(", "output": ")" + (dir / "own.jpg").string() + "\"}");
    EXPECT_EQ(file["file"], (dir / "own.jpg").string());
    EXPECT_EQ(readFile(dir / "own.jpg").at(0), 0xFF);
    // Every card setting a flag takes, a request takes: here a set with a cover, no marks, no wordmark.
    auto set = ask(R"({"id": 5, "markdown": "# Long\n\n)" + std::string(6000, 'w') +
                   R"( end", "pages": true, "cover": true, "pageMarks": "none", "wordmark": false})");
    EXPECT_GE(set["files"].size(), 3u);
    EXPECT_EQ(set["reports"].size(), set["files"].size());
    EXPECT_EQ(set["reports"][0].value("cover", false), true) << set;
    close(in[1]);  // the end of the requests ends the stream
    int status = 0;
    waitpid(child, &status, 0);
    fclose(answers);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);  // a request failed
}

// Whatever comes down a stream, each request gets one answer that is JSON; the stream ends when
// either of its ends closes, and nothing of it (its display, a session bus) outlives it.
TEST(RenderCommand, AStreamAnswersOnceAndEndsWithItsEnds) {
    TempFolder tmp;
    const auto dir = tmp.path();
    const std::string exe = NORVO_TEST_EXECUTABLE;
    const std::string huge = R"({"markdown": ")" + std::string(20u << 20, 'a') + "\"}";
    // Requests written all at once are read ahead and drawn back to back, yet answered in
    // their order, the refused ones in their turn.
    std::string more;
    for (int i = 0; i < 12; ++i) more += i % 4 == 3 ? "not json\n" : R"({"markdown": "# card )" + std::to_string(i) + "\"}\n";
    auto r = runProcess({exe, "render", "--stream", "-d", dir.string()}, {},
                        huge + "\n" + R"({"markdown": "# after"})" + "\n" + more + huge.substr(0, 9u << 20));
    const auto answers = reportLines(r.out);
    ASSERT_EQ(answers.size(), 15u) << r.out.substr(0, 500);
    EXPECT_EQ(answers[0]["id"], 1);
    EXPECT_TRUE(answers[1].contains("file")) << answers[1];
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(answers[std::size_t(i) + 2]["id"], i + 3);
        EXPECT_EQ(answers[std::size_t(i) + 2].contains("file"), i % 4 != 3) << answers[std::size_t(i) + 2];
    }
    EXPECT_EQ(answers[14]["id"], 15);

    // Closed input or output: refused at once; a reader gone: the stream stops with an error.
    for (const char* closing : {"<&-", ">&-"}) {
        r = runProcess({"/bin/sh", "-c", "exec '" + exe + "' render --stream -d '" + dir.string() + "' " + closing});
        EXPECT_EQ(r.exitStatus, 1) << closing;
        EXPECT_TRUE(has(r.err, "closed")) << r.err;
    }
    const fs::path cards = dir / "gone";
    r = runProcess({"/bin/bash", "-c", "for i in $(seq 1 200); do echo '{\"markdown\": \"# card '$i'\"}'; done | '" + exe +
                                           "' render --stream -d '" + cards.string() + "' | head -n 1; echo \"${PIPESTATUS[1]}\" >&2"});
    EXPECT_TRUE(has(r.err, "answers cannot be written")) << r.err;
    EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), "1\n") << r.err;
    EXPECT_LT(std::distance(fs::directory_iterator(cards), fs::directory_iterator()), 100);

    // Killed outright on a bare machine: its own display goes with it, and no bus was started.
    fs::create_directories(dir / "home");
    ASSERT_EQ(mkfifo((dir / "requests").c_str(), 0600), 0);
    const int requests = ::open((dir / "requests").c_str(), O_RDWR | O_CLOEXEC);  // kept open: the stream waits
    ChildProcess run({"/bin/sh", "-c", "exec /usr/bin/env -u DISPLAY -u WAYLAND_DISPLAY -u "
                                      "DBUS_SESSION_BUS_ADDRESS HOME='" + (dir / "home").string() + "' '" + exe +
                                      "' render --stream -d '" + dir.string() + "' < '" + (dir / "requests").string() + "'"},
                                     dir / "out.txt", dir / "err.txt");
    const std::string request = "{\"markdown\": \"# drawn\"}\n";
    ASSERT_EQ(::write(requests, request.data(), request.size()), ssize_t(request.size()));
    waitFor([&] { return !readText(dir / "out.txt").empty(); }, std::chrono::seconds(60));  // drawn: the display is up
    const std::vector<int> displays = norvo::testing::descendantsNamed(run.pid(), "Xvfb");
    ASSERT_EQ(displays.size(), 1u) << readText(dir / "err.txt");
    ::kill(run.pid(), SIGKILL);
    run.wait();
    ::close(requests);
    EXPECT_TRUE(waitFor([&] {
        std::ifstream stat("/proc/" + std::to_string(displays.front()) + "/stat");
        std::string pid, name, state;
        return !(stat >> pid >> name >> state) || state == "Z";
    }, std::chrono::seconds(10)));
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
