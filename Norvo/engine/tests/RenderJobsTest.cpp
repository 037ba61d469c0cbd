// The job queue without a page: order, preview merging, exactly-once completion.
#include <gtest/gtest.h>

#include <string>

#include "engine/RenderJobs.hpp"

using namespace norvo;

namespace {

CardRequest note(std::string markdown) { return CardRequest{std::move(markdown)}; }

// Completes a taken job the way the engine does when it drew the card.
void drawn(RenderJob& job) {
    auto image = std::make_shared<CardImage>(2, 2);
    if (auto* card = std::get_if<CardJob>(&job)) card->done(RenderedCard{image, {}});
    else if (auto* preview = std::get_if<PreviewJob>(&job)) preview->done(image);
    else std::get<SetJob>(job).done({RenderedCard{image, {}}});
}

}  // namespace

TEST(JobQueue, OrderPreviewsAndExactlyOnceCompletion) {
    std::vector<std::string> heard;
    auto record = [&](std::string who) { return [&heard, who](auto&& result) {
        heard.push_back(who + (bool(result.image) ? " card" : " nothing"));
    }; };
    auto recordPreview = [&](std::string who) { return [&heard, who](CardImagePtr image) {
        heard.push_back(who + (image ? " card" : " nothing"));
    }; };
    {
        JobQueue queue;
        queue.push(CardJob{note("export"), false, record("export")});
        queue.push(PreviewJob{note("p1"), recordPreview("p1")});
        queue.push(SetJob{note("set"), [&](std::vector<RenderedCard> cards) {
            heard.push_back(cards.empty() ? "set nothing" : "set card");
        }, {}});
        queue.push(PreviewJob{note("p2"), recordPreview("p2")});  // takes p1's place, before the set
        queue.push(PreviewJob{note("p3"), recordPreview("p3")});
        ASSERT_EQ(queue.size(), 3u);

        auto first = queue.take();
        EXPECT_EQ(cardOf(first->job).markdown, "export");
        drawn(first->job);
        auto second = queue.take();
        EXPECT_EQ(cardOf(second->job).markdown, "p3");  // the newest preview, where the first waited
        drawn(second->job);
        EXPECT_EQ(heard, (std::vector<std::string>{"export card", "p3 card", "p2 card", "p1 card"}));

        // A retry goes first; a preview never merges into a job already taken.
        queue.pushFront(JobQueue::Entry{PreviewJob{note("retry"), recordPreview("retry")}, true});
        queue.push(PreviewJob{note("p4"), recordPreview("p4")});
        auto retry = queue.take();
        EXPECT_EQ(cardOf(retry->job).markdown, "p4");  // the waiting retry was a preview: p4 replaced it
        EXPECT_FALSE(retry->plainLayout);
        fail(retry->job);
        heard.clear();
    }
    // The queue's end fails what still waits, once each: the set; p4 and the retry heard above.
    EXPECT_EQ(heard, (std::vector<std::string>{"set nothing"}));
}
