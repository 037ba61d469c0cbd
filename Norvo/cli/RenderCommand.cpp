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
#include "image/PdfDocument.hpp"
#include "engine/PageProtocol.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/MainThread.hpp"
#include "image/PngEncoder.hpp"

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

// What one note in one size became: a card, or the cards of a set of pages.
struct EncodeTask {
    std::vector<RenderedCard> cards;  // each with its layout report, when asked for
    Preset preset;
    std::filesystem::path path;  // a set's cards get "-1", "-2", ... before the extension
    bool paged = false;
    bool pngs = true;
    std::optional<std::filesystem::path> pdf;  // also one PDF of all the cards
    std::string title;
};

std::filesystem::path pagePath(const std::filesystem::path& path, std::size_t page, std::size_t pages) {
    if (pages < 2) return path;
    std::filesystem::path p = path;
    p.replace_filename(Card::fitName(path.stem().string(), "-" + std::to_string(page) + path.extension().string()));
    return p;
}

// One line of --report: the card's file and size, then what its layout measures.
std::string reportLine(const std::filesystem::path& file, const Preset& preset, const LayoutReport& report,
                       bool paged) {
    nlohmann::ordered_json line;
    line["file"] = file.string();
    line["width"] = preset.width;
    line["height"] = preset.height;
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.pop_back();  // the page's measurements follow inside the same object
    return text + "," + PageProtocol::reportMembers(report, paged) + "}";
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
    void written(const std::filesystem::path& file, const std::string& line) {
        std::printf("%s\n", line.empty() ? file.c_str() : line.c_str());
        std::fflush(stdout);
    }
    void failed(const std::filesystem::path& file, const std::error_code& error) {
        std::fprintf(stderr, "norvo render: could not write %s: %s\n", file.c_str(), error.message().c_str());
        ++failures_;
    }

    void write(const EncodeTask& task) {
        const std::size_t pages = task.cards.size();
        for (std::size_t i = 0; task.pngs && i < pages; ++i) {
            const auto file = pagePath(task.path, i + 1, pages);
            const auto png = PngEncoder::encodeAt(*task.cards[i].image, task.preset.width, task.preset.height);
            const std::error_code error =
                png ? writeFileAtomically(file, *png) : std::make_error_code(std::errc::not_enough_memory);
            if (error) {
                failed(file, error);
                continue;
            }
            written(file, report_ ? reportLine(file, task.preset, task.cards[i].report, task.paged)
                                  : file.string() + "  " + std::to_string(task.preset.width) + "x" +
                                        std::to_string(task.preset.height));
        }
        if (!task.pdf) return;
        std::vector<CardImagePtr> images;
        for (const RenderedCard& card : task.cards) images.push_back(card.image);
        const auto pdf = PdfDocument::encode(images, task.title);
        const std::error_code error =
            pdf ? writeFileAtomically(*task.pdf, *pdf) : std::make_error_code(std::errc::not_enough_memory);
        if (error) {
            failed(*task.pdf, error);
            return;
        }
        written(*task.pdf, task.pdf->string() + "  " + std::to_string(pages) + (pages == 1 ? " page" : " pages"));
    }

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
            write(task);
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
    // On a terminal, a batch shows how far it is, on one line that is rewritten.
    const bool progress = cards.size() > 1 && isatty(STDERR_FILENO);
    auto cardDone = [&] {
        ++finished;
        if (progress) std::fprintf(stderr, "\r\033[K%zu/%zu cards%s", finished, cards.size(),
                                   finished == cards.size() ? "\n" : "");
        if (finished == cards.size()) loop->quit();
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
            const bool paged = options.pages || options.pdf;
            auto done = [&, card, i, e, paged](std::vector<RenderedCard> rendered) {
                busy[e] = false;
                if (!rendered.empty()) {
                    EncodeTask task{std::move(rendered), card.preset, paths[i], paged,
                                    !options.pdf || options.pages, std::nullopt, {}};
                    if (options.pdf) {
                        task.pdf = std::filesystem::path(paths[i]).replace_extension(".pdf");
                        task.title = Card::title(card.note->markdown);
                    }
                    encoder.push(std::move(task));
                } else {
                    std::fprintf(stderr, "norvo render: rendering %s failed\n", card.note->label.c_str());
                    ++failures;
                    cardDone();
                }
                renderNext();
            };
            const CardRequest request{card.note->markdown, options.theme, options.font, card.preset,
                                      options.wordmark, options.scale};
            if (paged)
                engines[e]->renderPages(request, std::move(done));
            else if (options.report)
                engines[e]->renderWithReport(request, [done = std::move(done)](RenderedCard rendered) mutable {
                    std::vector<RenderedCard> one;
                    if (rendered.image) one.push_back(std::move(rendered));
                    done(std::move(one));
                });
            else
                engines[e]->render(request, [done = std::move(done)](CardImagePtr image) mutable {
                    std::vector<RenderedCard> one;
                    if (image) one.push_back(RenderedCard{std::move(image), {}});
                    done(std::move(one));
                });
        }
    };
    renderNext();
    loop->run();
    failures += encoder.failures();
    return failures ? 1 : 0;
}

}  // namespace norvo::RenderCommand
