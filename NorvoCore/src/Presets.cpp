#include "norvo/Presets.hpp"

namespace norvo::Presets {

const std::vector<Preset>& all() {
    // A function-local static: built once, thread-safe, never changed.
    static const std::vector<Preset> catalogue{
        {"square", "Square", 1080, 1080},
        {"portrait", "Portrait", 1080, 1350},
        {"landscape", "Landscape", 1200, 630},
        {"story", "Story", 1080, 1920},
    };
    return catalogue;
}

const Preset& defaultPreset() { return all().front(); }

Preset by(std::string_view id) {
    for (const Preset& p : all())
        if (p.id == id) return p;
    return defaultPreset();
}

}  // namespace norvo::Presets
