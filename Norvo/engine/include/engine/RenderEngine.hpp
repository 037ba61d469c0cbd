#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "image/CardImage.hpp"
#include "engine/RenderJobs.hpp"
#include "norvo/CardRequest.hpp"

typedef struct _WebKitWebView WebKitWebView;

namespace norvo {

// Renders cards through one offscreen web view holding the host page. Requests run
// one at a time in request order; each completes exactly once on the main thread, with
// an image of exactly the preset's size or with nothing. Main thread only.
class RenderEngine {
public:
    struct Options {
        std::filesystem::path hostPage;  // empty: carder/host.html in the resource bundle
        std::chrono::milliseconds loadTimeout{15'000};
        // How long one step of a card may take before the page is taken for hung and the card
        // fails. Only a hang should reach it: the heaviest notes take a few seconds on a quiet
        // machine, and several times that beside other work.
        std::chrono::milliseconds jobTimeout{30'000};
        // Jobs one web process renders before it is replaced by a fresh one (0: never). A web
        // process keeps about 50 KB more per card (caches of the sizes it has drawn): 500 holds
        // that near 25 MB, for one page load per 500 cards.
        std::size_t recycleAfter = 500;
    };

    RenderEngine();
    explicit RenderEngine(Options options);
    ~RenderEngine();  // what still waits completes with nothing
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    void render(const CardRequest& card, CardCompletion completion);
    // A preview: while it waits, a newer preview takes its place, and both complete with
    // the newer card. Other requests are never merged or reordered.
    void renderPreview(const CardRequest& card, CardCompletion completion);
    // The card with its layout report, measured on the finished card (with `measure` false,
    // the report only names the pictures the card could not show).
    void renderWithReport(const CardRequest& card, ReportCompletion completion, bool measure = true);
    // The note as a set of same-size cards (one text size for all, at most 20), each with
    // its layout report; with `each`, the cards are handed over one by one as they are drawn.
    // `mayDrawNext`: the receiver's back-pressure (see SetJob).
    void renderPages(const CardRequest& card, SetCompletion completion, SetPageCallback each = {},
                     std::function<bool()> mayDrawNext = {});
    // A set that waits for its receiver asks again whether it may draw its next card.
    void resumeSets();

    // Requests waiting or being drawn.
    // A card that will be asked for soon: what can be made ready for it ahead (its backdrop)
    // is made ready while other cards are drawn.
    void expect(const CardRequest& card);
    std::size_t queueDepth() const;

    bool isLoaded() const;
    WebKitWebView* webView() const;  // for tests that look inside the page

private:
    void queue(RenderJob job);
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace norvo
