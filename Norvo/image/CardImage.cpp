#include "image/CardImage.hpp"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "image/CairoPtr.hpp"

namespace norvo {

namespace {
constexpr std::int64_t kMaxSide = 16384;

CairoSurfacePtr wrap(const std::uint8_t* data, int w, int h) {
    // cairo only reads from the source surface here; the cast does not lead to writes.
    return CairoSurfacePtr(cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(data), CAIRO_FORMAT_ARGB32,
                                                            w, h, w * 4));
}
}  // namespace

bool CardImage::validSize(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide;
}

CardImage::CardImage(int width, int height, Borrowed) : width_(width), height_(height) {}

CardImage::CardImage(int width, int height, Uninitialized) : width_(width), height_(height) {
    if (!validSize(width, height)) throw std::invalid_argument("card image size");
    std::unique_ptr<std::uint8_t[]> owned = std::make_unique_for_overwrite<std::uint8_t[]>(byteCount());
    pixels_ = owned.get();
    storage_ = std::shared_ptr<std::uint8_t[]>(std::move(owned));
}

std::shared_ptr<const CardImage> CardImage::over(int width, int height, const std::uint8_t* pixels,
                                                 std::shared_ptr<const void> owner) {
    if (!validSize(width, height) || !pixels || !owner) throw std::invalid_argument("card image pixels");
    CardImage image(width, height, Borrowed{});
    // Only a const image is handed out, so nothing writes through this pointer.
    image.pixels_ = const_cast<std::uint8_t*>(pixels);
    image.storage_ = std::move(owner);
    return std::make_shared<const CardImage>(std::move(image));
}

CardImage::CardImage(int width, int height) : CardImage(width, height, Uninitialized{}) {
    std::memset(pixels_, 0, byteCount());
}

CardImage::CardImage(CardImage&& other) noexcept
    : width_(other.width_), height_(other.height_), storage_(std::move(other.storage_)),
      pixels_(std::exchange(other.pixels_, nullptr)) {}

CardImage& CardImage::operator=(CardImage&& other) noexcept {
    width_ = other.width_;
    height_ = other.height_;
    storage_ = std::move(other.storage_);
    pixels_ = std::exchange(other.pixels_, nullptr);
    return *this;
}

CardImage CardImage::uninitialized(int width, int height) { return CardImage(width, height, Uninitialized{}); }

bool CardImage::isOpaque() const {
    const std::size_t n = byteCount();
    for (std::size_t i = 3; i < n; i += 4)
        if (pixels_[i] != 0xFF) return false;
    return true;
}

CardImage CardImage::scaledTo(int width, int height) const {
    if (width == width_ && height == height_) {
        CardImage copy = uninitialized(width, height);
        std::memcpy(copy.data(), data(), byteCount());
        return copy;
    }
    CardImage out(width, height);
    CairoSurfacePtr src = wrap(data(), width_, height_);
    CairoSurfacePtr dst = wrap(out.data(), width, height);
    CairoPtr cr(cairo_create(dst.get()));
    cairo_scale(cr.get(), double(width) / width_, double(height) / height_);
    cairo_set_source_surface(cr.get(), src.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_GOOD);
    // Pad the edges so a stretched image has no fading border.
    cairo_pattern_set_extend(cairo_get_source(cr.get()), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr.get());
    cr.reset();
    cairo_surface_flush(dst.get());
    return out;
}

}  // namespace norvo
