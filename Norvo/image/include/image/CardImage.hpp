#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace norvo {

// A rendered card: exactly width x height pixels. Each pixel is 4 bytes in memory
// order B, G, R, A with premultiplied alpha (cairo's ARGB32 and GDK's default memory
// format on little-endian machines); rows are packed, stride = width * 4.
class CardImage {
public:
    CardImage(int width, int height);  // fully transparent
    // An image whose pixels are about to be overwritten: no time spent clearing them.
    static CardImage uninitialized(int width, int height);
    // An image over someone else's packed pixels, read in place; `owner` keeps them alive and
    // is dropped with the last reference. Read-only, hence handed out as a const image.
    static std::shared_ptr<const CardImage> over(int width, int height, const std::uint8_t* pixels,
                                                 std::shared_ptr<const void> owner);

    CardImage(CardImage&& other) noexcept;
    CardImage& operator=(CardImage&& other) noexcept;
    CardImage(const CardImage&) = delete;
    CardImage& operator=(const CardImage&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return width_ * 4; }
    std::uint8_t* data() { return pixels_; }
    const std::uint8_t* data() const { return pixels_; }
    const std::uint8_t* row(int y) const { return pixels_ + std::size_t(y) * std::size_t(stride()); }
    std::size_t byteCount() const { return std::size_t(width_) * std::size_t(height_) * 4; }

    bool isOpaque() const;
    // The image stretched (or copied) to exactly width x height, alpha kept.
    CardImage scaledTo(int width, int height) const;

    static bool validSize(std::int64_t width, std::int64_t height);

private:
    int width_;
    int height_;
    struct Uninitialized {};
    struct Borrowed {};
    CardImage(int width, int height, Uninitialized);
    CardImage(int width, int height, Borrowed);
    std::shared_ptr<const void> storage_;  // owns what pixels_ points into
    std::uint8_t* pixels_ = nullptr;
};

using CardImagePtr = std::shared_ptr<const CardImage>;

}  // namespace norvo
