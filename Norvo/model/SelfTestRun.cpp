#include "model/SelfTestRun.hpp"

#include <iostream>

#include <glib.h>

#include "model/CardDocument.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

SelfTestRun::SelfTestRun(CardRenderer& renderer, SelfTestConfig config, std::filesystem::path folder,
                         std::function<void()> done)
    : renderer_(renderer), config_(std::move(config)), folder_(std::move(folder)), done_(std::move(done)) {}

void SelfTestRun::start() {
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    step(0);
}

void SelfTestRun::step(std::size_t index) {
    const auto& presets = Presets::all();
    if (index >= presets.size()) {
        std::cout << "SELFTEST DONE" << std::endl;
        if (done_) done_();
        return;
    }
    const Preset preset = presets[index];
    renderer_.render(CardDocument::kSampleMarkdown, "paper", config_.font, preset, true, config_.scale,
                     lifetime_.guard([this, preset, index](CardImagePtr image) {
                         std::optional<std::vector<std::uint8_t>> png;
                         if (image) png = RenderEngine::png(*image, preset.width, preset.height);
                         if (!png) {
                             std::cout << "SELFTEST " << preset.id << " FAILED" << std::endl;
                         } else {
                             const auto file = folder_ / (preset.id + config_.suffix + ".png");
                             // A failed write is logged; the line still tells the encoded size.
                             if (const auto error = writeFileAtomically(file, *png))
                                 g_warning("self-test could not write %s: %s", file.c_str(), error.message().c_str());
                             std::cout << "SELFTEST " << preset.id << " " << preset.width << "x" << preset.height
                                       << " scale=" << config_.scaleText() << " bytes=" << png->size() << std::endl;
                         }
                         step(index + 1);
                     }));
}

}  // namespace norvo
