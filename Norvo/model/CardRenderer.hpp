#pragma once
#include <functional>
#include <memory>
#include <string>

#include "engine/CardImage.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// What the model needs of a render engine. The application hands it the web engine;
// tests hand it a double.
class CardRenderer {
public:
    using Completion = std::function<void(CardImagePtr)>;
    virtual ~CardRenderer() = default;
    virtual void render(const std::string& markdown, const std::string& theme, const std::string& font,
                        const Preset& preset, bool wordmark, double scale, Completion completion) = 0;
    // A render for the live preview, which a newer preview may replace while it waits.
    virtual void renderPreview(const std::string& markdown, const std::string& theme, const std::string& font,
                               const Preset& preset, bool wordmark, double scale, Completion completion) {
        render(markdown, theme, font, preset, wordmark, scale, std::move(completion));
    }
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
    RenderEngine& engine() { return engine_; }

private:
    RenderEngine engine_;
};

}  // namespace norvo
