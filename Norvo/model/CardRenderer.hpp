#pragma once
#include <functional>
#include <memory>
#include <string>

#include "engine/CardImage.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// What the model needs of a render engine; the real one is RenderEngine.
class CardRenderer {
public:
    using Completion = std::function<void(CardImagePtr)>;
    virtual ~CardRenderer() = default;
    virtual void render(const std::string& markdown, const std::string& theme, const std::string& font,
                        const Preset& preset, bool wordmark, double scale, Completion completion) = 0;
};

using CardRendererFactory = std::function<std::unique_ptr<CardRenderer>()>;

// The factory the application uses: an offscreen RenderEngine.
CardRendererFactory webRendererFactory();

}  // namespace norvo
