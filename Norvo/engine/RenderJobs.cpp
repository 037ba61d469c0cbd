#include "engine/RenderJobs.hpp"

#include <utility>

namespace norvo {

const CardRequest& cardOf(const RenderJob& job) {
    return std::visit([](const auto& j) -> const CardRequest& { return j.card; }, job);
}

void fail(RenderJob& job) {
    std::visit([](auto& j) { j.done({}); }, job);
}

JobQueue::~JobQueue() { failAll(); }

void JobQueue::push(RenderJob job) {
    if (auto* preview = std::get_if<PreviewJob>(&job)) {
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            auto* waiting = std::get_if<PreviewJob>(&it->job);
            if (!waiting) continue;
            // The newest hears first: it is what the card now shows.
            preview->done = [later = std::move(preview->done), earlier = std::move(waiting->done)](CardImagePtr image) {
                later(image);
                earlier(std::move(image));
            };
            it->job = std::move(job);
            it->plainLayout = false;
            return;
        }
    }
    entries_.push_back(Entry{std::move(job)});
}

void JobQueue::pushFront(Entry entry) { entries_.push_front(std::move(entry)); }

std::vector<JobQueue::Entry> JobQueue::takeWhere(const std::function<bool(const RenderJob&)>& matches) {
    std::vector<Entry> taken;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (matches(it->job)) {
            taken.push_back(std::move(*it));
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

std::optional<JobQueue::Entry> JobQueue::take() {
    if (entries_.empty()) return std::nullopt;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    return entry;
}

void JobQueue::failAll() {
    std::deque<Entry> failed;
    failed.swap(entries_);  // a completion may queue again
    for (Entry& e : failed) fail(e.job);
}

}  // namespace norvo
