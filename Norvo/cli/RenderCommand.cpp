#include "cli/RenderCommand.hpp"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <algorithm>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glibmm/main.h>
#include <gtk/gtk.h>

#include <nlohmann/json.hpp>

#include "cli/RenderOptions.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/MainThread.hpp"

namespace norvo::RenderCommand {
namespace {

struct Note {
    std::string label;  // file name or "standard input"
    std::string markdown;
};

struct CardJob {
    const Note* note;
    Preset preset;
};

struct EncodeTask {
    CardImagePtr image;
    Preset preset;
    std::filesystem::path path;
    std::string report;  // the page's layout report, when asked for
};

// One line of --report: the card's file and size, then what its layout measures.
std::string reportLine(const EncodeTask& task) {
    nlohmann::ordered_json line;
    line["file"] = task.path.string();
    line["width"] = task.preset.width;
    line["height"] = task.preset.height;
    const auto measured = nlohmann::json::parse(task.report, nullptr, false);
    for (const char* key : {"bodyPx", "minPx", "cut", "overflowX", "brokenWords"})
        line[key] = measured.is_object() && measured.contains(key) ? measured[key] : nlohmann::json();
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool isValidUtf8(const std::string& s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }

// Closes a file descriptor it was given.
class ClosingFd {
public:
    explicit ClosingFd(int fd) : fd_(fd) {}
    ~ClosingFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ClosingFd(const ClosingFd&) = delete;
    ClosingFd& operator=(const ClosingFd&) = delete;

private:
    int fd_;
};

std::string reason(int error) { return std::error_code(error, std::generic_category()).message(); }

// Reads a whole note, but never more than a note may hold: a longer file, an endless
// pipe or /dev/zero is refused after the limit. Read errors are errors, also on stdin.
std::optional<std::string> readNote(const std::string& input, std::string& error) {
    const int fd = input == "-" ? STDIN_FILENO : ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = reason(errno);
        return std::nullopt;
    }
    const ClosingFd closing(fd == STDIN_FILENO ? -1 : fd);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        error = "is a folder";
        return std::nullopt;
    }
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = reason(errno);
            return std::nullopt;
        }
        if (n == 0) return text;
        if (text.size() + std::size_t(n) > Card::kMaxMarkdownBytes) {
            error = "too long to render (over 1 MiB)";
            return std::nullopt;
        }
        text.append(buffer, std::size_t(n));
    }
}

// Encodes and writes cards on one worker thread while the engine renders the next.
class EncoderThread {
public:
    static constexpr std::size_t kMaxBacklog = 3;

    EncoderThread(bool report, std::function<void()> onDone) : report_(report), onDone_(std::move(onDone)) {
        worker_ = std::thread([this] { loop(); });
    }
    ~EncoderThread() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    void push(EncodeTask task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            ++backlog_;
        }
        wake_.notify_one();
    }
    std::size_t backlog() {
        std::lock_guard lock(mutex_);
        return backlog_;
    }
    int failures() const { return failures_; }

private:
    void loop() {
        while (true) {
            EncodeTask task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            const auto png = RenderEngine::png(*task.image, task.preset.width, task.preset.height);
            const std::error_code error =
                png ? writeFileAtomically(task.path, *png) : std::make_error_code(std::errc::not_enough_memory);
            if (!error) {
                if (report_)
                    std::printf("%s\n", reportLine(task).c_str());
                else
                    std::printf("%s  %lldx%lld\n", task.path.c_str(), (long long)task.preset.width,
                                (long long)task.preset.height);
                std::fflush(stdout);
            } else {
                std::fprintf(stderr, "norvo render: could not write %s: %s\n", task.path.c_str(),
                             error.message().c_str());
                ++failures_;
            }
            {
                std::lock_guard lock(mutex_);
                --backlog_;
            }
            MainThread::post(lifetime_.guard([this] { onDone_(); }));
        }
    }

    bool report_;
    std::function<void()> onDone_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<EncodeTask> tasks_;
    std::size_t backlog_ = 0;
    bool closing_ = false;
    std::atomic<int> failures_{0};
    std::thread worker_;
    Lifetime lifetime_;
};

}  // namespace

int run(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = parseRenderOptions(args);
    if (auto* error = std::get_if<RenderUsageError>(&parsed)) {
        std::fprintf(stderr, "norvo render: %s\nTry 'norvo render --help'.\n", error->message.c_str());
        return 2;
    }
    const RenderOptions options = std::get<RenderOptions>(std::move(parsed));
    if (options.help) {
        std::fputs(renderHelpText(), stdout);
        return 0;
    }
    if (const auto error = checkOutputFile(options)) {
        std::fprintf(stderr, "norvo render: %s\nTry 'norvo render --help'.\n", error->message.c_str());
        return 2;
    }
    // A closed standard input is an error to report, and its slot must not be taken by the
    // next file opened, which would then be read as "-".
    const bool stdinClosed = fcntl(STDIN_FILENO, F_GETFD) < 0 && errno == EBADF;
    if (stdinClosed) {
        const int null = ::open("/dev/null", O_RDONLY);
        if (null > STDIN_FILENO) ::close(null);
    }

    int failures = 0;
    std::deque<Note> notes;  // stable addresses
    for (const std::string& input : options.inputs) {
        const std::string label = input == "-" ? "standard input" : input;
        std::string error;
        auto text = input == "-" && stdinClosed ? std::nullopt : readNote(input, error);
        if (input == "-" && stdinClosed) error = reason(EBADF);
        if (!text) {
            std::fprintf(stderr, "norvo render: %s: %s\n", label.c_str(), error.c_str());
            ++failures;
        } else if (!isValidUtf8(*text)) {
            std::fprintf(stderr, "norvo render: %s is not UTF-8 text\n", label.c_str());
            ++failures;
        } else {
            notes.push_back(Note{label, std::move(*text)});
        }
    }

    std::vector<CardJob> cards;
    for (const Note& n : notes)
        for (const Preset& p : options.presets) cards.push_back(CardJob{&n, p});
    if (cards.empty()) return failures ? 1 : 0;

    if (!gtk_init_check()) {
        std::fprintf(stderr, "norvo render: no display to render on; run it under xvfb-run -a, or use ./run render\n");
        return 1;
    }
    std::error_code ec;
    const std::filesystem::path folder =
        options.outputFile ? options.outputFile->parent_path() : options.outputFolder;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);

    // Output names are handed out in input order, whichever card finishes first.
    OutputNames names;
    std::vector<std::filesystem::path> paths;
    for (const CardJob& card : cards)
        paths.push_back(names.claim(options.outputFile ? *options.outputFile
                                                       : options.outputFolder / norvo::Card::fileName(
                                                                                    card.note->markdown, card.preset.id)));

    // Two pages render side by side (each has a web process of its own) while the
    // encoder thread writes the finished cards.
    const std::size_t engineCount = std::min<std::size_t>({2, cards.size(), std::max(1u, std::thread::hardware_concurrency())});
    std::vector<std::unique_ptr<RenderEngine>> engines;
    for (std::size_t e = 0; e < engineCount; ++e) engines.push_back(std::make_unique<RenderEngine>());
    std::vector<bool> busy(engineCount, false);

    auto loop = Glib::MainLoop::create();
    std::size_t next = 0, finished = 0;
    auto cardDone = [&] {
        if (++finished == cards.size()) loop->quit();
    };
    std::function<void()> renderNext;
    EncoderThread encoder(options.report, [&] {
        cardDone();
        renderNext();
    });

    renderNext = [&] {
        for (std::size_t e = 0; e < engines.size(); ++e) {
            // A bounded queue in front of the encoder bounds memory too.
            if (next >= cards.size() || encoder.backlog() >= EncoderThread::kMaxBacklog) return;
            if (busy[e]) continue;
            busy[e] = true;
            const std::size_t i = next++;
            const CardJob card = cards[i];
            auto done = [&, card, i, e](CardImagePtr image, std::string report) {
                busy[e] = false;
                if (image) {
                    encoder.push(EncodeTask{std::move(image), card.preset, paths[i], std::move(report)});
                } else {
                    std::fprintf(stderr, "norvo render: rendering %s failed\n", card.note->label.c_str());
                    ++failures;
                    cardDone();
                }
                renderNext();
            };
            if (options.report)
                engines[e]->renderWithReport(card.note->markdown, options.theme, options.font, card.preset,
                                             options.wordmark, options.scale, std::move(done));
            else
                engines[e]->render(card.note->markdown, options.theme, options.font, card.preset, options.wordmark,
                                   options.scale, [done = std::move(done)](CardImagePtr image) mutable {
                                       done(std::move(image), {});
                                   });
        }
    };
    renderNext();
    loop->run();
    failures += encoder.failures();
    return failures ? 1 : 0;
}

}  // namespace norvo::RenderCommand
