#include "engine/RenderEngine.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include <glib.h>
#include <webkit/webkit.h>

#include "support/StartupTimeline.hpp"
#include "engine/Backdrops.hpp"
#include "engine/PageHost.hpp"
#include "engine/PageProtocol.hpp"
#include "engine/CardAssets.hpp"
#include "engine/PictureShelf.hpp"
#include "engine/Snapshotter.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The engine's main-thread state: the queue, the job on the page, and the parts that draw it.
struct RenderEngine::State : std::enable_shared_from_this<State> {
    // The job being drawn, under the ticket its scripts answer with.
    struct Running {
        JobQueue::Entry entry;
        std::uint64_t ticket = 0;
        std::size_t pages = 1;
        std::optional<LayoutReport> report;  // of the page just drawn
        std::vector<RenderedCard> cards;     // of a set, so far
        bool waitingForRoom = false;         // a set's next card waits for its receiver
        CardAssets assets;                   // served while the job is drawn
        std::int64_t grownHeight = 0;        // a long picture's height in pixels, once laid out
        // The size the snapshot is taken at: the drawn size, a long picture's as tall as it grew.
        Preset snapSize() const {
            const Preset size = cardOf(entry.job).drawnSize();
            return grownHeight > 0 ? size.grownTo(grownHeight) : size;
        }
    };

    Options options;
    JobQueue queue;
    std::unique_ptr<PageHost> host;
    Snapshotter snapshotter;
    std::optional<Backdrops> backdrops;
    std::optional<Running> current;
    std::uint64_t lastTicket = 0;
    GSource jobWatchdog;
    AssetDecoder decoder;  // last: its workers are joined first

    // `step` wrapped to run (with the state) only while the job that is current now still is:
    // an answer for a job the engine has moved on from is stale.
    template <typename Step>
    auto forThisJob(Step step) {
        return [weak = weak_from_this(), ticket = current->ticket, step = std::move(step)](auto&&... args) mutable {
            auto self = weak.lock();
            if (self && self->current && self->current->ticket == ticket)
                step(*self, std::forward<decltype(args)>(args)...);
        };
    }

    ~State() {
        host.reset();  // no page callback after this
        // Callers of a dying engine still hear back, exactly once (the queue fails the rest).
        if (current) fail(takeCurrent().job);
    }

    void start();
    JobQueue::Entry takeCurrent();
    // Each step on the page has the whole watchdog time.
    // `steps`: how many of a card's steps this one is worth (laying out a whole set is two).
    void armWatchdog(int steps = 1);

    // The steps of a job: the next one taken when the page is ready, its style's files
    // decoded, formulas and pictures prepared, drawn, snapshotted.
    void pump();
    void afterStyle();
    // Formulas and pictures first: the page loads what it needs and names the pictures, which
    // are then found, decoded and put where the page can show them.
    void prepare();
    void drawCurrent();
    // Runs a script that draws on the page and answers with the current ticket, then
    // snapshots what it drew. Each drawing has the whole watchdog time: a set's cards are
    // drawn one after another, as fast as their receiver takes them.
    void draw(const std::string& script, int steps = 1);
    void snapshot();

    // How a drawing ends, by the job's kind: a card (and the same card asked for again), or
    // one card of a set and then the next.
    void snapped(GdkTexture* texture);
    void snappedCard(GdkTexture* texture);
    void snappedSetCard(GdkTexture* texture);
    // The set's next card, once its receiver takes it; meanwhile nothing is drawn, and no
    // watchdog runs for a page that only waits.
    void drawNextPage();
    // Hands the current set its cards and starts the next job.
    void completeSet();
    // Hands the current card its image (nothing: it failed) and starts the next job.
    void complete(CardImagePtr image);
    static LayoutReport reportOf(const Running& run);
    static void deliver(JobQueue::Entry entry, CardImagePtr image, const LayoutReport& report);

    // Faults: the card is drawn once more, first on a fresh page, with plain line breaking,
    // which no known WebKit fault needs; only if that fails too does the card fail.
    void retryOrFail(JobQueue::Entry entry);
    // The script or the snapshot failed: the page may be dying or broken, so the next job
    // waits for a fresh load. (A dying page may answer with an error before its death is
    // reported, so this and a death lead to the same retry.)
    void onPageFault();
    // A picture or style file still decoding when the card's time ran out.
    void failLate();
    void onPageLost(bool died);
};

void RenderEngine::State::start() {
    auto weak = weak_from_this();
    PageHost::Events events;
    events.ready = [weak] {
        if (auto self = weak.lock()) self->pump();
    };
    events.lost = [weak](bool died) {
        if (auto self = weak.lock()) self->onPageLost(died);
    };
    events.unavailable = [weak] {
        if (auto self = weak.lock()) self->queue.failAll();
    };
    backdrops.emplace([weak] {
        if (auto self = weak.lock()) self->pump();
    });
    host = std::make_unique<PageHost>(
        PageHost::Options{options.hostPage, options.loadTimeout, options.recycleAfter}, std::move(events));
    PictureShelf::serveOn(webkit_web_view_get_context(host->view()));
}

JobQueue::Entry RenderEngine::State::takeCurrent() {
    jobWatchdog.reset();
    JobQueue::Entry entry = std::move(current->entry);
    current.reset();  // late answers for its ticket are now stale
    return entry;
}

void RenderEngine::State::pump() {
    if (current || queue.empty()) return;
    // The backdrop is painted while the page loads or draws the card before; a job waits
    // for its own (a few milliseconds), which is pumped again once painted.
    if (!backdrops->ready(cardOf(queue.front()->job))) return;
    if (!host->ready()) return;
    if (!host->startJob()) return;  // a fresh web process first
    current.emplace();
    current->entry = std::move(*queue.take());
    current->ticket = ++lastTicket;
    StartupTimeline::mark("card-begun");
    const CardRequest& card = cardOf(current->entry.job);
    CardAssets& assets = current->assets;
    assets.backdrop = backdrops->serve(card, assets.backdropLease);
    if (const JobQueue::Entry* after = queue.front()) backdrops->prefetch(cardOf(after->job));
    // Decoding may take until the watchdog fires, which fails the card: a picture is never
    // left out for want of time, so a busy machine draws the same card.
    assets.order = AssetOrder::of(card, std::chrono::steady_clock::now() + options.jobTimeout);
    if (card.settings.style.empty()) {
        afterStyle();
        return;
    }
    armWatchdog();  // it covers decoding too
    decoder.decodeStyle(assets.order, forThisJob([](State& self, DecodedAssets decoded) {
        if (decoded.late) {
            self.failLate();
            return;
        }
        CardAssets& assets = self.current->assets;
        assets.style = shelveStyle(decoded, assets.pictures.lease);
        assets.pictures.refused = std::move(decoded.refused);
        self.afterStyle();
    }));
}

void RenderEngine::State::afterStyle() {
    if (PageProtocol::needsPreparing(cardOf(current->entry.job).markdown, current->assets.style))
        prepare();
    else
        drawCurrent();
}

void RenderEngine::State::prepare() {
    const auto script = PageProtocol::prepareScript(cardOf(current->entry.job), current->assets.style);
    if (!script) {
        complete(nullptr);
        return;
    }
    armWatchdog();
    host->evaluateAsync(*script, forThisJob([](State& self, std::optional<std::string> text) {
        const auto prepared = text ? PageProtocol::parsePrepared(*text) : std::nullopt;
        if (!prepared) {
            self.onPageFault();
            return;
        }
        self.current->assets.fontsNotLoaded(prepared->failedFonts);
        if (prepared->pictures.empty()) {
            self.drawCurrent();
            return;
        }
        // The note's pictures join those of the style on the card's lease.
        self.armWatchdog();
        self.current->assets.order.deadline = std::chrono::steady_clock::now() + self.options.jobTimeout;
        self.decoder.decodePictures(self.current->assets.order, prepared->pictures,
                                    self.forThisJob([](State& self, DecodedAssets decoded) {
                                        if (decoded.late) {
                                            self.failLate();
                                            return;
                                        }
                                        shelvePictures(decoded, self.current->assets.pictures);
                                        self.drawCurrent();
                                    }));
    }));
}

void RenderEngine::State::drawCurrent() {
    const RenderJob& job = current->entry.job;
    const CardRequest& card = cardOf(job);
    PageDraw how;
    how.pictures = current->assets.pictures.served;
    how.style = current->assets.style;
    how.backdrop = current->assets.backdrop;
    how.pages = std::holds_alternative<SetJob>(job);
    how.report = how.pages || (std::holds_alternative<CardJob>(job) && std::get<CardJob>(job).report);
    how.plainLayout = current->entry.plainLayout;
    const auto script = PageProtocol::drawScript(card, how, current->ticket);
    if (!script) {
        complete(nullptr);
        return;
    }
    // A denser card is the same layout drawn larger: the page lays it out at the preset's
    // size, then scales the finished card up to fill the view.
    // A long picture is laid out in a square view: its height is known only afterwards.
    const Preset drawn = card.drawnSize();
    host->resize(int(drawn.width), int(drawn.startHeight()));
    // A set lays out every one of its cards in this step, up to twenty cards' worth of text,
    // and breaks them like a book (a few seconds of work for the largest notes).
    draw(host->withHighlighterFor(card.markdown, *script), how.pages ? 2 : 1);
}

void RenderEngine::State::draw(const std::string& script, int steps) {
    armWatchdog(steps);
    StartupTimeline::mark("layout-asked");
    host->evaluate(script, forThisJob([](State& self, std::optional<std::string> text) {
        // Only a card the page drew is snapshotted: a throwing, blank or replaced page
        // answers with an error or another ticket.
        const auto answer = text ? PageProtocol::parseAnswer(*text, self.current->ticket) : std::nullopt;
        if (!answer) {
            self.onPageFault();
            return;
        }
        StartupTimeline::mark("laid-out");
        self.current->pages = answer->pages;
        self.current->report = answer->report;
        const CardRequest& card = cardOf(self.current->entry.job);
        if (card.settings.size.heightFollowsLayout()) {
            // The view takes the height the page found before the snapshot is taken.
            const Preset drawn = card.drawnSize();
            self.current->grownHeight = drawn.grownTo(std::llround(answer->height * card.density)).height;
            self.host->resize(int(drawn.width), int(self.current->grownHeight));
        }
        const bool grown = self.current->grownHeight > 0;
        if (self.current->assets.pictures.lease.empty() && !answer->pending && !grown) {
            self.snapshot();
            return;
        }
        // Pictures are laid out at their size before they are decoded: the snapshot waits
        // for their pixels (a picture WebKit cannot decode shows nothing, never stalls), and
        // for a view that grew to reach the page.
        self.host->evaluateAsync(PageProtocol::picturesReadyScript(grown ? self.current->grownHeight / card.density : 0),
                                 self.forThisJob([](State& self, std::optional<std::string>) { self.snapshot(); }));
    }));
}

void RenderEngine::State::snapshot() {
    StartupTimeline::mark("snapshot-asked");
    host->snapshot(forThisJob([](State& self, GObjectPtr<GdkTexture> texture) {
        StartupTimeline::mark("snapped");
        if (!texture) {
            self.onPageFault();
            return;
        }
        self.snapped(texture.get());
    }));
}

void RenderEngine::State::armWatchdog(int steps) {
    jobWatchdog = GSource(g_timeout_add(guint(options.jobTimeout.count() * steps), +[](gpointer data) -> gboolean {
        auto self = static_cast<State*>(data)->shared_from_this();
        self->jobWatchdog.forget();
        // A page that stops answering is replaced; the jobs behind this one wait for the
        // fresh page.
        JobQueue::Entry entry = self->takeCurrent();
        self->host->reload(true);
        fail(entry.job);
        self->pump();
        return G_SOURCE_REMOVE;
    }, this));
}

void RenderEngine::State::snapped(GdkTexture* texture) {
    if (std::holds_alternative<SetJob>(current->entry.job))
        snappedSetCard(texture);
    else
        snappedCard(texture);
}

void RenderEngine::State::snappedCard(GdkTexture* texture) {
    // The page starts on the next card before the pixels are copied out of this one.
    auto keepAlive = shared_from_this();
    const LayoutReport report = reportOf(*current);
    const Preset size = current->snapSize();
    JobQueue::Entry entry = takeCurrent();
    // The same card asked for again meanwhile (the self-test's first card is the preview's)
    // takes this drawing instead of a second one.
    const CardRequest& drawnCard = cardOf(entry.job);
    std::vector<JobQueue::Entry> same = queue.takeWhere([&](const RenderJob& job) {
        const auto* card = std::get_if<CardJob>(&job);
        return (std::holds_alternative<PreviewJob>(job) || (card && !card->report)) && cardOf(job) == drawnCard;
    });
    pump();
    StartupTimeline::mark("copy-begun");
    const CardImagePtr image = snapshotter.exactImage(texture, size);
    StartupTimeline::mark("copied");
    deliver(std::move(entry), image, report);
    for (JobQueue::Entry& again : same) deliver(std::move(again), image, report);
    StartupTimeline::markOnce("card-drawn");
}

void RenderEngine::State::snappedSetCard(GdkTexture* texture) {
    Running& run = *current;
    StartupTimeline::mark("copy-begun");
    CardImagePtr image = snapshotter.exactImage(texture, run.snapSize());
    StartupTimeline::mark("copied");
    StartupTimeline::markOnce("card-drawn");
    if (!image) {
        complete(nullptr);
        return;
    }
    // One card of a set is done: show the next one, or hand over the whole set.
    RenderedCard rendered{std::move(image), reportOf(run)};
    const SetPageCallback& each = std::get<SetJob>(run.entry.job).each;
    if (each) {
        auto keepAlive = shared_from_this();
        const std::uint64_t ticket = run.ticket;
        run.cards.push_back(RenderedCard{nullptr, rendered.report});
        each(std::move(rendered), run.cards.size(), run.pages);
        if (!current || current->ticket != ticket) return;  // the engine moved on meanwhile
    } else {
        run.cards.push_back(std::move(rendered));
    }
    if (current->cards.size() >= current->pages) {
        completeSet();
        return;
    }
    drawNextPage();
}

void RenderEngine::State::drawNextPage() {
    const auto& mayDrawNext = std::get<SetJob>(current->entry.job).mayDrawNext;
    current->waitingForRoom = mayDrawNext && !mayDrawNext();
    if (current->waitingForRoom) {
        jobWatchdog.reset();
        return;
    }
    draw(PageProtocol::showPageScript(current->cards.size() + 1, true, current->ticket));
}

void RenderEngine::State::completeSet() {
    auto keepAlive = shared_from_this();
    std::vector<RenderedCard> cards = std::move(current->cards);
    JobQueue::Entry entry = takeCurrent();
    std::get<SetJob>(entry.job).done(std::move(cards));
    pump();
}

LayoutReport RenderEngine::State::reportOf(const Running& run) {
    LayoutReport report = run.report.value_or(LayoutReport{});
    report.refusedPictures = run.assets.pictures.refused;
    return report;
}

void RenderEngine::State::complete(CardImagePtr image) {
    auto keepAlive = shared_from_this();
    const LayoutReport report = reportOf(*current);
    JobQueue::Entry entry = takeCurrent();
    deliver(std::move(entry), std::move(image), report);
    pump();
}

void RenderEngine::State::deliver(JobQueue::Entry entry, CardImagePtr image, const LayoutReport& report) {
    if (auto* card = std::get_if<CardJob>(&entry.job); card && image)
        card->done(RenderedCard{std::move(image), report});
    else if (auto* preview = std::get_if<PreviewJob>(&entry.job); preview && image)
        preview->done(std::move(image));
    else
        fail(entry.job);  // a set is handed over by completeSet
}

void RenderEngine::State::retryOrFail(JobQueue::Entry entry) {
    if (entry.plainLayout) {
        fail(entry.job);
        return;
    }
    entry.plainLayout = true;
    g_warning("drawing the card again on a fresh page with plain line breaking");
    queue.pushFront(std::move(entry));
}

void RenderEngine::State::failLate() {
    auto keepAlive = shared_from_this();
    JobQueue::Entry entry = takeCurrent();
    g_warning("the card's pictures took longer to decode than its time allows");
    fail(entry.job);
    pump();
}

void RenderEngine::State::onPageFault() {
    auto keepAlive = shared_from_this();
    JobQueue::Entry entry = takeCurrent();
    host->reload(false);
    retryOrFail(std::move(entry));
}

void RenderEngine::State::onPageLost(bool died) {
    if (!current) return;
    auto keepAlive = shared_from_this();
    JobQueue::Entry entry = takeCurrent();
    if (died)
        retryOrFail(std::move(entry));
    else
        fail(entry.job);  // replaced or reloaded under the job: nothing drawn is its card
}

RenderEngine::RenderEngine() : RenderEngine(Options{}) {}

RenderEngine::RenderEngine(Options options) : state_(std::make_shared<State>()) {
    state_->options = std::move(options);
    state_->start();
}

RenderEngine::~RenderEngine() = default;

void RenderEngine::queue(RenderJob job) {
    if (!CardImage::validSize(cardOf(job).settings.size.width, cardOf(job).settings.size.height)) {
        fail(job);
        return;
    }
    state_->queue.push(std::move(job));
    state_->pump();
}

void RenderEngine::render(const CardRequest& card, CardCompletion completion) {
    if (!completion) completion = [](CardImagePtr) {};
    queue(CardJob{card, false, [completion = std::move(completion)](RenderedCard c) { completion(std::move(c.image)); }});
}

void RenderEngine::renderPreview(const CardRequest& card, CardCompletion completion) {
    if (!completion) completion = [](CardImagePtr) {};
    queue(PreviewJob{card, std::move(completion)});
}

void RenderEngine::renderWithReport(const CardRequest& card, ReportCompletion completion, bool measure) {
    if (!completion) completion = [](RenderedCard) {};
    queue(CardJob{card, measure, std::move(completion)});
}

void RenderEngine::renderPages(const CardRequest& card, SetCompletion completion, SetPageCallback each,
                               std::function<bool()> mayDrawNext) {
    if (!completion) completion = [](std::vector<RenderedCard>) {};
    queue(SetJob{card, std::move(completion), std::move(each), std::move(mayDrawNext)});
}

void RenderEngine::resumeSets() {
    if (state_->current && state_->current->waitingForRoom) state_->drawNextPage();
}

void RenderEngine::expect(const CardRequest& card) {
    if (CardImage::validSize(card.settings.size.width, card.settings.size.height)) state_->backdrops->prefetch(card);
}

std::size_t RenderEngine::queueDepth() const { return state_->queue.size() + (state_->current ? 1 : 0); }

bool RenderEngine::isLoaded() const { return state_->host->ready(); }

WebKitWebView* RenderEngine::webView() const { return state_->host->view(); }

}  // namespace norvo
