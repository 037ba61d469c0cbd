#pragma once
#include <gdk/gdk.h>

#include "image/CardImage.hpp"

namespace norvo {

// WebKit hands each snapshot over as a GdkMemoryTexture around its own bitmap. GTK 4.8 can only
// copy such a texture out through a per-pixel float conversion (about 6 ms for a square card, and
// as much again while the pages are first touched); the copying downloader comes with GTK 4.10.
// So on 4.8 a card reads WebKit's bitmap in place, holding it, once the texture has been checked
// to be laid out exactly as GTK 4.8 lays it out. Anything else is left to a download.
class TexturePixels {
public:
    // The texture's own pixels as a card image, or null when they cannot be reached safely.
    static CardImagePtr borrow(GdkTexture* texture);
};

}  // namespace norvo
