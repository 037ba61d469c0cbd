#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/CardImage.hpp"
#include "norvo/Presets.hpp"

typedef struct _WebKitWebView WebKitWebView;

namespace norvo {

// Renders cards through one offscreen web view holding the host page. Requests run
// one at a time in request order; each completes exactly once on the main thread, with
// an image of exactly the preset's size or with nothing.
class RenderEngine {
public:
    using Completion = std::function<void(CardImagePtr)>;

    struct Options {
        std::filesystem::path hostPage;  // empty: carder/host.html in the resource bundle
        std::chrono::milliseconds loadTimeout{15'000};
        std::chrono::milliseconds jobTimeout{10'000};
        // Jobs one web process renders before it is replaced by a fresh one (0: never).
        std::size_t recycleAfter = 2000;
    };

    RenderEngine();
    explicit RenderEngine(Options options);
    ~RenderEngine();
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    void render(const std::string& markdown, const std::string& theme, const std::string& font, const Preset& preset,
                bool wordmark, double scale, Completion completion);

    // A preview: while it waits, a newer preview takes its place, and both complete with
    // the newer card. Other requests are never merged or reordered.
    void renderPreview(const std::string& markdown, const std::string& theme, const std::string& font,
                       const Preset& preset, bool wordmark, double scale, Completion completion);

    // The note as a set of same-size cards (one text size for all, at most 20), each with
    // its layout report (which also tells "page" and "pages"); both empty when it failed.
    using PagesCompletion = std::function<void(std::vector<CardImagePtr>, std::vector<std::string> reports)>;
    void renderPages(const std::string& markdown, const std::string& theme, const std::string& font,
                     const Preset& preset, bool wordmark, double scale, PagesCompletion completion);

    // Requests waiting or being drawn.
    std::size_t queueDepth() const;

    // The same, with the page's layout report (JSON text: bodyPx, minPx, cut, overflowX,
    // brokenWords) measured on the finished card; both empty when the render failed.
    using ReportCompletion = std::function<void(CardImagePtr, std::string report)>;
    void renderWithReport(const std::string& markdown, const std::string& theme, const std::string& font,
                          const Preset& preset, bool wordmark, double scale, ReportCompletion completion);

    // PNG bytes of exactly width x height pixels (the image is stretched when its
    // size differs), or nothing.
    static std::optional<std::vector<std::uint8_t>> png(const CardImage& image, std::int64_t width,
                                                        std::int64_t height);

    bool isLoaded() const;
    WebKitWebView* webView() const;  // for tests that look inside the page

    struct Job;

private:
    void queue(Job job);
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace norvo
