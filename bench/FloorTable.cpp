#include "FloorTable.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchProcesses.hpp"
#include "model/CardDocument.hpp"

namespace norvo::bench {
namespace {

// A scratch folder of the bench's own, gone with it.
struct Scratch {
    std::filesystem::path dir;
    Scratch() {
        char tmpl[] = "/tmp/norvo-floor-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// The norvo measured: the build's own, or another build's (NORVO_BENCH_NORVO) to compare two.
std::string norvoProgram() {
    const char* other = std::getenv("NORVO_BENCH_NORVO");
    return other && *other ? other : NORVO_BENCH_EXECUTABLE;
}

std::string noteText(int i) { return "# Note " + std::to_string(i) + "\n\n" + CardDocument::kSampleMarkdown; }

struct Paired {
    double batchMs = 0, streamMs = 0;
};

// 100 square notes as files on one command line, and the same notes as 100 stream requests
// written at once; runs alternate so that a slow moment of the machine falls on both alike.
Paired streamAgainstBatch(int runs) {
    Scratch scratch;
    const std::string out = (scratch.dir / "out").string();
    std::vector<std::string> batch{norvoProgram(), "render", "--size", "square", "-d", out};
    std::ofstream requests(scratch.dir / "requests.jsonl");
    for (int i = 0; i < 100; ++i) {
        const std::string file = (scratch.dir / ("note" + std::to_string(i) + ".md")).string();
        std::ofstream(file) << noteText(i);
        batch.push_back(file);
        requests << nlohmann::json{{"markdown", noteText(i)}}.dump() << "\n";
    }
    requests.close();
    const std::vector<std::string> stream{norvoProgram(), "render", "--stream", "--size", "square", "-d", out};
    std::vector<double> batchWalls, streamWalls;
    for (int r = 0; r < runs; ++r) {
        std::filesystem::remove_all(out);
        batchWalls.push_back(runTimed(batch, {}));
        std::filesystem::remove_all(out);
        streamWalls.push_back(runTimed(stream, {}, (scratch.dir / "requests.jsonl").string()));
    }
    return {median(batchWalls), median(streamWalls)};
}

// A stream that stays open: one short request written, its answer read, and again. The first
// few warm the page and are not counted.
double warmRequestMs(int requests) {
    Scratch scratch;
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
        const std::string out = (scratch.dir / "out").string();
        const std::string program = norvoProgram();
        execl(program.c_str(), program.c_str(), "render", "--stream", "--size", "square", "-d",
              out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    std::FILE* answers = fdopen(fromChild[0], "r");
    std::vector<double> times;
    char line[1 << 16];
    for (int i = 0; i < requests + 5; ++i) {
        const std::string request =
            nlohmann::json{{"markdown", "# Ship small " + std::to_string(i) + "\n\nOne change a day."}}.dump() + "\n";
        const auto t0 = Clock::now();
        if (write(toChild[1], request.data(), request.size()) != ssize_t(request.size())) break;
        if (!std::fgets(line, sizeof line, answers)) break;
        if (i >= 5) times.push_back(ms(Clock::now() - t0));
    }
    close(toChild[1]);
    std::fclose(answers);
    int status = 0;
    waitpid(pid, &status, 0);
    return times.empty() ? 0 : median(times);
}

// Where a batch card's encoding and pixel copy go: medians over 100 square cards.
struct CardSteps {
    double encodeMs = 0, copyMs = 0;
    double pngBytes = 0;  // median file size
};

CardSteps batchCardSteps() {
    Scratch scratch;
    const std::string out = (scratch.dir / "out").string();
    std::vector<std::string> args{norvoProgram(), "render", "--size", "square", "-d", out};
    for (int i = 0; i < 100; ++i) {
        const std::string file = (scratch.dir / ("note" + std::to_string(i) + ".md")).string();
        std::ofstream(file) << noteText(i);
        args.push_back(file);
    }
    double wall = 0;
    const auto marks = marksOf(args, &wall);
    std::vector<double> sizes;
    for (const auto& entry : std::filesystem::directory_iterator(out)) sizes.push_back(double(entry.file_size()));
    return {median(spans(marks, "encode-begun", "encoded")), median(spans(marks, "copy-begun", "copied")),
            sizes.empty() ? 0 : median(sizes)};
}

// The browser loop on the same page (bench/compare-chromium): its time ratio and PNG bytes
// ratio, or nothing when Chromium is not installed.
struct Browser {
    bool measured = false;
    double timeRatio = 0, bytesRatio = 0;
};

Browser browserLoop(int runs) {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) return {};
    const std::string command = "NORVO_COMPARE_TIME_ONLY=1 " + std::string(NORVO_BENCH_SOURCE_DIR) +
                                "/bench/compare-chromium 100 " + std::to_string(runs) + " 2>/dev/null";
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return {};
    Browser browser;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::fputs(line, stdout);
        double a = 0, b = 0;
        if (std::sscanf(line, "  ratio norvo / chromium: %lf time, %lf", &a, &b) == 2) {
            browser.timeRatio = a;
            browser.measured = true;
        }
        if (std::sscanf(line, "  png bytes norvo / chromium: %lf", &a) == 1) browser.bytesRatio = a;
    }
    pclose(p);
    return browser;
}

}  // namespace

void printFloorTable(const ColdStarts& cold, int runs) {
    const Paired paired = streamAgainstBatch(runs);
    const double warm = warmRequestMs(30);
    const CardSteps steps = batchCardSteps();
    const Browser browser = browserLoop(runs);
    std::printf("(floor) each figure beside its reference, medians\n");
    std::printf("  %-58s %12s %10s\n", "figure", "now", "goal");
    std::printf("  %-58s %11.2fx %10s   (stream %.0f ms, batch %.0f ms, %d runs)\n",
                "100 notes fed to --stream at once, against a batch", paired.streamMs / paired.batchMs, "<= 1.2x",
                paired.streamMs, paired.batchMs, runs);
    std::printf("  %-58s %9.1f ms %10s\n", "one request on a warm stream (square, short note)", warm, "<= 30 ms");
    if (browser.measured)
        std::printf("  %-58s %12.3f %10s\n", "100 square notes against the Playwright loop", browser.timeRatio, "<= 0.10");
    else
        std::printf("  %-58s %12s %10s   (chromium is not installed: bench/compare-chromium installs it)\n",
                    "100 square notes against the Playwright loop", "-", "<= 0.10");
    std::printf("  %-58s %9.1f ms %10s   (median file %.0f bytes)\n", "PNG encode of a 1080x1080 card (batch, writer thread)",
                steps.encodeMs, "<= 6 ms", steps.pngBytes);
    if (browser.measured)
        std::printf("  %-58s %12.3f %10s\n", "  PNG bytes against Chromium's (100 square corpus notes)", browser.bytesRatio,
                    "<= 0.72");
    std::printf("  %-58s %9.1f ms %10s\n", "texture copy (snapshot to the card's pixels)", steps.copyMs, "halved");
    std::printf("  %-58s %11.2fx %10s   (%.0f ms against %.0f ms)\n", "one cold story card against an empty-page start",
                cold.storyCardMs / cold.emptyPageMs, "<= 1.15x", cold.storyCardMs, cold.emptyPageMs);
    std::printf("  %-58s %11.2fx %10s   (%.0f ms)\n", "self-test against the same", cold.selfTestMs / cold.emptyPageMs,
                "<= 1.5x", cold.selfTestMs);
}

}  // namespace norvo::bench
