#pragma once
#include "engine/RenderEngine.hpp"
#include "model/CardRenderer.hpp"

namespace norvo {

// The web engine as the model's renderer.
class EngineCardRenderer final : public CardRenderer {
public:
    void render(const CardRequest& card, Completion completion) override {
        engine_.render(card, std::move(completion));
    }
    void renderPreview(const CardRequest& card, Completion completion) override {
        engine_.renderPreview(card, std::move(completion));
    }
    void renderPages(const CardRequest& card, PagesCompletion completion) override {
        engine_.renderPages(card, [completion = std::move(completion)](std::vector<RenderedCard> cards) {
            std::vector<CardImagePtr> images;
            for (RenderedCard& c : cards) images.push_back(std::move(c.image));
            completion(std::move(images));
        });
    }
    void expect(const CardRequest& card) override { engine_.expect(card); }
    RenderEngine& engine() { return engine_; }

private:
    RenderEngine engine_;
};

}  // namespace norvo
