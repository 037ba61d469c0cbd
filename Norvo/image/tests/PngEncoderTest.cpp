#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <map>

#include <png.h>
#include <cstdio>
#include <jpeglib.h>
#include <webp/decode.h>

#include "TestSupport.hpp"
#include "image/CardFormats.hpp"
#include "image/CardWriter.hpp"
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

    // A picture too large to deflate in one buffer streams row by row: the same pixels.
    const auto large = PngEncoder::encodeAt(filled(3600, 3600, 10, 20, 200, 255), 3600, 3600);
    ASSERT_TRUE(large);
    const auto largePixels = decodeRgba(*large, w, h);
    ASSERT_EQ(w, 3600);
    for (std::size_t i = 0; i < largePixels.size(); i += 4 * 9973) ASSERT_EQ(largePixels[i], 200) << "pixel " << i / 4;

    EXPECT_FALSE(PngEncoder::encodeAt(image, 0, 10));
    EXPECT_FALSE(PngEncoder::encodeAt(image, 10, -1));
}

namespace {

// The international text chunks of a PNG, read from its bytes: keyword -> UTF-8 text.
std::map<std::string, std::string> internationalText(const std::vector<std::uint8_t>& png) {
    std::map<std::string, std::string> out;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16 |
                                   std::size_t(png[at + 2]) << 8 | png[at + 3];
        const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
        const std::string data(png.begin() + long(at) + 8, png.begin() + long(at + 8 + length));
        if (type == "iTXt") {
            // keyword \0 compression-flag compression-method language \0 translated-keyword \0 text
            const std::size_t keyEnd = data.find('\0');
            const std::size_t languageEnd = data.find('\0', keyEnd + 3);
            const std::size_t translatedEnd = data.find('\0', languageEnd + 1);
            EXPECT_EQ(data[keyEnd + 1], 0) << "compressed";
            out[data.substr(0, keyEnd)] = data.substr(translatedEnd + 1);
        }
        at += 12 + length;
    }
    return out;
}

}  // namespace

TEST(Png, CarriesTheNotesWordsAsUtf8Text) {
    const CardImage image = filled(40, 30, 10, 20, 30, 255);
    const std::string description = "Caf\u00e9 \xF0\x9F\x9A\x80\nSecond line";
    const auto png = PngEncoder::encodeAt(image, 40, 30, {"Launch \u2014 day", description});
    ASSERT_TRUE(png);
    const auto text = internationalText(*png);
    EXPECT_EQ(text.at("Title"), "Launch \u2014 day");
    EXPECT_EQ(text.at("Description"), description);
    int w = 0, h = 0;
    EXPECT_FALSE(decodeRgba(*png, w, h).empty());  // still a PNG every reader takes
    EXPECT_EQ(w, 40);
    // No words, no chunks: the picture alone, as before.
    EXPECT_TRUE(internationalText(*PngEncoder::encodeAt(image, 40, 30)).empty());
}

TEST(CardFormats, JpegAndWebPAreExactSizeWithTheWordsAsXmp) {
    CardImage image = filled(64, 48, 200, 120, 40, 255);  // B, G, R
    const PngEncoder::Words words{"Launch <day> & more", "Caf\u00e9 \xF0\x9F\x9A\x80"};
    using CardFormats::Format;
    for (const Format format : {Format::Jpeg, Format::WebP}) {
        const auto bytes = CardFormats::encodeAt(image, 64, 48, format, words);
        ASSERT_TRUE(bytes);
        const std::string text(bytes->begin(), bytes->end());
        EXPECT_NE(text.find("<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Launch &lt;day&gt; &amp; more"),
                  std::string::npos);
        EXPECT_NE(text.find("Caf\u00e9 \xF0\x9F\x9A\x80</rdf:li>"), std::string::npos);
        int w = 0, h = 0;
        std::vector<std::uint8_t> rgb;
        if (format == Format::WebP) {
            EXPECT_EQ(text.substr(0, 4), "RIFF");
            std::uint8_t* decoded = WebPDecodeRGB(bytes->data(), bytes->size(), &w, &h);
            ASSERT_TRUE(decoded);
            rgb.assign(decoded, decoded + std::size_t(w) * std::size_t(h) * 3);
            WebPFree(decoded);
            EXPECT_EQ(rgb[0], 40);  // lossless
            EXPECT_EQ(rgb[1], 120);
            EXPECT_EQ(rgb[2], 200);
        } else {
            EXPECT_EQ(text.substr(0, 2), "\xFF\xD8");
            jpeg_decompress_struct jpeg{};
            jpeg_error_mgr errors{};
            jpeg.err = jpeg_std_error(&errors);
            jpeg_create_decompress(&jpeg);
            jpeg_mem_src(&jpeg, bytes->data(), static_cast<unsigned long>(bytes->size()));
            ASSERT_EQ(jpeg_read_header(&jpeg, TRUE), JPEG_HEADER_OK);
            EXPECT_EQ(jpeg.comp_info[1].h_samp_factor * jpeg.comp_info[0].h_samp_factor, 1);  // 4:4:4
            jpeg_start_decompress(&jpeg);
            w = int(jpeg.output_width);
            h = int(jpeg.output_height);
            rgb.resize(std::size_t(w) * 3);
            JSAMPROW row = rgb.data();
            jpeg_read_scanlines(&jpeg, &row, 1);
            jpeg_abort_decompress(&jpeg);
            jpeg_destroy_decompress(&jpeg);
            EXPECT_NEAR(rgb[0], 40, 3);  // quality 92
            EXPECT_NEAR(rgb[1], 120, 3);
            EXPECT_NEAR(rgb[2], 200, 3);
        }
        EXPECT_EQ(w, 64);
        EXPECT_EQ(h, 48);
        // The asked-for size, whatever the drawn one.
        EXPECT_TRUE(CardFormats::encodeAt(image, 128, 96, format));
    }
    EXPECT_EQ(CardFormats::byExtension("Card.JPEG"), Format::Jpeg);
    EXPECT_EQ(CardFormats::byExtension("card.webp"), Format::WebP);
    EXPECT_EQ(CardFormats::byExtension("card"), Format::Png);
    EXPECT_FALSE(CardFormats::byName("gif"));
}

// A set is written as its cards come and is kept whole or not at all; a FIFO named as a card's
// file is written into and never removed.
TEST(SetWriter, KeepsASetWholeOrNotAtAll) {
    const norvo::testing::TempFolder temp;
    const auto& dir = temp.path();
    const CardImagePtr card = std::make_shared<const CardImage>(CardImage(40, 30));
    const Preset size{"s", "S", 40, 30};
    {
        SetWriter set({.base = dir / "cards.jpg", .size = size, .pdf = dir / "cards.pdf", .words = cardWords("# Hi")});
        ASSERT_FALSE(set.add(card, 1, 2));
        ASSERT_FALSE(set.add(card, 2, 2));
        EXPECT_FALSE(std::filesystem::exists(dir / "cards.pdf"));  // not before the commit
        ASSERT_FALSE(set.commit());
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "cards-2.jpg"));
    EXPECT_GT(std::filesystem::file_size(dir / "cards.pdf"), 0u);
    {
        SetWriter dropped({.base = dir / "other.png", .size = size});
        ASSERT_FALSE(dropped.add(card, 1, 3));
        EXPECT_TRUE(std::filesystem::exists(dir / "other-1.png"));
    }  // no commit: nothing stays
    EXPECT_FALSE(std::filesystem::exists(dir / "other-1.png"));
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    const int reader = ::open((dir / "pipe.png").c_str(), O_RDONLY | O_NONBLOCK);
    {
        SetWriter piped({.base = dir / "pipe.png", .size = size});
        EXPECT_FALSE(piped.add(card, 1, 1));
        piped.rollBack();
    }
    ::close(reader);
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe.png"));
    EXPECT_EQ(SetWriter({.base = dir / "x.png", .size = size}).add(nullptr, 1, 1), CardFormats::encodeFailed());
}
