#include "cli/RenderRun.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

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

RenderRun::RenderRun(const RenderOptions& options, std::deque<Note>& notes) : options_(options), notes_(notes) {
    for (Note& n : notes_)
        for (const Preset& p : n.look.presets) {
            n.firstCards.push_back(cards_.size());
            cards_.push_back(NoteCard{&n, p});
        }
    progress_ = cards_.size() > 1 && isatty(STDERR_FILENO) && !options_.watch;
    // A card written to standard output is the whole of it: the lines go to standard error.
    const bool cardOnStdout = options_.outputFile && descriptorNamedBy(*options_.outputFile) == STDOUT_FILENO;
    const EncoderThread::Setup setup{options_.report, options_.format, cardOnStdout ? stderr : stdout,
                                     options_.outputFile ? WriteRules::Links::WriteThrough : WriteRules::Links::Replace};
    encoder_ = std::make_unique<EncoderThread>(setup, [this](bool cardOrSetDone) {
        if (cardOrSetDone) cardDone();
        for (auto& engine : engines_) engine->resumeSets();
        renderNext();
    });
}

RenderRun::~RenderRun() = default;

// Output names are handed out in input order, whichever card finishes first; a set's name is
// claimed for all of its cards.
void RenderRun::claimNames() {
    OutputNames names;
    const std::string extension = CardFormats::extension(options_.format);
    // A made name never lands on a note of the run (a note named "hello-square.png").
    auto isNote = [this](const std::filesystem::path& path) {
        std::error_code ec;
        return std::any_of(notes_.begin(), notes_.end(), [&](const Note& n) {
            return !n.folder.empty() && std::filesystem::equivalent(n.label, path, ec);
        });
    };
    for (const NoteCard& card : cards_) {
        std::filesystem::path path;
        if (options_.outputFile) {
            path = *options_.outputFile;  // as the user typed it: never shortened
        } else {
            do {
                path = isSet(card) ? names.claimSet(options_.outputFolder, Card::slug(card.note->markdown, "card"),
                                                    card.preset.id, extension)
                                   : names.claim(options_.outputFolder /
                                                 std::filesystem::path(Card::fileName(card.note->markdown, card.preset.id))
                                                     .replace_extension(extension));
            } while (isNote(path));
        }
        paths_.push_back(std::move(path));
    }
}

int RenderRun::run() {
    claimNames();
    // Another run's share keeps the names it took, and is not drawn here.
    for (std::size_t i = cards_.size(); i-- > 0;)
        if (!cards_[i].note->mine) {
            cards_.erase(cards_.begin() + std::ptrdiff_t(i));
            paths_.erase(paths_.begin() + std::ptrdiff_t(i));
        }
    if (cards_.empty()) return 0;
    // One page draws while the writer writes the finished cards and the app paints the next
    // backdrop: on two cores that keeps both busy, and a second page (a web process of its
    // own, about 90 MB) was measured no faster. With four cores or more, two pages draw side
    // by side.
    const std::size_t pages = options_.jobs ? options_.jobs : std::thread::hardware_concurrency() >= 4 ? 2 : 1;
    const std::size_t engineCount = std::min<std::size_t>(cards_.size(), pages);
    for (std::size_t e = 0; e < engineCount; ++e) engines_.push_back(std::make_unique<RenderEngine>());
    inFlight_.assign(engineCount, 0);
    renderNext();
    loop_->run();
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
    for (const std::size_t first : notes_[k].firstCards) {
        cards_.push_back(NoteCard{&notes_[k], cards_[first].preset});
        const std::filesystem::path path = paths_[first];
        paths_.push_back(path);
    }
    renderNext();
}

void RenderRun::cardDone() {
    ++finished_;
    if (progress_) {
        std::fprintf(stderr, "\r\033[K");  // back to the line's start, and clear it
        std::fprintf(stderr, _("%zu/%zu cards"), finished_, cards_.size());
        if (finished_ == cards_.size()) std::fprintf(stderr, "\n");
    }
    if (finished_ == cards_.size() && !options_.watch) loop_->quit();
}

void RenderRun::renderFailed(const NoteCard& card) {
    std::fprintf(stderr, _("norvo render: rendering %s failed\n"), card.note->label.c_str());
    ++failures_;
    cardDone();
}

void RenderRun::renderNext() {
    // Each page holds the card after the one it draws, so it lays that one out while the
    // last card's pixels are copied; engines take turns, so neither waits on the other.
    for (std::size_t round = 0; round < kCardsPerPage; ++round)
        for (std::size_t e = 0; e < engines_.size(); ++e) {
            // A bounded queue in front of the writer bounds memory too.
            if (next_ >= cards_.size() || encoder_->backlog() >= EncoderThread::kMaxBacklog) return;
            if (inFlight_[e] > round) continue;
            ++inFlight_[e];
            const std::size_t i = next_++;
            const CardRequest request = requestFor(cards_[i], options_);
            if (isSet(cards_[i]))
                drawSet(e, i, request);
            else
                drawCard(e, i, request);
        }
}

void RenderRun::drawSet(std::size_t e, std::size_t i, const CardRequest& request) {
    const NoteCard card = cards_[i];
    auto out = std::make_shared<SetOutput>();
    out->target = {.base = paths_[i],
                   .size = request.drawnSize(),
                   .format = options_.format,
                   .pictures = !options_.pdf || card.note->look.settings.pages,
                   .words = cardWords(card.note->markdown)};
    if (options_.pdf) out->target.pdf = std::filesystem::path(paths_[i]).replace_extension(".pdf");
    outputs_.push_back(out);
    engines_[e]->renderPages(
        request,
        [this, out, e, card](std::vector<RenderedCard> rendered) {
            if (stopped_) return;  // the run is ending: nothing more is written
            --inFlight_[e];
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
        [this, card, i, e, size = request.drawnSize()](RenderedCard rendered) {
            if (stopped_) return;  // the run is ending: nothing more is written
            --inFlight_[e];
            if (rendered.image) {
                warnAboutPictures(*card.note, rendered.report);
                // A long picture cut at its greatest height says so; a table cut at its width says so on the card.
                if (size.grows && rendered.report.cut && writtenSize(*rendered.image, size).height >= Presets::kLongCap)
                    std::fprintf(stderr,
                                 _("norvo render: %s is longer than a long picture's %lld px: the rest is cut "
                                   "(--pages makes a set of cards of it)\n"),
                                 card.note->label.c_str(), static_cast<long long>(Presets::kLongCap));
                encoder_->push(CardTask{std::move(rendered), size, paths_[i], cardWords(card.note->markdown)});
            } else {
                renderFailed(card);
            }
            renderNext();
        },
        options_.report);
}

}  // namespace norvo
