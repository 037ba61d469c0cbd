#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvo {

// One pixel size a card can have.
struct Preset {
    std::string id;
    std::string name;
    std::int64_t width = 0;
    std::int64_t height = 0;

    double aspect() const { return double(width) / double(height); }
    bool operator==(const Preset&) const = default;
};

namespace Presets {
// The catalogue, in the order the size picker shows it.
const std::vector<Preset>& all();
// The first entry, "square".
const Preset& defaultPreset();
// The entry whose id matches exactly, else the default; never fails.
Preset by(std::string_view id);
}  // namespace Presets

}  // namespace norvo
