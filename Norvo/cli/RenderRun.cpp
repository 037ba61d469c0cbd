#include "cli/RenderRun.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>
#include <glib/gi18n.h>

#include "ClipboardServer.hpp"
#include "cli/OutputLines.hpp"
#include "norvo/AltText.hpp"
#include "norvo/Card.hpp"

namespace norvo {

CardRequest requestFor(const NoteCard& card, const RenderOptions& options) {
    CardRequest request{.markdown = card.note->markdown, .settings = card.note->look.settings, .density = options.density};
    request.settings.size = card.preset;
    request.pictures.noteFolder = card.note->folder;
    request.pictures.more = options.pictureFolders;
    return request;
}

void warnAboutPictures(const Note& note, const LayoutReport& report) {
    for (const RefusedPicture& refused : report.refusedPictures) {
        if (!note.warnedPictures.insert(refused.target).second) continue;
        std::fprintf(stderr,
                     refused.kind == RefusedPicture::Kind::Font ? _("norvo render: %s: font \u201c%s\u201d not used: %s\n")
                                                                : _("norvo render: %s: picture \u201c%s\u201d not shown: %s\n"),
                     note.label.c_str(), refused.target.c_str(), refused.reason.c_str());
    }
}

int copyCard(const NoteCard& card, const RenderOptions& options) {
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
        std::fprintf(stderr, _("norvo render: rendering %s failed\n"), card.note->label.c_str());
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

namespace {
constexpr std::size_t kMostSetCards = 20;  // the page's MAX_PAGES

// A FIFO or device takes card after card; a file holds one.
bool isStream(const std::filesystem::path& path) {
    struct stat st {};
    return descriptorNamedBy(path) || (::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)));
}
}  // namespace

RenderRun::RenderRun(const RenderOptions& options, std::deque<Note>& notes) : options_(options), notes_(&notes) {
    for (Note& n : notes)
        for (const Preset& p : n.look.presets) {
            n.firstCards.push_back(cards_.size());
            cards_.push_back(cardOf(borrowed(n), p, options_));
        }
    counter_ = cards_.size() > 1 && isatty(STDERR_FILENO) && !options_.watch;
    start();
}

RenderRun::RenderRun(const RenderOptions& options, AnswerSink answerTo)
    : options_(options), stream_(true), closed_(false), answerTo_(std::move(answerTo)) {
    start();
}

RenderRun::~RenderRun() = default;

void RenderRun::start() {
    // A card written to standard output is the whole of it: the lines go to standard error.
    const bool cardOnStdout = options_.outputFile && descriptorNamedBy(*options_.outputFile) == STDOUT_FILENO;
    encoder_ = std::make_unique<EncoderThread>(EncoderThread::Setup{options_.report, cardOnStdout ? stderr : stdout, stream_, answerTo_},
                                               [this](bool cardOrSetDone) {
                                                   // A stream whose answers nobody reads draws nothing more.
                                                   if (stream_ && encoder_->linesLost()) return stop();
                                                   if (cardOrSetDone) cardDone();
                                                   for (auto& engine : engines_) engine->resumeSets();
                                                   renderNext();
                                               });
}

NoteCard RenderRun::cardOf(std::shared_ptr<const Note> note, const Preset& preset, const RenderOptions& options) const {
    const bool set = note->look.settings.pages || options.pdf;
    return NoteCard{.note = std::move(note),
                    .preset = preset,
                    .format = options.format,
                    .set = set,
                    .pdf = options.pdf,
                    .links = options.outputFile && !set ? WriteRules::Links::WriteThrough : WriteRules::Links::Replace};
}

// The one naming rule: the file the user named, as typed; else a name made from the note's
// first line and the size, never one handed out before in the run, nor a note of the run.
std::filesystem::path RenderRun::claimName(const NoteCard& card, const RenderOptions& options) {
    if (options.outputFile) return *options.outputFile;
    const std::string extension = CardFormats::extension(card.format);
    const std::string& markdown = card.note->markdown;
    auto isNote = [this](const std::filesystem::path& path) {
        std::error_code ec;
        return notes_ && std::any_of(notes_->begin(), notes_->end(), [&](const Note& n) {
                   return !n.folder.empty() && std::filesystem::equivalent(n.label, path, ec);
               });
    };
    // With keepFiles, a made name passes over what is in the folder already, whoever made it.
    auto isThere = [&](const std::filesystem::path& path) {
        std::error_code ec;
        if (!options.keepFiles) return false;
        if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found) return true;
        for (std::size_t page = 1; card.set && page <= kMostSetCards; ++page)
            if (std::filesystem::symlink_status(setCardFile(path, page, 2), ec).type() !=
                std::filesystem::file_type::not_found)
                return true;
        return false;
    };
    std::filesystem::path path;
    do {
        path = card.set ? names_.claimSet(options.outputFolder, Card::slug(markdown, "card"), card.preset.id, extension)
                        : names_.claim(options.outputFolder /
                                       std::filesystem::path(Card::fileName(markdown, card.preset.id))
                                           .replace_extension(extension));
    } while (isNote(path) || isThere(path));
    return path;
}

// Output names are handed out in input order, whichever card finishes first; a set's name is
// claimed for all of its cards.
void RenderRun::claimNames() {
    for (NoteCard& card : cards_) card.path = claimName(card, options_);
}

void RenderRun::add(std::shared_ptr<const Note> note, const RenderOptions& request, const std::string& id) {
    NoteCard card = cardOf(note, note->look.presets.front(), request);
    card.answerId = id;
    card.path = claimName(card, request);
    // Two requests never write one file, however it is named: the second would replace the
    // first's card unseen.
    if (request.outputFile && !isStream(card.path) && !names_.take(card.path))
        card.refused = "\"output\" " + printable(card.path) + " is written by an earlier request";
    cards_.push_back(std::move(card));
    renderNext();
}

void RenderRun::refuse(const std::string& id, const std::string& message) {
    cards_.push_back(NoteCard{.answerId = id, .refused = message});
    renderNext();
}

void RenderRun::close() {
    closed_ = true;
    if (finished_ == cards_.size()) loop_->quit();
}

int RenderRun::run() {
    if (!stream_) {
        claimNames();
        // Another run's share keeps the names it took, and is not drawn here.
        std::erase_if(cards_, [](const NoteCard& card) { return !card.note->mine; });
        if (cards_.empty()) return 0;
    }
    // One page draws while the writer writes the finished cards and the app paints the next
    // backdrop: on two cores that keeps both busy, and a second page (a web process of its
    // own, about 90 MB) was measured no faster. With four cores or more, two pages draw side
    // by side. A stream's answers keep their order on one page.
    const std::size_t pages = stream_ ? 1 : options_.jobs ? options_.jobs : std::thread::hardware_concurrency() >= 4 ? 2 : 1;
    const std::size_t engineCount = stream_ ? 1 : std::min<std::size_t>(cards_.size(), pages);
    for (std::size_t e = 0; e < engineCount; ++e) engines_.push_back(std::make_unique<RenderEngine>());
    inFlight_.assign(engineCount, 0);
    renderNext();
    if (!(closed_ && finished_ == cards_.size())) loop_->run();
    engines_.clear();  // cards still being drawn are dropped
    if (stopped_) {
        encoder_->finish();
        // A set that was still coming in leaves nothing behind.
        for (const auto& out : outputs_)
            if (!out->ended) out->rollBack();
    }
    return failures_ + encoder_->failures();
}

void RenderRun::stop() {
    stopped_ = true;
    encoder_->dropWaiting();
    loop_->quit();
}

void RenderRun::again(std::size_t k) {
    for (const std::size_t first : (*notes_)[k].firstCards) cards_.push_back(cards_[first]);
    renderNext();
}

void RenderRun::cardDone() {
    ++finished_;
    if (counter_) {
        std::fprintf(stderr, "\r\033[K");  // back to the line's start, and clear it
        std::fprintf(stderr, _("%zu/%zu cards"), finished_, cards_.size());
        if (finished_ == cards_.size()) std::fprintf(stderr, "\n");
    }
    if (progress_) progress_();
    if (finished_ == cards_.size() && closed_ && !options_.watch) loop_->quit();
}

void RenderRun::renderFailed(const NoteCard& card) {
    if (!card.answerId.empty())  // answered in its turn; the answer counts as its end
        return encoder_->push(AnswerTask{card.answerId, "the card could not be drawn"});
    std::fprintf(stderr, _("norvo render: rendering %s failed\n"), card.note->label.c_str());
    ++failures_;
    cardDone();
}

// A refused request is answered once every card before it is with the writer, so that the
// answers keep the requests' order.
bool RenderRun::answerRefused(std::size_t i) {
    if (std::any_of(inFlight_.begin(), inFlight_.end(), [](std::size_t n) { return n > 0; })) return false;
    encoder_->push(AnswerTask{cards_[i].answerId, cards_[i].refused});
    return true;
}

void RenderRun::renderNext() {
    // Each page holds the card after the one it draws, so it lays that one out while the
    // last card's pixels are copied; the page with fewer in hand takes the next.
    while (next_ < cards_.size() && !stopped_) {
        // A bounded queue in front of the writer bounds memory too.
        if (encoder_->backlog() >= EncoderThread::kMaxBacklog) return;
        if (!cards_[next_].refused.empty()) {
            if (!answerRefused(next_)) return;
            ++next_;
            continue;
        }
        const auto least = std::min_element(inFlight_.begin(), inFlight_.end());
        if (least == inFlight_.end() || *least >= kCardsPerPage) return;
        const std::size_t e = std::size_t(least - inFlight_.begin());
        ++inFlight_[e];
        const std::size_t i = next_++;
        const CardRequest request = requestFor(cards_[i], options_);
        if (cards_[i].set)
            drawSet(e, i, request);
        else
            drawCard(e, i, request);
        if (stream_) cards_[i].note.reset();  // its callbacks hold it while it is drawn
    }
}

void RenderRun::drawSet(std::size_t e, std::size_t i, const CardRequest& request) {
    const NoteCard card = cards_[i];
    auto out = std::make_shared<SetOutput>();
    out->target = {.base = card.path,
                   .size = request.drawnSize(),
                   .format = card.format,
                   .pictures = !card.pdf || card.note->look.settings.pages,
                   .words = cardWords(card.note->markdown)};
    out->answerId = card.answerId;
    if (card.pdf) out->target.pdf = std::filesystem::path(card.path).replace_extension(".pdf");
    outputs_.push_back(out);
    engines_[e]->renderPages(
        request,
        [this, out, e, card](std::vector<RenderedCard> rendered) {
            if (stopped_) return;  // the run is ending: nothing more is written
            --inFlight_[e];
            if (card.answerId.empty())
                for (const RenderedCard& drawn : rendered) warnAboutPictures(*card.note, drawn.report);
            encoder_->push(SetEndTask{out, !rendered.empty()});
            if (rendered.empty()) renderFailed(card);
            renderNext();
        },
        [this, out](RenderedCard drawn, std::size_t page, std::size_t pages) {
            if (stopped_) return;
            encoder_->push(SetPageTask{out, std::move(drawn), page, pages});
        },
        // Cards are drawn no faster than they are written, so a set is never held whole; the
        // main loop goes on meanwhile (signals, other engines).
        [this] { return encoder_->queued() <= 2; });
}

void RenderRun::drawCard(std::size_t e, std::size_t i, const CardRequest& request) {
    const NoteCard card = cards_[i];
    engines_[e]->renderWithReport(
        request,
        [this, card, e, size = request.drawnSize()](RenderedCard rendered) {
            if (stopped_) return;  // the run is ending: nothing more is written
            --inFlight_[e];
            if (rendered.image) {
                if (card.answerId.empty()) warnAboutPictures(*card.note, rendered.report);
                // A long picture cut at its greatest height says so; a table cut at its width says so on the card.
                if (rendered.report.cut && size.stoppedAtItsCap(writtenSize(*rendered.image, size).height))
                    std::fprintf(stderr,
                                 _("norvo render: %s is longer than a long picture's %lld px: the rest is cut "
                                   "(--pages makes a set of cards of it)\n"),
                                 card.note->label.c_str(), static_cast<long long>(Presets::kLongCap));
                encoder_->push(CardTask{std::move(rendered), size, card.path, cardWords(card.note->markdown), card.format,
                                        card.links, card.answerId});
            } else {
                renderFailed(card);
            }
            renderNext();
        },
        options_.report || !card.answerId.empty());
}

}  // namespace norvo
