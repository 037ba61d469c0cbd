#pragma once
// The engine's requests and the queue they wait in. Pure: no WebKit, no main loop.
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "image/CardImage.hpp"
#include "norvo/CardRequest.hpp"

namespace norvo {

// A finished card and what its layout measures.
struct RenderedCard {
    CardImagePtr image;
    LayoutReport report;
};

using CardCompletion = std::function<void(CardImagePtr)>;
// The card with its report; no image when the render failed.
using ReportCompletion = std::function<void(RenderedCard)>;
// The cards of a set in order, each with its report; empty when the render failed.
using SetCompletion = std::function<void(std::vector<RenderedCard>)>;

// One card for someone who waits for it (an export, the command line).
struct CardJob {
    CardRequest card;
    bool report = false;
    ReportCompletion done;
};
// One card for the live preview: a newer preview takes its place while it waits.
struct PreviewJob {
    CardRequest card;
    CardCompletion done;
};
// A card of a set as soon as it is drawn: the card, its number (from 1) and the set's size.
using SetPageCallback = std::function<void(RenderedCard, std::size_t page, std::size_t pages)>;

// The note as a set of same-size cards. With `each`, every card goes there as it is drawn and
// is not kept, so a long set never holds all its pictures: `done` then hears the reports only
// (images empty). A set drawn again after its page died starts again at card 1.
struct SetJob {
    CardRequest card;
    SetCompletion done;
    SetPageCallback each;
    // Whether the receiver takes the next card now; when not, the set waits (without a
    // watchdog) until RenderEngine::resumeSets(). Empty: always.
    std::function<bool()> mayDrawNext{};
};
using RenderJob = std::variant<CardJob, PreviewJob, SetJob>;

const CardRequest& cardOf(const RenderJob& job);
// Completes the job with nothing.
void fail(RenderJob& job);
inline void fail(RenderJob&& job) { fail(job); }

// Jobs in request order, each completed exactly once by whoever takes it out. Previews merge:
// a preview still waiting is replaced by a newer one in its place, and both complete with the
// newer card.
class JobQueue {
public:
    struct Entry {
        RenderJob job;
        bool plainLayout = false;  // a second attempt, after its page died
    };

    JobQueue() = default;
    ~JobQueue();  // what still waits fails: callers always hear back
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    void push(RenderJob job);
    // A job that goes next (a retry).
    void pushFront(Entry entry);
    std::optional<Entry> take();
    const Entry* front() const { return entries_.empty() ? nullptr : &entries_.front(); }
    // Takes out every waiting job that `matches`, in order.
    std::vector<Entry> takeWhere(const std::function<bool(const RenderJob&)>& matches);
    void failAll();
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    std::deque<Entry> entries_;
};

}  // namespace norvo
