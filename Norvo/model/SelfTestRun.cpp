#include "model/SelfTestRun.hpp"

#include <iostream>

#include <glib.h>

#include "model/CardDocument.hpp"
#include "support/AtomicFile.hpp"
#include "support/StartupTimeline.hpp"
#include "image/PngEncoder.hpp"

namespace norvo {

SelfTestRun::SelfTestRun(CardRenderer& renderer, SelfTestConfig config, std::filesystem::path folder,
                         std::function<void()> done)
    : renderer_(renderer), config_(std::move(config)), folder_(std::move(folder)), done_(std::move(done)) {}

void SelfTestRun::start() {
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    // The cards are asked for one after another; the renderer hears of them all at once.
    for (std::size_t index = 0; index < Presets::all().size(); ++index) renderer_.expect(cardAt(index));
    step(0);
}

void SelfTestRun::step(std::size_t index) {
    const auto& presets = Presets::all();
    if (index >= presets.size()) return;
    const Preset preset = presets[index];
    renderer_.render(cardAt(index),
                     lifetime_.guard([this, preset, index](CardImagePtr image) {
                         // The card is encoded and written on a worker while the next one renders.
                         background_.run<std::string>(
                             [image, preset, file = folder_ / (preset.id + config_.suffix + ".png"),
                              scale = config_.scaleText()]() -> std::string {
                                 std::optional<std::vector<std::uint8_t>> png;
                                 if (image) png = PngEncoder::encodeAt(*image, preset.width, preset.height);
                                 if (!png) return "SELFTEST " + preset.id + " FAILED";
                                 // A failed write is logged; the line still tells the encoded size.
                                 if (const auto error = writeFileAtomically(file, *png))
                                     g_warning("self-test could not write %s: %s", file.c_str(),
                                               error.message().c_str());
                                 StartupTimeline::markOnce("card-written");
                                 return "SELFTEST " + preset.id + " " + std::to_string(preset.width) + "x" +
                                        std::to_string(preset.height) + " scale=" + scale +
                                        " bytes=" + std::to_string(png->size());
                             },
                             [this, index](std::string line) { report(index, std::move(line)); });
                         step(index + 1);
                     }));
}

CardRequest SelfTestRun::cardAt(std::size_t index) const {
    return CardRequest{.markdown = CardDocument::kSampleMarkdown,
                       .settings = {.font = config_.font, .size = Presets::all()[index], .scale = config_.scale}};
}

void SelfTestRun::report(std::size_t index, std::string line) {
    // Lines come out in preset order, whichever card was written first.
    lines_.resize(Presets::all().size());
    lines_[index] = std::move(line);
    for (; printed_ < lines_.size() && !lines_[printed_].empty(); ++printed_) std::cout << lines_[printed_] << std::endl;
    if (printed_ < lines_.size()) return;
    std::cout << "SELFTEST DONE" << std::endl;
    if (done_) done_();
}

}  // namespace norvo
