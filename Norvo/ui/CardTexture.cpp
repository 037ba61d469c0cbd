#include "ui/CardTexture.hpp"

#include <gdk/gdk.h>

#include "support/GPtr.hpp"

namespace norvo {

Glib::RefPtr<Gdk::Texture> makeTexture(const CardImage& image) {
    const gsize size = gsize(image.stride()) * gsize(image.height());
    GBytesPtr bytes(g_bytes_new(image.data(), size));
    // CardImage's layout is GDK's default memory format.
    GdkTexture* texture =
        gdk_memory_texture_new(image.width(), image.height(), GDK_MEMORY_DEFAULT, bytes.get(), gsize(image.stride()));
    return Glib::wrap(texture);
}

}  // namespace norvo
