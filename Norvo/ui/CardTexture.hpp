#pragma once
#include <gdkmm/texture.h>

#include "image/CardImage.hpp"

namespace norvo {

// A GDK texture holding a copy of a card image's pixels.
Glib::RefPtr<Gdk::Texture> makeTexture(const CardImage& image);

}  // namespace norvo
