#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/CardImage.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// What the model needs of a render engine. The application hands it the web engine;
// tests hand it a double.
class CardRenderer {
public:
    using Completion = std::function<void(CardImagePtr)>;
    // The cards of a set, in order; empty when the render failed.
    using PagesCompletion = std::function<void(std::vector<CardImagePtr>)>;
    virtual ~CardRenderer() = default;
    virtual void render(const std::string& markdown, const std::string& theme, const std::string& font,
                        const Preset& preset, bool wordmark, double scale, Completion completion) = 0;
    // A render for the live preview, which a newer preview may replace while it waits.
    virtual void renderPreview(const std::string& markdown, const std::string& theme, const std::string& font,
                               const Preset& preset, bool wordmark, double scale, Completion completion) {
        render(markdown, theme, font, preset, wordmark, scale, std::move(completion));
    }
    // The note as a set of same-size cards (see RenderEngine::renderPages).
    virtual void renderPages(const std::string& markdown, const std::string& theme, const std::string& font,
                             const Preset& preset, bool wordmark, double scale, PagesCompletion completion) = 0;
};

// The web engine as a CardRenderer.
class EngineCardRenderer final : public CardRenderer {
public:
    void render(const std::string& markdown, const std::string& theme, const std::string& font, const Preset& preset,
                bool wordmark, double scale, Completion completion) override {
        engine_.render(markdown, theme, font, preset, wordmark, scale, std::move(completion));
    }
    void renderPreview(const std::string& markdown, const std::string& theme, const std::string& font,
                       const Preset& preset, bool wordmark, double scale, Completion completion) override {
        engine_.renderPreview(markdown, theme, font, preset, wordmark, scale, std::move(completion));
    }
    void renderPages(const std::string& markdown, const std::string& theme, const std::string& font,
                     const Preset& preset, bool wordmark, double scale, PagesCompletion completion) override {
        engine_.renderPages(markdown, theme, font, preset, wordmark, scale,
                            [completion = std::move(completion)](std::vector<CardImagePtr> images,
                                                                 std::vector<std::string>) {
                                completion(std::move(images));
                            });
    }
    RenderEngine& engine() { return engine_; }

private:
    RenderEngine engine_;
};

}  // namespace norvo
