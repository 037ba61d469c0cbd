#include "norvo/Presets.hpp"

#include <algorithm>

// Names are English here and translated where they are shown; N_ marks them for the
// translation template.
#define N_(text) text

namespace norvo {

Preset Preset::grownTo(std::int64_t laidOut) const {
    Preset grown = *this;
    if (grows) grown.height = std::clamp(laidOut, width, height);
    return grown;
}

Preset Preset::writtenAs(std::int64_t pixelsWide, std::int64_t pixelsHigh) const {
    Preset written = *this;
    if (grows && pixelsWide > 0) written.height = pixelsHigh * width / pixelsWide;
    return written;
}

bool Preset::stoppedAtItsCap(std::int64_t writtenHeight) const { return grows && writtenHeight >= Presets::kLongCap; }

}  // namespace norvo

namespace norvo::Presets {

const std::vector<Preset>& all() {
    // A function-local static: built once, thread-safe, never changed.
    static const std::vector<Preset> catalogue{
        {"square", N_("Square"), 1080, 1080},
        {"portrait", N_("Portrait"), 1080, 1350},
        {"landscape", N_("Landscape"), 1200, 630},
        {"story", N_("Story"), 1080, 1920},
    };
    return catalogue;
}

const Preset& defaultPreset() { return all().front(); }

Preset by(std::string_view id) {
    for (const Preset& p : all())
        if (p.id == id) return p;
    return defaultPreset();
}

const std::vector<Preset>& more() {
    static const std::vector<Preset> named{
        {"tall", "3:4", 1080, 1440},
        {"long", "Long", 1080, kLongCap, true},
    };
    return named;
}

namespace {

// A side in pixels: 1 to 5 digits, nothing else.
std::optional<std::int64_t> side(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool withinLimits(std::int64_t side) { return side >= kMinSide && side <= kMaxSide; }

}  // namespace

std::optional<Preset> parse(std::string_view text) {
    for (const auto* list : {&all(), &more()})
        for (const Preset& p : *list)
            if (p.id == text) return p;
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    const auto width = side(text.substr(0, x));
    if (!width || !withinLimits(*width)) return std::nullopt;
    const std::string_view rest = text.substr(x + 1);
    const std::string id(text);
    if (rest == "long") return Preset{id, "Long", *width, kLongCap, true};
    const auto height = side(rest);
    if (!height || !withinLimits(*height)) return std::nullopt;
    if (*width > kMaxAspect * *height || *height > kMaxAspect * *width) return std::nullopt;
    return Preset{id, std::to_string(*width) + " \u00d7 " + std::to_string(*height), *width, *height};
}

std::string whyNotASize(std::string_view text, bool orAll) {
    return "unknown size '" + std::string(text) + "' (square, portrait, landscape, story, tall (1080x1440), " +
           "WIDTHxHEIGHT with each side from " + std::to_string(kMinSide) + " to " + std::to_string(kMaxSide) +
           " px and at most " + std::to_string(kMaxAspect) + ":1 either way, long or WIDTHxlong" +
           (orAll ? ", or all)" : ")");
}

}  // namespace norvo::Presets
