#include "engine/TexturePixels.hpp"

#include <cstring>
#include <memory>

#include <gtk/gtk.h>

namespace norvo {

namespace {

// GTK 4.8's private instance structs (gdktextureprivate.h, gdkmemorytextureprivate.h).
struct TextureFields {
    GObject parent;
    GdkMemoryFormat format;
    int width;
    int height;
    gpointer renderKey;
    gpointer renderData;
    GDestroyNotify renderNotify;
};

struct MemoryTextureFields {
    TextureFields texture;
    GBytes* bytes;
    gsize stride;
};

bool instanceSizeIs(GType type, std::size_t size) {
    GTypeQuery query{};
    g_type_query(type, &query);
    return query.type == type && query.instance_size == size;
}

// Only the release whose structs are mirrored above, and only if GObject agrees on their sizes.
bool layoutIsKnown() {
    static const bool known = gtk_get_major_version() == 4 && gtk_get_minor_version() == 8 &&
                              instanceSizeIs(GDK_TYPE_TEXTURE, sizeof(TextureFields)) &&
                              instanceSizeIs(GDK_TYPE_MEMORY_TEXTURE, sizeof(MemoryTextureFields));
    return known;
}

}  // namespace

CardImagePtr TexturePixels::borrow(GdkTexture* texture) {
    if (!texture || !layoutIsKnown() || G_OBJECT_TYPE(texture) != GDK_TYPE_MEMORY_TEXTURE) return nullptr;
    MemoryTextureFields fields;
    std::memcpy(&fields, texture, sizeof fields);
    const int width = gdk_texture_get_width(texture), height = gdk_texture_get_height(texture);
    if (fields.texture.width != width || fields.texture.height != height ||
        fields.texture.format != GDK_MEMORY_DEFAULT || !CardImage::validSize(width, height) || !fields.bytes)
        return nullptr;
    const gsize packed = gsize(width) * 4;
    gsize size = 0;
    const void* pixels = g_bytes_get_data(fields.bytes, &size);
    if (fields.stride != packed || !pixels || size < packed * gsize(height)) return nullptr;
    std::shared_ptr<const void> owner(g_bytes_ref(fields.bytes), [](GBytes* bytes) { g_bytes_unref(bytes); });
    return CardImage::over(width, height, static_cast<const std::uint8_t*>(pixels), std::move(owner));
}

}  // namespace norvo
