#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo {

// One pixel size a card can have: a named one, any WIDTHxHEIGHT, or a long picture, whose
// height follows the note from its width up to `height`.
struct Preset {
    std::string id;  // "square", "1200x900", "long", "1200xlong": what file names end with
    std::string name;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool grows = false;  // a long picture: `height` is the most it may take

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

// Sizes beyond the four: "tall" (3:4, 1080 x 1440), any "WIDTHxHEIGHT" within the limits
// below, and long pictures, "long" (1080 wide) or "WIDTHxlong". The four's ids too.
inline constexpr std::int64_t kMinSide = 320, kMaxSide = 4096, kMaxAspect = 4, kLongCap = 16383;
// (A long picture stops one short of 16384: WebP holds at most 16383 rows, and every format
// gives the same picture.)
std::optional<Preset> parse(std::string_view text);
// Why `text` is not a size, in words that name the limits (and "all", where it is one).
std::string whyNotASize(std::string_view text, bool orAll = false);
// The named sizes beyond the four, for pickers: "tall" and "long".
const std::vector<Preset>& more();
}  // namespace Presets

}  // namespace norvo
