#include "cli/RequestStream.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include <glib-unix.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli/NoteInputs.hpp"
#include "cli/OutputLines.hpp"
#include "engine/PageProtocol.hpp"
#include "image/CardWriter.hpp"
#include "norvo/Card.hpp"
#include "norvo/Catalogue.hpp"
#include "support/AtomicFile.hpp"
#include "support/StyleFiles.hpp"

namespace norvo {

namespace {

using nlohmann::json;

constexpr std::size_t kLongestLine = 8u << 20;  // a 1 MiB note, escaped, and room to spare

// A request's answer line, whether it says the request failed, and the files it wrote.
struct Answer {
    std::string line;
    bool failed = false;
    std::vector<std::filesystem::path> files{};
};

// Where a request's cards go, and what goes into them.
struct StreamOutput {
    std::string id;
    std::filesystem::path path;
    Preset size;
    bool pages = false;
    CardFormats::Format format = CardFormats::Format::Png;
    CardWords words;
    WriteRules::Links links = WriteRules::Links::Replace;
};

std::string jsonText(const std::string& s) { return json(s).dump(-1, ' ', false, json::error_handler_t::replace); }

std::string errorLine(const std::string& id, const std::string& message) {
    return "{\"id\":" + id + ",\"error\":" + jsonText(message) + "}";
}

// The value at `key` when it is a string; an error when it is there but is not.
std::optional<std::string> stringAt(const json& j, const char* key, std::string& error) {
    const auto it = j.find(key);
    if (it == j.end()) return std::nullopt;
    if (!it->is_string()) {
        error = std::string("\"") + key + "\" is not text";
        return std::nullopt;
    }
    return it->get<std::string>();
}

// The look settings a request may change, each checked as its option is.
std::optional<std::string> takeSettings(const json& j, RenderOptions& o) {
    std::string error;
    for (const CardSettingRow& row : cardSettingRows()) {
        const auto it = j.find(row.key);
        if (it == j.end()) continue;
        CardSettings scratch;
        const auto text = jsonSettingText(row, *it);
        if (!text)
            return "\"" + std::string(row.key) + "\" is not " +
                   (row.kind == CardSettingRow::Kind::Choice ? std::string("text") : *row.take(scratch, ""));
        if (const auto expected = row.take(o.card, *text)) return whyNotASetting(row, *text, *expected);
        if (row.key == "size") o.presets = {o.card.size};
    }
    if (const auto format = stringAt(j, "format", error)) {
        const auto known = CardFormats::byName(*format);
        if (!known) return "unknown format '" + *format + "' (png, jpeg or webp)";
        o.format = *known;
    }
    if (const auto output = stringAt(j, "output", error)) {
        // As with -o, the file's ending says what it holds.
        o.outputFile = *output;
        const auto named = CardFormats::namedBy(*output);
        if (named && j.contains("format") && *named != o.format)
            return "\"output\" ends in " + o.outputFile->extension().string() + " but \"format\" asks for " +
                   j["format"].get<std::string>();
        if (named) o.format = *named;
    }
    if (!error.empty()) return error;
    return std::nullopt;
}

}  // namespace

namespace {

// Where a request's card may go: as -o allows, and never into the stream's own answers.
std::optional<std::string> whyNotAnOutput(const StreamRequest& request, const std::optional<std::string>& file) {
    const std::filesystem::path& output = *request.options.outputFile;
    if (const auto fd = descriptorNamedBy(output); output == "-" || (fd && *fd <= 2))
        return std::string("\"output\" names the stream's own input, answers or errors");
    std::vector<std::string> notes;
    if (file) notes.push_back(*file);
    if (const auto why = whyNotACardFile(output, notes)) return "\"output\" " + *why;
    return std::nullopt;
}

// Whether `value` nests no deeper than `levels` (a deep one would overflow the stack when echoed).
bool shallow(const json& value, int levels) {
    if (!value.is_structured()) return true;
    if (levels == 0) return false;
    for (const auto& inner : value) if (!shallow(inner, levels - 1)) return false;
    return true;
}

// A FIFO or device takes card after card; a file holds one.
bool isStream(const std::filesystem::path& path) {
    struct stat st {};
    return descriptorNamedBy(path) || (::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)));
}

// Writes a request's cards (one, or a set) and makes its answer. Any thread.
Answer writeCards(const std::vector<RenderedCard>& cards, const StreamOutput& out) {
    SetWriter set({.base = out.path, .size = out.size, .format = out.format, .words = out.words, .links = out.links});
    for (std::size_t i = 0; i < cards.size(); ++i)
        if (const auto error = set.add(cards[i].image, i + 1, cards.size()))
            return {errorLine(out.id, "could not write " + printable(set.failedFile()) + ": " + error.message()), true};
    if (const auto error = set.commit())
        return {errorLine(out.id, "could not write " + printable(out.path) + ": " + error.message()), true};
    if (!out.pages || cards.size() == 1) {
        const Preset shown = writtenSize(*cards.front().image, out.size);
        const std::string line = reportLine(setCardFile(out.path, 1, 1), shown, cards.front().report, out.pages);
        return {"{\"id\":" + out.id + "," + line.substr(1), false, set.cardFiles()};
    }
    std::string files, reports;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        files += (i ? "," : "") + jsonText(printable(setCardFile(out.path, i + 1, cards.size())));
        reports += std::string(i ? "," : "") + "{" + PageProtocol::reportMembers(cards[i].report, true) + "}";
    }
    return {"{\"id\":" + out.id + ",\"files\":[" + files + "],\"pages\":" + std::to_string(cards.size()) +
                ",\"reports\":[" + reports + "]}",
            false, set.cardFiles()};
}

}  // namespace

std::optional<std::string> parseStreamRequest(const std::string& line, std::size_t number,
                                              const RenderOptions& defaults, StreamRequest& out) {
    out.id = std::to_string(number);
    const json j = json::parse(line, nullptr, false);
    if (!j.is_object()) return std::string("the request is not a JSON object");
    if (const auto id = j.find("id"); id != j.end()) {
        if (!shallow(*id, 16)) return std::string("\"id\" is nested too deeply to be echoed");
        out.id = id->dump(-1, ' ', false, json::error_handler_t::replace);
    }
    static const char* const kKeys[] = {"id", "markdown", "file", "style", "format", "output"};
    for (const auto& [key, value] : j.items())
        if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys) && !settingByKey(key))
            return "unknown key \"" + key + "\"";
    out.options = defaults;
    if (auto error = takeSettings(j, out.options)) return error;
    std::string error;
    const auto markdown = stringAt(j, "markdown", error);
    const auto file = stringAt(j, "file", error);
    if (const auto style = stringAt(j, "style", error)) out.style = *style;
    if (!error.empty()) return error;
    if (markdown.has_value() == file.has_value()) return std::string("a request has \"markdown\" or \"file\", one of them");
    if (out.options.outputFile)
        if (auto why = whyNotAnOutput(out, file)) return why;
    if (markdown) {
        if (markdown->size() > Card::kMaxMarkdownBytes) return std::string("the note is too long to render (over 1 MiB)");
        if (const auto nul = markdown->find('\0'); nul != std::string::npos)
            return "the note contains a NUL byte at offset " + std::to_string(nul);
        out.markdown = *markdown;
        out.label = "request " + out.id;
        return std::nullopt;
    }
    if (const auto fd = descriptorNamedBy(*file); *file == "-" || (fd && *fd <= 2))
        return std::string("\"file\" names the stream's own input, answers or errors");
    const NoteFileRead read = readNoteFile(*file, Card::kMaxMarkdownBytes);
    if (!read.ok()) return whyUnreadable(*file, read);
    out.markdown = read.text;
    out.label = *file;
    const auto parent = std::filesystem::path(*file).parent_path();
    out.folder = parent.empty() ? "." : parent.string();
    return std::nullopt;
}

RequestStream::RequestStream(const RenderOptions& defaults) : defaults_(defaults) {}

RequestStream::~RequestStream() {
    stopped_ = true;
    if (watch_) g_source_remove(watch_);
}

int RequestStream::run() {
    watch_ = g_unix_fd_add(STDIN_FILENO, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), +[](int, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<RequestStream*>(data);
        self->readable();
        if (!self->ended_) return G_SOURCE_CONTINUE;
        self->watch_ = 0;
        return G_SOURCE_REMOVE;
    }, this);
    loop_->run();
    return failures_;
}

void RequestStream::stop() {
    stopped_ = true;
    ended_ = true;
    lines_.clear();
    loop_->quit();
}

// Main thread: what standard input has now, cut into lines (one read: it does not block).
void RequestStream::readable() {
    char buffer[1 << 16];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        ended_ = true;
        if (!pending_.empty() && !skipping_) lines_.push_back(std::move(pending_));
        pending_.clear();
    } else {
        pending_.append(buffer, std::size_t(n));
        for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
            if (!skipping_) lines_.push_back(pending_.substr(0, nl));
            skipping_ = false;
            pending_.erase(0, nl + 1);
        }
        if (!skipping_ && pending_.size() > kLongestLine) {  // one answer says so; the rest of the line is dropped
            lines_.push_back({});
            tooLong_.insert(numbered_ + lines_.size());
            skipping_ = true;
        }
        if (skipping_) pending_.clear();
    }
    next();
}

// The oldest request still to answer, when none is being drawn.
void RequestStream::next() {
    while (!busy_ && !lines_.empty()) {
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        const std::size_t number = ++numbered_;
        if (line.find_first_not_of(" \t\r") == std::string::npos && !tooLong_.count(number)) continue;  // blank
        StreamRequest request{.id = std::to_string(number)};
        std::optional<std::string> error = tooLong_.count(number)
                                               ? std::optional<std::string>("the request is longer than 8 MiB")
                                               : parseStreamRequest(line, number, defaults_, request);
        if (error) {
            ++failures_;
            answer(errorLine(request.id, *error));
            continue;
        }
        draw(std::move(request));
    }
    if (!busy_ && lines_.empty() && ended_) loop_->quit();
}

void RequestStream::draw(StreamRequest request) {
    CardStyle style = request.options.card.style;
    if (!request.style.empty()) {
        StyleRead read = StyleFiles::load(request.style);
        if (read.problem) {
            ++failures_;
            answer(errorLine(request.id, "style: " + read.problem->message));
            return;
        }
        style = std::move(read.style);
    }
    const NoteLook look = lookOf(request.label, request.markdown, request.options, style);
    CardRequest card{.markdown = request.markdown, .settings = look.settings, .density = defaults_.density};
    card.settings.size = look.presets.front();
    card.pictures.noteFolder = request.folder;
    card.pictures.more = defaults_.pictureFolders;
    const std::string extension = CardFormats::extension(request.options.format);
    const bool pages = look.settings.pages;
    // Named now, in the order the requests came.
    std::filesystem::path path = request.options.outputFile ? *request.options.outputFile
                                 : pages ? names_.claimSet(request.options.outputFolder, Card::slug(card.markdown, "card"),
                                                           card.settings.size.id, extension)
                                         : names_.claim(request.options.outputFolder /
                                                        std::filesystem::path(Card::fileName(card.markdown,
                                                                                             card.settings.size.id))
                                                            .replace_extension(extension));
    // Two requests never write one file, however it is named: the second would replace the
    // first's card unseen.
    if (request.options.outputFile && !isStream(path) && (!names_.take(path) || wroteFile(path))) {
        ++failures_;
        answer(errorLine(request.id, "\"output\" " + printable(path) + " is written by an earlier request"));
        return;
    }
    busy_ = true;
    const bool explicitFile = request.options.outputFile && !pages;
    auto written = [this, out = StreamOutput{request.id, path, card.drawnSize(), pages, request.options.format,
                                             cardWords(card.markdown),
                                             explicitFile ? WriteRules::Links::WriteThrough : WriteRules::Links::Replace}](
                       std::vector<RenderedCard> cards) {
        if (stopped_) return;
        if (cards.empty() || !cards.front().image) {
            ++failures_;
            answer(errorLine(out.id, "the card could not be drawn"));
            busy_ = false;
            next();
            return;
        }
        writer_.run<Answer>([cards = std::move(cards), out] { return writeCards(cards, out); },  // on the writer's thread
                            [this](Answer written) {
                                if (stopped_) return;
                                if (written.failed) ++failures_;
                                for (const auto& file : written.files) noteWritten(file);
                                answer(written.line);
                                busy_ = false;
                                next();
                            });
    };
    if (pages)
        engine_.renderPages(card, std::move(written));
    else
        engine_.renderWithReport(card, [written](RenderedCard drawn) mutable {
            std::vector<RenderedCard> one;
            if (drawn.image) one.push_back(std::move(drawn));
            written(std::move(one));
        });
}

// Files this stream wrote, by the file itself: no later request writes one again, whatever
// name (a link, another spelling) it gives.
void RequestStream::noteWritten(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) written_.insert({st.st_dev, st.st_ino});
}

bool RequestStream::wroteFile(const std::filesystem::path& file) const {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && written_.count({st.st_dev, st.st_ino});
}

// An answer nobody can read ends the stream (its reader went away): nothing more is drawn.
void RequestStream::answer(const std::string& line) {
    if (answersLost_) return;
    if (std::fprintf(stdout, "%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) {
        answersLost_ = errno ? errno : EIO;
        std::fprintf(stderr, "norvo render: --stream: the answers cannot be written: %s\n", std::strerror(answersLost_));
        stop();
    }
}

}  // namespace norvo
