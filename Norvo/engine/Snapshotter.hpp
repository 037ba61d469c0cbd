#pragma once
#include <memory>

#include <gdk/gdk.h>

#include "image/CardImage.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

// Turns the view's snapshot into a card of exactly the preset's size. The card reads the
// snapshot's own pixels where it can; else they are downloaded into one reused buffer when no
// one holds the last card any more (else into a fresh one, never cleared first: every byte is
// written). Main thread only.
class Snapshotter {
public:
    CardImagePtr exactImage(GdkTexture* texture, const Preset& preset);

private:
    std::shared_ptr<CardImage> spare_;
};

}  // namespace norvo
