#pragma once
#include <vector>

#include "model/CardRenderer.hpp"

namespace norvo::testing {

// Records render requests and lets a test complete them in any order.
class FakeRenderer final : public CardRenderer {
public:
    struct Request {
        std::string markdown, theme, font;
        Preset preset;
        bool wordmark;
        double scale;
        Completion completion;
    };
    void render(const std::string& markdown, const std::string& theme, const std::string& font, const Preset& preset,
                bool wordmark, double scale, Completion completion) override {
        requests->push_back(Request{markdown, theme, font, preset, wordmark, scale, std::move(completion)});
    }
    // Completes request i with a blank image of its preset's size, or with nothing.
    void complete(std::size_t i, bool withImage = true) {
        const Preset& p = (*requests)[i].preset;
        (*requests)[i].completion(withImage ? std::make_shared<CardImage>(int(p.width), int(p.height)) : nullptr);
    }
    std::shared_ptr<std::vector<Request>> requests = std::make_shared<std::vector<Request>>();
};

}  // namespace norvo::testing
