#include "norvo/AltText.hpp"
#include "ClipboardServer.hpp"
#include "support/NoteFile.hpp"
#include "support/StyleFiles.hpp"
#include "norvo/FrontMatter.hpp"
#include "support/StartupTimeline.hpp"
#include "cli/RenderCommand.hpp"

#include <giomm/file.h>
#include <giomm/filemonitor.h>
#include <glibmm/main.h>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <deque>
#include <set>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <variant>

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

// How one note's cards look: the run's settings, and over them what the note's front matter
// asks for itself; its sizes (the run's, or the one its front matter names).
struct NoteLook {
    CardSettings settings;
    std::vector<Preset> presets;
};

struct Note {
    std::string label;  // file name or "standard input"
    std::string markdown;
    std::string folder;  // where its pictures are (empty for standard input)
    NoteLook look;
    std::vector<std::size_t> firstCards;  // its cards of the first round (--watch draws them again)
    mutable std::set<std::string> warnedPictures;  // each picture not shown is named once (main thread)
};

// The look of the note `markdown` read from `label`: the run's, changed by the note's front
// matter. A value the note cannot have is named in a warning and the run's is kept.
NoteLook lookOf(const std::string& label, const std::string& markdown, const RenderOptions& options,
                const CardStyle& runStyle) {
    CardSettings run = options.card;
    run.style = runStyle;
    NoteSettings note = NoteSettings::of(markdown);
    std::vector<std::string> warnings;
    if (note.pages && *note.pages && options.outputFile && !options.pdf) {
        warnings.push_back("pages: -o names one file, so the note is drawn as one card (-d takes its pages)");
        note.pages.reset();
    }
    NoteLook look{overlayFrontMatter(run, note, StyleFiles::lookup, warnings), options.presets};
    if (note.size) look.presets = {look.settings.size};
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "norvo render: %s: %s\n", label.c_str(), warning.c_str());
    return look;
}

struct CardJob {
    const Note* note;
    Preset preset;
};

// A set of cards (or its PDF) being written as its cards come. The encoder thread alone
// touches it while the run goes on; the main thread only once the encoder has stopped.
struct SetOutput {
    Preset preset;
    std::filesystem::path path;  // the cards get "-1", "-2", ... before the extension
    bool pngs = true;
    std::optional<std::filesystem::path> pdf;  // also one PDF of all the cards
    CardWords words;  // in every card's file and the PDF

    std::vector<std::filesystem::path> written;
    std::vector<std::string> lines;  // printed once the whole set is in place
    std::unique_ptr<AtomicFileWriter> pdfFile;
    std::unique_ptr<PdfWriter> pdfWriter;
    std::size_t lastPage = 0;
    bool failed = false;
    bool ended = false;

    // Nothing of the set stays: written cards are removed, an unfinished PDF never appears.
    void rollBack() {
        for (const auto& f : written) {
            removeWrittenFile(f);
        }
        written.clear();
        lines.clear();
        pdfWriter.reset();
        pdfFile.reset();
        lastPage = 0;
    }
};

// What the encoder thread does: write one card, add a card to a set, or end a set.
// What a card says, for its PNG: the note's title and plain text.
PngEncoder::Words wordsOf(const std::string& markdown) {
    return {Card::title(markdown), AltText::fromMarkdown(markdown)};
}

struct CardTask {
    RenderedCard card;
    Preset preset;
    std::filesystem::path path;
    PngEncoder::Words words;
};
struct SetPageTask {
    std::shared_ptr<SetOutput> set;
    RenderedCard card;
    std::size_t page = 0, pages = 0;
};
struct SetEndTask {
    std::shared_ptr<SetOutput> set;
    bool rendered = false;  // false: the set failed to render, nothing of it stays
};
using EncodeTask = std::variant<CardTask, SetPageTask, SetEndTask>;

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

std::string reason(int error) { return std::error_code(error, std::generic_category()).message(); }

// Encodes and writes cards on one worker thread while the engine renders the next.
class EncoderThread {
public:
    static constexpr std::size_t kMaxBacklog = 3;

    EncoderThread(bool report, CardFormats::Format format, std::function<void()> onDone)
        : report_(report), format_(format), onDone_(std::move(onDone)) {
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
        room_.notify_all();
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
    // Blocks the caller (the main thread, between two cards of a set) until at most `most`
    // tasks wait: cards are drawn no faster than they are written, so a set is never held whole.
    void waitForRoom(std::size_t most) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return tasks_.size() <= most || closing_; });
    }
    int failures() const { return failures_; }

private:
    void written(const std::string& line) {
        StartupTimeline::markOnce("card-written");
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    void failed(const std::filesystem::path& file, const std::error_code& error) {
        std::fprintf(stderr, "norvo render: could not write %s: %s\n", printable(file).c_str(), error.message().c_str());
        ++failures_;
    }

    std::string cardLine(const std::filesystem::path& file, const Preset& preset, const LayoutReport& report,
                         bool paged) const {
        return report_ ? reportLine(file, preset, report, paged)
                       : printable(file) + "  " + std::to_string(preset.width) + "x" + std::to_string(preset.height);
    }

    void write(CardTask& task) {
        const auto png =
            CardFormats::encodeAt(*task.card.image, task.preset.width, task.preset.height, format_, task.words);
        const std::error_code error =
            png ? writeFileAtomically(task.path, *png) : std::make_error_code(std::errc::not_enough_memory);
        if (error) return failed(task.path, error);
        written(cardLine(task.path, task.preset, task.card.report, false));
        ++filesWritten_;
    }

    // A card of a set goes to its file and into the PDF at once; it is not kept.
    void write(SetPageTask& task) {
        SetOutput& set = *task.set;
        if (task.page <= set.lastPage) {  // drawn again from the start after its page died
            set.rollBack();
            set.failed = false;
        }
        set.lastPage = task.page;
        if (set.failed) return;
        auto fail = [&](const std::filesystem::path& file, const std::error_code& error) {
            failed(file, error);
            set.failed = true;
            set.rollBack();
        };
        if (set.pngs) {
            const auto file = pagePath(set.path, task.page, task.pages);
            const auto png =
                CardFormats::encodeAt(*task.card.image, set.preset.width, set.preset.height, format_, set.words);
            const std::error_code error =
                png ? writeFileAtomically(file, *png) : std::make_error_code(std::errc::not_enough_memory);
            if (error) return fail(file, error);
            set.written.push_back(file);
            set.lines.push_back(cardLine(file, set.preset, task.card.report, true));
        }
        if (set.pdf) {
            if (!set.pdfWriter) {
                set.pdfFile = std::make_unique<AtomicFileWriter>(*set.pdf);
                AtomicFileWriter* file = set.pdfFile.get();
                set.pdfWriter = std::make_unique<PdfWriter>(
                    [file](const std::uint8_t* data, std::size_t size) { return file->write(data, size); }, set.words);
            }
            if (!set.pdfWriter->addPage(task.card.image)) {
                const std::error_code error = set.pdfFile->error();
                return fail(*set.pdf, error ? error : std::make_error_code(std::errc::io_error));
            }
        }
    }

    void write(SetEndTask& task) {
        SetOutput& set = *task.set;
        set.ended = true;
        if (!task.rendered) return set.rollBack();
        if (set.failed) return;
        if (set.pdf) {
            std::error_code error;
            if (!set.pdfWriter || !set.pdfWriter->finish())
                error = set.pdfFile && set.pdfFile->error() ? set.pdfFile->error() : std::make_error_code(std::errc::io_error);
            if (!error) error = set.pdfFile->commit();
            if (error) {
                failed(*set.pdf, error);
                set.failed = true;
                return set.rollBack();
            }
            set.lines.push_back(report_ ? pdfReportLine(*set.pdf, set.lastPage)
                                        : printable(*set.pdf) + "  " + std::to_string(set.lastPage) +
                                              (set.lastPage == 1 ? " page" : " pages"));
        }
        for (const std::string& line : set.lines) written(line);
        filesWritten_ += int(set.lines.size());
    }

    void loop() {
        while (true) {
            EncodeTask task = SetEndTask{};
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            std::visit([this](auto& t) { write(t); }, task);
            {
                std::lock_guard lock(mutex_);
                --backlog_;
            }
            room_.notify_all();
            // A card or a set is done; a set's single card or failed end is not one more.
            const bool done = std::holds_alternative<CardTask>(task) ||
                              (std::holds_alternative<SetEndTask>(task) && std::get<SetEndTask>(task).rendered);
            if (done) MainThread::post(lifetime_.guard([this] { onDone_(); }));
        }
    }

    bool report_;
    CardFormats::Format format_;
    std::function<void()> onDone_;
    std::mutex mutex_;
    std::condition_variable wake_, room_;
    std::deque<EncodeTask> tasks_;
    std::size_t backlog_ = 0;
    bool closing_ = false;
    std::atomic<int> failures_{0};
    std::atomic<int> filesWritten_{0};
    std::thread worker_;
    Lifetime lifetime_;
};

}  // namespace

CardRequest requestFor(const CardJob& card, const RenderOptions& options) {
    CardRequest request{.markdown = card.note->markdown, .settings = card.note->look.settings, .density = options.density};
    request.settings.size = card.preset;
    request.pictures.noteFolder = card.note->folder;
    request.pictures.more = options.pictureFolders;
    return request;
}

// Names each picture of a note that is not on its cards, once per note. Main thread.
void warnAboutPictures(const Note& note, const LayoutReport& report) {
    for (const RefusedPicture& refused : report.refusedPictures) {
        if (!note.warnedPictures.insert(refused.target).second) continue;
        std::fprintf(stderr, "norvo render: %s: picture \u201c%s\u201d not shown: %s\n", note.label.c_str(),
                     refused.target.c_str(), refused.reason.c_str());
    }
}

// --copy: the one card, drawn and handed to the clipboard server.
int copyCard(const CardJob& card, const RenderOptions& options) {
    RenderEngine engine;
    CardImagePtr image;
    bool done = false;
    auto loop = Glib::MainLoop::create();
    const CardRequest request = requestFor(card, options);
    engine.renderWithReport(request,
                            [&](RenderedCard drawn) {
                                if (drawn.image) warnAboutPictures(*card.note, drawn.report);
                                image = std::move(drawn.image);
                                done = true;
                                loop->quit();
                            },
                            false);
    if (!done) loop->run();
    if (!image) {
        std::fprintf(stderr, "norvo render: rendering %s failed\n", card.note->label.c_str());
        return 1;
    }
    const Preset size = request.drawnSize();
    std::optional<CardImage> scaled;
    if (image->width() != size.width || image->height() != size.height)
        scaled.emplace(image->scaledTo(int(size.width), int(size.height)));
    if (!ClipboardServer::hand(scaled ? *scaled : *image, AltText::fromMarkdown(card.note->markdown))) return 1;
    std::printf("clipboard  %lldx%lld\n", static_cast<long long>(size.width), static_cast<long long>(size.height));
    return 0;
}

// Whether a note read from `label` can be rendered; if not, says why on stderr. An empty
// note can: it makes its (empty) card, and the warning says it was not a mistake of ours.
bool readable(const std::string& label, const NoteFileRead& read) {
    switch (read.problem) {
    case NoteFileRead::Problem::None:
        if (read.text.find_first_not_of(" \t\r\n\f\v") == std::string::npos)
            std::fprintf(stderr, "norvo render: %s: empty note\n", label.c_str());
        return true;
    case NoteFileRead::Problem::System:
        std::fprintf(stderr, "norvo render: %s: %s\n", label.c_str(), reason(read.error).c_str());
        break;
    case NoteFileRead::Problem::Folder:
        std::fprintf(stderr, "norvo render: %s: is a folder\n", label.c_str());
        break;
    case NoteFileRead::Problem::NotAFile:
        std::fprintf(stderr, "norvo render: %s: %s\n", label.c_str(), read.notAFile.c_str());
        break;
    case NoteFileRead::Problem::TooLong:
        std::fprintf(stderr, "norvo render: %s: too long to render (over 1 MiB)\n", label.c_str());
        break;
    case NoteFileRead::Problem::NulByte:
        std::fprintf(stderr, "norvo render: %s contains a NUL byte at offset %zu\n", label.c_str(), read.nulOffset);
        break;
    case NoteFileRead::Problem::NotUtf8:
        std::fprintf(stderr, "norvo render: %s is not UTF-8 text\n", label.c_str());
        break;
    }
    return false;
}

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
    for (const std::string& folder : options.pictureFolders) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec)) {
            std::fprintf(stderr, "norvo render: --images %s: not a folder\n", folder.c_str());
            return 2;
        }
    }
    // A closed standard input is an error to report, and its slot must not be taken by the
    // next file opened, which would then be read as "-".
    const bool stdinClosed = fcntl(STDIN_FILENO, F_GETFD) < 0 && errno == EBADF;
    if (stdinClosed) {
        const int null = ::open("/dev/null", O_RDONLY);
        if (null > STDIN_FILENO) ::close(null);
    }

    // --style: a style that cannot be read leaves the cards in the theme, and says why.
    CardStyle runStyle;
    if (!options.style.empty()) {
        StyleRead read = StyleFiles::load(options.style);
        if (read.problem)
            std::fprintf(stderr, "norvo render: --style: %s; the theme is used\n", read.problem->message.c_str());
        else
            runStyle = std::move(read.style);
    }

    int failures = 0;
    std::deque<Note> notes;  // stable addresses
    for (const std::string& input : options.inputs) {
        const std::string label = input == "-" ? "standard input" : input;
        NoteFileRead read;
        if (input == "-" && stdinClosed) {
            read.problem = NoteFileRead::Problem::System;
            read.error = EBADF;
        } else {
            read = readNoteFile(input, Card::kMaxMarkdownBytes);
        }
        if (readable(label, read)) {
            std::string folder;
            if (input != "-") {
                const auto parent = std::filesystem::path(input).parent_path();
                folder = parent.empty() ? "." : parent.string();
            }
            NoteLook look = lookOf(label, read.text, options, runStyle);
            notes.push_back(Note{label, std::move(read.text), std::move(folder), std::move(look), {}, {}});
            continue;
        }
        ++failures;
    }

    std::vector<CardJob> cards;
    for (Note& n : notes)
        for (const Preset& p : n.look.presets) {
            n.firstCards.push_back(cards.size());
            cards.push_back(CardJob{&n, p});
        }
    if (cards.empty()) return failures ? 1 : 0;

    if (gtk_init_check()) StartupTimeline::mark("gtk-ready");
    else {
        std::fprintf(stderr, "norvo render: no display to render on; run it under xvfb-run -a, or use ./run render\n");
        return 1;
    }
    if (options.copy) return copyCard(cards.front(), options);

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
    const std::string extension = CardFormats::extension(options.format);
    auto isSet = [&](const CardJob& card) { return card.note->look.settings.pages || options.pdf; };
    for (const CardJob& card : cards) {
        if (options.outputFile)
            paths.push_back(names.claim(*options.outputFile));
        else if (isSet(card))
            paths.push_back(names.claimSet(options.outputFolder, Card::slug(card.note->markdown, "card"), card.preset.id,
                                           extension));
        else
            paths.push_back(names.claim(options.outputFolder / std::filesystem::path(Card::fileName(
                                                                    card.note->markdown, card.preset.id))
                                                                   .replace_extension(extension)));
    }

    // One page draws while the encoder thread writes the finished cards and the app paints the
    // next backdrop: on two cores that keeps both busy, and a second page (a web process of its
    // own, about 90 MB) was measured no faster. With four cores or more, two pages draw side by
    // side.
    const std::size_t engineCount = std::min<std::size_t>(cards.size(), std::thread::hardware_concurrency() >= 4 ? 2 : 1);
    std::vector<std::unique_ptr<RenderEngine>> engines;
    for (std::size_t e = 0; e < engineCount; ++e) engines.push_back(std::make_unique<RenderEngine>());
    std::vector<bool> busy(engineCount, false);
    std::vector<std::shared_ptr<SetOutput>> outputs;  // the sets of this run

    auto loop = Glib::MainLoop::create();
    std::size_t next = 0, finished = 0;
    int interrupted = 0;  // the signal that stopped the run
    // On a terminal, a batch shows how far it is, on one line that is rewritten.
    const bool progress = cards.size() > 1 && isatty(STDERR_FILENO) && !options.watch;
    auto cardDone = [&] {
        ++finished;
        if (progress) std::fprintf(stderr, "\r\033[K%zu/%zu cards%s", finished, cards.size(),
                                   finished == cards.size() ? "\n" : "");
        if (finished == cards.size() && !options.watch) loop->quit();
    };
    std::function<void()> renderNext;
    EncoderThread encoder(options.report, options.format, [&] {
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
            const CardRequest request = requestFor(card, options);
            auto renderFailed = [&, card] {
                std::fprintf(stderr, "norvo render: rendering %s failed\n", card.note->label.c_str());
                ++failures;
                cardDone();
            };
            if (isSet(card)) {
                auto out = std::make_shared<SetOutput>();
                out->preset = request.drawnSize();
                out->path = paths[i];
                out->pngs = !options.pdf || card.note->look.settings.pages;
                out->words = wordsOf(card.note->markdown);
                if (options.pdf) {
                    out->pdf = std::filesystem::path(paths[i]).replace_extension(".pdf");
                }
                outputs.push_back(out);
                engines[e]->renderPages(
                    request,
                    [&, out, e, renderFailed, card](std::vector<RenderedCard> rendered) {
                        if (interrupted) return;  // the run is ending: nothing more is written
                        busy[e] = false;
                        for (const RenderedCard& drawn : rendered) warnAboutPictures(*card.note, drawn.report);
                        encoder.push(SetEndTask{out, !rendered.empty()});
                        if (rendered.empty()) renderFailed();
                        renderNext();
                    },
                    [&, out](RenderedCard drawn, std::size_t page, std::size_t pages) {
                        if (interrupted) return;
                        encoder.push(SetPageTask{out, std::move(drawn), page, pages});
                        encoder.waitForRoom(2);
                    });
                continue;
            }
            auto done = [&, card, i, e, renderFailed, request](RenderedCard rendered) {
                if (interrupted) return;  // the run is ending: nothing more is written
                busy[e] = false;
                if (rendered.image) warnAboutPictures(*card.note, rendered.report);
                if (rendered.image)
                    encoder.push(CardTask{std::move(rendered), request.drawnSize(), paths[i], wordsOf(card.note->markdown)});
                else
                    renderFailed();
                renderNext();
            };
            engines[e]->renderWithReport(request, std::move(done), options.report);
        }
    };

    // --watch: a note's cards are drawn again, under the same names, once its file has been
    // saved and then left alone for 0.1 s (an editor's save is often several writes, or a new
    // file renamed over the old one).
    struct Watched {
        std::size_t note = 0;
        Glib::RefPtr<Gio::FileMonitor> monitor;
        sigc::connection settle;
        bool unreadable = false;  // its last save could not be read: a change of rights may fix it
    };
    std::vector<std::unique_ptr<Watched>> watched;
    auto renderAgain = [&](Watched& w) {
        Note& note = notes[w.note];
        std::error_code gone;
        if (!std::filesystem::exists(std::filesystem::symlink_status(note.label, gone))) {
            std::fprintf(stderr, "norvo render: %s was removed; its cards stay, and it is drawn again if it comes back\n",
                         note.label.c_str());
            return;
        }
        const NoteFileRead read = readNoteFile(note.label, Card::kMaxMarkdownBytes);
        w.unreadable = !read.ok();
        if (!readable(note.label, read)) return;
        // An editor that empties the file before it writes it: the good cards are kept until
        // the note has text again.
        if (read.text.find_first_not_of(" \t\r\n\f\v") == std::string::npos && !note.markdown.empty()) {
            std::fprintf(stderr, "norvo render: %s: its cards stay until it has text again\n", note.label.c_str());
            return;
        }
        note.markdown = read.text;
        // The note's new look, on the cards it had: their sizes and names stay for the run.
        const std::vector<Preset> presets = note.look.presets;
        const bool pages = note.look.settings.pages;
        note.look = lookOf(note.label, note.markdown, options, runStyle);
        note.look.presets = presets;
        note.look.settings.pages = pages;
        for (const std::size_t first : note.firstCards) {
            cards.push_back(CardJob{&note, cards[first].preset});
            const std::filesystem::path path = paths[first];
            paths.push_back(path);
        }
        renderNext();
    };
    if (options.watch) {
        for (std::size_t k = 0; k < notes.size(); ++k) {
            auto w = std::make_unique<Watched>();
            w->note = k;
            try {
                w->monitor = Gio::File::create_for_path(notes[k].label)->monitor_file(Gio::FileMonitorFlags::WATCH_MOVES);
            } catch (const Glib::Error& e) {
                std::fprintf(stderr, "norvo render: cannot watch %s: %s\n", notes[k].label.c_str(), e.what());
                continue;
            }
            Watched* raw = w.get();
            w->monitor->signal_changed().connect(
                [&, raw](const Glib::RefPtr<Gio::File>&, const Glib::RefPtr<Gio::File>&, Gio::FileMonitor::Event event) {
                    using Event = Gio::FileMonitor::Event;
                    // Rights and times alone change nothing, unless the note could not be read.
                    if (event == Event::ATTRIBUTE_CHANGED && !raw->unreadable) return;
                    raw->settle.disconnect();
                    raw->settle = Glib::signal_timeout().connect(
                        [&, raw] {
                            renderAgain(*raw);
                            return false;
                        },
                        100);
                });
            watched.push_back(std::move(w));
        }
    }

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
        // A set that was still coming in leaves nothing behind.
        for (const auto& out : outputs)
            if (!out->ended) out->rollBack();
        std::fprintf(stderr, "%snorvo render: %s; %d %s written, each named above\n", progress ? "\n" : "",
                     interrupted == SIGINT ? (options.watch ? "stopped watching" : "interrupted") : "terminated",
                     encoder.filesWritten(), encoder.filesWritten() == 1 ? "file" : "files");
        // Ctrl+C is how a watch ends.
        if (options.watch && interrupted == SIGINT) return 0;
        return 128 + interrupted;
    }
    failures += encoder.failures();
    return failures ? 1 : 0;
}

int serveClipboard(const char* folder) { return ClipboardServer::serve(folder); }

}  // namespace norvo::RenderCommand
