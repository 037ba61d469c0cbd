#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace norvo {

// What a picture file's own bytes say about it before any decoder sees them: its kind and
// the largest canvas a decoder would allocate for it. Read by hand, so that a file whose
// header claims gigapixels is refused without a byte of pixels being allocated.
struct PictureHeader {
    enum class Kind { Png, Jpeg, Gif, WebP };
    Kind kind = Kind::Png;
    std::uint32_t width = 0, height = 0;  // the canvas (GIF: the screen grown to every frame)
    std::uint32_t scans = 0;              // JPEG: how many scans the decoder would run
    // GIF: the bytes up to the end of the first frame; a decoder needs no more to draw it.
    std::size_t firstFrameEnd = 0;

    std::uint64_t pixels() const { return std::uint64_t(width) * height; }

    // The header of `bytes`, or nothing when they are not a whole header of a PNG, JPEG, GIF
    // or WebP picture.
    static std::optional<PictureHeader> read(std::string_view bytes);
};

}  // namespace norvo
