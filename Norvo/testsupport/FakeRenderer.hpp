#pragma once
#include <vector>

#include "model/CardRenderer.hpp"

namespace norvo::testing {

// Records render requests and lets a test complete them in any order.
class FakeRenderer final : public CardRenderer {
public:
    struct Request {
        CardRequest card;
        Completion completion;
        PagesCompletion pagesCompletion;  // set for a set of pages
    };
    void render(const CardRequest& card, Completion completion) override {
        requests->push_back(Request{card, std::move(completion), {}});
    }
    void renderPages(const CardRequest& card, PagesCompletion completion) override {
        requests->push_back(Request{card, {}, std::move(completion)});
    }
    // Completes request i with a blank image of the size it asks for, or with nothing.
    // A set request gets `pages` such cards (none: failed).
    void complete(std::size_t i, bool withImage = true, std::size_t pages = 1) {
        Request& r = (*requests)[i];
        const Preset p = r.card.drawnSize();
        if (r.pagesCompletion) {
            std::vector<CardImagePtr> set;
            for (std::size_t k = 0; withImage && k < pages; ++k)
                set.push_back(std::make_shared<CardImage>(int(p.width), int(p.height)));
            lastSet = set;
            r.pagesCompletion(std::move(set));
            return;
        }
        r.completion(withImage ? std::make_shared<CardImage>(int(p.width), int(p.height)) : nullptr);
    }
    std::shared_ptr<std::vector<Request>> requests = std::make_shared<std::vector<Request>>();
    std::vector<CardImagePtr> lastSet;  // the cards of the last set completed
};

}  // namespace norvo::testing
