#include <gtest/gtest.h>

#include <cstring>

#include <png.h>

#include "TestSupport.hpp"
#include "image/PngEncoder.hpp"

using namespace norvo;

namespace {

CardImage filled(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
    CardImage image(w, h);
    for (int i = 0; i < w * h; ++i) {
        std::uint8_t* p = image.data() + 4 * i;
        p[0] = b, p[1] = g, p[2] = r, p[3] = a;
    }
    return image;
}

// Decodes to straight RGBA with libpng's simplified reader.
std::vector<std::uint8_t> decodeRgba(const std::vector<std::uint8_t>& png, int& w, int& h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> out(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
    w = int(image.width);
    h = int(image.height);
    return out;
}

}  // namespace

TEST(Png, ExactSizeStretchAndAlpha) {
    // A varied opaque image round-trips exactly, as RGB.
    CardImage image(64, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x) {
            std::uint8_t* p = image.data() + (y * 64 + x) * 4;
            p[0] = std::uint8_t(x * 4), p[1] = std::uint8_t(y * 6), p[2] = std::uint8_t(x ^ y), p[3] = 255;
        }
    const auto png = PngEncoder::encodeAt(image, 64, 40);
    ASSERT_TRUE(png);
    EXPECT_EQ(norvo::testing::readPngHeader(*png).colorType, PNG_COLOR_TYPE_RGB);
    int w = 0, h = 0;
    const auto rgba = decodeRgba(*png, w, h);
    ASSERT_EQ(w, 64);
    ASSERT_EQ(h, 40);
    for (int i = 0; i < 64 * 40; ++i) {
        const std::uint8_t* src = image.data() + 4 * i;
        ASSERT_EQ(rgba[4 * i + 0], src[2]);
        ASSERT_EQ(rgba[4 * i + 1], src[1]);
        ASSERT_EQ(rgba[4 * i + 2], src[0]);
    }

    // A smaller image is stretched to fill the whole requested size.
    const auto stretched = PngEncoder::encodeAt(filled(540, 675, 10, 20, 200, 255), 1080, 1350);
    ASSERT_TRUE(stretched);
    const auto header = norvo::testing::readPngHeader(*stretched);
    EXPECT_EQ(header.width, 1080u);
    EXPECT_EQ(header.height, 1350u);
    const auto big = decodeRgba(*stretched, w, h);
    for (std::size_t i = 0; i < big.size(); i += 4) ASSERT_EQ(big[i], 200) << "pixel " << i / 4;

    // Transparent stays transparent; half-covered pixels keep their colour.
    CardImage clear = filled(8, 8, 0, 0, 0, 0);
    std::uint8_t* half = clear.data();
    half[0] = 0, half[1] = 0, half[2] = 128, half[3] = 128;  // premultiplied pure red at 50%
    const auto alphaPng = PngEncoder::encodeAt(clear, 8, 8);
    ASSERT_TRUE(alphaPng);
    EXPECT_EQ(norvo::testing::readPngHeader(*alphaPng).colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    const auto px = decodeRgba(*alphaPng, w, h);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[3], 128);
    for (std::size_t i = 4; i < px.size(); i += 4) ASSERT_EQ(px[i + 3], 0);

    EXPECT_FALSE(PngEncoder::encodeAt(image, 0, 10));
    EXPECT_FALSE(PngEncoder::encodeAt(image, 10, -1));
}
