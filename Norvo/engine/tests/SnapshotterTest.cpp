// A snapshot becomes a card: WebKit's own bytes read in place where GTK allows it, a download
// where it does not, the same pixels either way.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <gtk/gtk.h>

#include "engine/Snapshotter.hpp"
#include "engine/TexturePixels.hpp"

using namespace norvo;

namespace {

struct Texture {
    std::vector<std::uint8_t> pixels;
    bool released = false;
    GdkTexture* texture = nullptr;

    // A texture over a buffer of ours, made the way WebKit wraps its snapshot bitmap.
    Texture(int width, int height, int stride, GdkMemoryFormat format) : pixels(std::size_t(stride) * height) {
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t((i * 7 + i / 4096) | 3);
        for (std::size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0xFF;
        GBytes* bytes = g_bytes_new_with_free_func(pixels.data(), pixels.size(),
                                                   [](gpointer flag) { *static_cast<bool*>(flag) = true; }, &released);
        texture = gdk_memory_texture_new(width, height, format, bytes, gsize(stride));
        g_bytes_unref(bytes);
    }
    ~Texture() { g_clear_object(&texture); }

    std::vector<std::uint8_t> downloaded() const {
        std::vector<std::uint8_t> out(std::size_t(gdk_texture_get_width(texture)) * 4 * gdk_texture_get_height(texture));
        gdk_texture_download(texture, out.data(), gsize(gdk_texture_get_width(texture)) * 4);
        return out;
    }
};

bool samePixels(const CardImage& image, const std::vector<std::uint8_t>& pixels) {
    return image.byteCount() == pixels.size() && std::memcmp(image.data(), pixels.data(), pixels.size()) == 0;
}

}  // namespace

TEST(Snapshotter, ReadsTheSnapshotInPlaceOnlyWhenItsLayoutIsCertain) {
    const Preset square{.id = "40x30", .name = "40x30", .width = 40, .height = 30};
    const bool gtk48 = gtk_get_major_version() == 4 && gtk_get_minor_version() == 8;
    Snapshotter snapshotter;
    {
        Texture packed(40, 30, 160, GDK_MEMORY_DEFAULT);
        const std::vector<std::uint8_t> expected = packed.downloaded();
        CardImagePtr card = snapshotter.exactImage(packed.texture, square);
        ASSERT_TRUE(card);
        EXPECT_TRUE(samePixels(*card, expected));
        EXPECT_EQ(card->data() == packed.pixels.data(), gtk48) << "read in place on GTK 4.8 only";
        // The card holds the bitmap past the texture, and lets go of it with its last reference.
        g_clear_object(&packed.texture);
        EXPECT_EQ(packed.released, !gtk48);
        card.reset();
        EXPECT_TRUE(packed.released);
    }
    // Rows with padding, another byte order, or a snapshot of another size: downloaded as before.
    Texture padded(40, 30, 176, GDK_MEMORY_DEFAULT);
    Texture reordered(40, 30, 160, GDK_MEMORY_R8G8B8A8);
    EXPECT_FALSE(TexturePixels::borrow(padded.texture));
    EXPECT_FALSE(TexturePixels::borrow(reordered.texture));
    for (const Texture* texture : {&padded, &reordered}) {
        CardImagePtr card = snapshotter.exactImage(texture->texture, square);
        ASSERT_TRUE(card);
        EXPECT_TRUE(samePixels(*card, texture->downloaded()));
        EXPECT_NE(card->data(), texture->pixels.data());
    }
    Texture small(20, 15, 80, GDK_MEMORY_DEFAULT);
    CardImagePtr stretched = snapshotter.exactImage(small.texture, square);
    ASSERT_TRUE(stretched);
    EXPECT_EQ(stretched->width(), 40);
    EXPECT_EQ(stretched->height(), 30);
}
