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

    // A long picture's rules, in one place. It is one card, never a set or a PDF's pages.
    bool makesOneCard() const { return grows; }
    // Its height is the layout's to find: nothing sized by it (a view, a backdrop) is known before.
    bool heightFollowsLayout() const { return grows; }
    // The view's height before the note is laid out: a long picture's is square, as its
    // height is known only afterwards.
    std::int64_t startHeight() const { return grows ? width : height; }
    // The size once the note is laid out `laidOut` px tall: a long picture takes that height,
    // from its width up to its cap; any other size keeps its own.
    Preset grownTo(std::int64_t laidOut) const;
    // The size of a picture of these pixels drawn at this size: a long one as tall as it grew.
    Preset writtenAs(std::int64_t pixelsWide, std::int64_t pixelsHigh) const;
    // Whether a picture `writtenHeight` px tall stopped at a long picture's cap.
    bool stoppedAtItsCap(std::int64_t writtenHeight) const;
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
