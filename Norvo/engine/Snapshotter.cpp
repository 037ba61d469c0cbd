#include "engine/Snapshotter.hpp"

#include "engine/TexturePixels.hpp"

namespace norvo {

CardImagePtr Snapshotter::exactImage(GdkTexture* texture, const Preset& preset) {
    if (!texture) return nullptr;
    const int tw = gdk_texture_get_width(texture), th = gdk_texture_get_height(texture);
    if (!CardImage::validSize(tw, th) || !CardImage::validSize(preset.width, preset.height)) return nullptr;
    if (CardImagePtr borrowed = TexturePixels::borrow(texture)) {
        if (tw == preset.width && th == preset.height) return borrowed;
        return std::make_shared<CardImage>(borrowed->scaledTo(int(preset.width), int(preset.height)));
    }
    std::shared_ptr<CardImage> image;
    if (spare_ && spare_.use_count() == 1 && spare_->width() == tw && spare_->height() == th)
        image = spare_;
    else
        image = std::make_shared<CardImage>(CardImage::uninitialized(tw, th));
    spare_ = image;
    gdk_texture_download(texture, image->data(), gsize(image->stride()));
    if (tw == preset.width && th == preset.height) return image;
    return std::make_shared<CardImage>(image->scaledTo(int(preset.width), int(preset.height)));
}

}  // namespace norvo
