#include "cli/RenderCommand.hpp"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
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

#include <glib-unix.h>
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

bool isValidUtf8(const std::string& s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }

// A file name as a line of text can carry it: control characters and bytes that are not
// UTF-8 become \xNN escapes (a backslash is doubled), so a reader can find the file.
std::string printable(const std::filesystem::path& path) {
    const std::string raw = path.string();
    std::string out;
    const char* p = raw.data();
    const char* end = p + raw.size();
    while (p < end) {
        const char* next = nullptr;
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == gunichar(-1) || c == gunichar(-2) || c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(static_cast<unsigned char>(*p)));
            out += hex;
            ++p;
            continue;
        }
        next = g_utf8_next_char(p);
        if (c == '\\') out += '\\';
        out.append(p, next);
        p = next;
    }
    return out;
}

// A file name for a JSON string: as it is when it is UTF-8, else with its bytes escaped.
std::string jsonName(const std::filesystem::path& path) {
    return isValidUtf8(path.string()) ? path.string() : printable(path);
}

// One line of --report: the card's file and size, then what its layout measures.
std::string reportLine(const std::filesystem::path& file, const Preset& preset, const LayoutReport& report,
                       bool paged) {
    nlohmann::ordered_json line;
    line["file"] = jsonName(file);
    line["width"] = preset.width;
    line["height"] = preset.height;
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.pop_back();  // the page's measurements follow inside the same object
    return text + "," + PageProtocol::reportMembers(report, paged) + "}";
}

// The --report line of a PDF: its file and how many pages it has.
std::string pdfReportLine(const std::filesystem::path& file, std::size_t pages) {
    nlohmann::ordered_json line;
    line["pdf"] = jsonName(file);
    line["pages"] = pages;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Temporary files that runs stopped hard (a kill, a power cut) left in `folder`: only the
// atomic writer's own pattern, only regular files, only those a minute old or more.
void removeStaleTemporaries(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 13 || name.rfind(".norvo-", 0) != 0) continue;
        if (!std::all_of(name.begin() + 7, name.end(), [](unsigned char c) { return std::isalnum(c); })) continue;
        std::error_code e;
        if (!it->is_regular_file(e) || it->is_symlink(e)) continue;
        const auto modified = std::filesystem::last_write_time(it->path(), e);
        if (!e && now - modified >= std::chrono::minutes(1)) std::filesystem::remove(it->path(), e);
    }
}

// Creates the output folder when missing and proves it takes a file, before anything is
// rendered: the error is the file system's own reason.
std::error_code prepareOutputFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return ec;
    std::string probe = (folder / ".norvo-XXXXXX").string();
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) return {errno, std::generic_category()};
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

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
    ~EncoderThread() { finish(); }
    // Writes what is queued, then stops the worker.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
    }
    // Drops what waits to be written; the file being written is finished (main thread).
    void dropWaiting() {
        std::lock_guard lock(mutex_);
        backlog_ -= tasks_.size();
        tasks_.clear();
    }
    int filesWritten() const { return filesWritten_; }
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
    void written(const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    void failed(const std::filesystem::path& file, const std::error_code& error) {
        std::fprintf(stderr, "norvo render: could not write %s: %s\n", printable(file).c_str(), error.message().c_str());
        ++failures_;
    }

    // Writes a card, or a set's cards and PDF: all of it or, when a write fails, none of it.
    // The lines for the files are printed once everything is in place.
    void write(const EncodeTask& task) {
        const std::size_t pages = task.cards.size();
        std::vector<std::filesystem::path> done;
        std::vector<std::string> lines;
        auto fail = [&](const std::filesystem::path& file, const std::error_code& error) {
            failed(file, error);
            for (const auto& f : done) {
                std::error_code ignored;
                std::filesystem::remove(f, ignored);
            }
        };
        for (std::size_t i = 0; task.pngs && i < pages; ++i) {
            const auto file = pagePath(task.path, i + 1, pages);
            const auto png = PngEncoder::encodeAt(*task.cards[i].image, task.preset.width, task.preset.height);
            const std::error_code error =
                png ? writeFileAtomically(file, *png) : std::make_error_code(std::errc::not_enough_memory);
            if (error) return fail(file, error);
            done.push_back(file);
            lines.push_back(report_ ? reportLine(file, task.preset, task.cards[i].report, task.paged)
                                    : printable(file) + "  " + std::to_string(task.preset.width) + "x" +
                                          std::to_string(task.preset.height));
        }
        if (task.pdf) {
            std::vector<CardImagePtr> images;
            for (const RenderedCard& card : task.cards) images.push_back(card.image);
            const auto pdf = PdfDocument::encode(images, task.title);
            const std::error_code error =
                pdf ? writeFileAtomically(*task.pdf, *pdf) : std::make_error_code(std::errc::not_enough_memory);
            if (error) return fail(*task.pdf, error);
            done.push_back(*task.pdf);
            lines.push_back(report_ ? pdfReportLine(*task.pdf, pages)
                                    : printable(*task.pdf) + "  " + std::to_string(pages) +
                                          (pages == 1 ? " page" : " pages"));
        }
        for (const std::string& line : lines) written(line);
        filesWritten_ += int(lines.size());
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
    std::atomic<int> filesWritten_{0};
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
        } else if (const auto nul = text->find('\0'); nul != std::string::npos) {
            std::fprintf(stderr, "norvo render: %s contains a NUL byte at offset %zu\n", label.c_str(), nul);
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
    // Nothing is rendered for a folder that cannot take the cards; the message gives the reason.
    const std::filesystem::path folder =
        options.outputFile ? options.outputFile->parent_path() : options.outputFolder;
    if (const auto error = prepareOutputFolder(folder.empty() ? "." : folder)) {
        std::fprintf(stderr, "norvo render: cannot write to %s: %s\n", printable(folder.empty() ? "." : folder).c_str(),
                     error.message().c_str());
        return 1;
    }
    removeStaleTemporaries(folder.empty() ? "." : folder);

    // Output names are handed out in input order, whichever card finishes first; a set's
    // name is claimed for all of its cards.
    OutputNames names;
    std::vector<std::filesystem::path> paths;
    const bool sets = options.pages || options.pdf;
    for (const CardJob& card : cards) {
        if (options.outputFile)
            paths.push_back(names.claim(*options.outputFile));
        else if (sets)
            paths.push_back(names.claimSet(options.outputFolder, Card::slug(card.note->markdown, "card"), card.preset.id));
        else
            paths.push_back(names.claim(options.outputFolder / Card::fileName(card.note->markdown, card.preset.id)));
    }

    // Two pages render side by side (each has a web process of its own) while the
    // encoder thread writes the finished cards.
    const std::size_t engineCount = std::min<std::size_t>({2, cards.size(), std::max(1u, std::thread::hardware_concurrency())});
    std::vector<std::unique_ptr<RenderEngine>> engines;
    for (std::size_t e = 0; e < engineCount; ++e) engines.push_back(std::make_unique<RenderEngine>());
    std::vector<bool> busy(engineCount, false);

    auto loop = Glib::MainLoop::create();
    std::size_t next = 0, finished = 0;
    int interrupted = 0;  // the signal that stopped the run
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
                if (interrupted) return;  // the run is ending: nothing more is written
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
    // SIGINT and SIGTERM stop the run between files: the file being written is finished,
    // nothing else is started, and the exit status says which signal it was.
    struct Stop {
        int signal;
        int* interrupted;
        EncoderThread* encoder;
        Glib::RefPtr<Glib::MainLoop> loop;
    };
    Stop stops[] = {{SIGINT, &interrupted, &encoder, loop}, {SIGTERM, &interrupted, &encoder, loop}};
    std::vector<guint> watches;
    for (Stop& stop : stops)
        watches.push_back(g_unix_signal_add(stop.signal, +[](gpointer data) -> gboolean {
            auto* s = static_cast<Stop*>(data);
            if (*s->interrupted == 0) {
                *s->interrupted = s->signal;
                s->encoder->dropWaiting();
                s->loop->quit();
            }
            return G_SOURCE_CONTINUE;
        }, &stop));

    renderNext();
    loop->run();
    engines.clear();  // cards still being drawn are dropped
    for (guint watch : watches) g_source_remove(watch);
    if (interrupted) {
        encoder.finish();
        std::fprintf(stderr, "%snorvo render: %s; %d %s written, each named above\n", progress ? "\n" : "",
                     interrupted == SIGINT ? "interrupted" : "terminated", encoder.filesWritten(),
                     encoder.filesWritten() == 1 ? "file" : "files");
        return 128 + interrupted;
    }
    failures += encoder.failures();
    return failures ? 1 : 0;
}

}  // namespace norvo::RenderCommand
