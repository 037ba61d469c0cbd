#pragma once
#include <functional>
#include <vector>

#include "image/CardImage.hpp"
#include "norvo/CardRequest.hpp"

namespace norvo {

// What the model needs of a renderer. The application hands it the web engine; tests hand
// it a double. Completions run once, on the main thread.
class CardRenderer {
public:
    using Completion = std::function<void(CardImagePtr)>;
    // The cards of a set, in order; empty when the render failed.
    using PagesCompletion = std::function<void(std::vector<CardImagePtr>)>;

    virtual ~CardRenderer() = default;
    virtual void render(const CardRequest& card, Completion completion) = 0;
    // A render for the live preview, which a newer preview may replace while it waits.
    virtual void renderPreview(const CardRequest& card, Completion completion) { render(card, std::move(completion)); }
    // The note as a set of same-size cards.
    virtual void renderPages(const CardRequest& card, PagesCompletion completion) = 0;
    // A card that will be asked for soon: the renderer may get ready for it meanwhile.
    virtual void expect(const CardRequest& card) { (void)card; }
};

}  // namespace norvo
