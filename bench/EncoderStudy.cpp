#include "EncoderStudy.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <webp/encode.h>
#include <zlib.h>

#include "image/CardFormats.hpp"
#include "image/PngEncoder.hpp"

namespace norvo::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The scanlines a PNG deflates: a filter byte, then RGB; Up subtracts the row above.
std::vector<std::uint8_t> scanlines(const CardImage& image, bool up) {
    const std::size_t stride = std::size_t(image.width()) * 3 + 1;
    std::vector<std::uint8_t> raw(stride * std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* out = raw.data() + stride * std::size_t(y);
        out[0] = up && y > 0 ? 2 : 0;
        const std::uint8_t* px = image.row(y);
        for (int x = 0; x < image.width(); ++x, px += 4) {
            std::uint8_t* rgb = out + 1 + 3 * x;
            rgb[0] = px[2], rgb[1] = px[1], rgb[2] = px[0];
        }
        if (out[0] == 2)
            for (std::size_t i = stride - 1; i > 0; --i) out[i] = std::uint8_t(out[i] - out[i - stride]);
    }
    return raw;
}

std::size_t viaZlib(const std::vector<std::uint8_t>& raw, int level, int strategy) {
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<std::uint8_t> out(size);
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    const std::size_t written = z.total_out;
    deflateEnd(&z);
    return written;
}

std::size_t viaLibdeflate(const std::vector<std::uint8_t>& raw, int level) {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> c(libdeflate_alloc_compressor(level),
                                                                                     libdeflate_free_compressor);
    std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(c.get(), raw.size()));
    return libdeflate_zlib_compress(c.get(), raw.data(), raw.size(), out.data(), out.size());
}

std::size_t viaIsal(const std::vector<std::uint8_t>& raw, int level) {
    static const std::uint32_t levelBytes[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT,
                                               ISAL_DEF_LVL3_DEFAULT};
    std::vector<std::uint8_t> levelBuffer(levelBytes[level]);
    std::vector<std::uint8_t> out(raw.size() + raw.size() / 8 + 1024);
    isal_zstream z;
    isal_deflate_stateless_init(&z);
    z.level = std::uint32_t(level);
    z.level_buf = levelBuffer.data();
    z.level_buf_size = std::uint32_t(levelBuffer.size());
    z.gzip_flag = IGZIP_ZLIB;
    z.end_of_stream = 1;
    z.next_in = const_cast<std::uint8_t*>(raw.data());
    z.avail_in = std::uint32_t(raw.size());
    z.next_out = out.data();
    z.avail_out = std::uint32_t(out.size());
    return isal_deflate_stateless(&z) == COMP_OK ? z.total_out : 0;
}

// Lossless WebP of an opaque card at one effort preset: its size in bytes.
std::size_t viaWebp(const CardImage& image, int preset) {
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, preset) || !WebPPictureInit(&picture)) return 0;
    picture.use_argb = 1;
    picture.width = image.width();
    picture.height = image.height();
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPPictureImportBGRA(&picture, image.data(), image.stride()) && WebPEncode(&config, &picture);
    const std::size_t size = ok ? writer.size : 0;
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return size;
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Way {
    std::string name;
    bool up;
    std::function<std::size_t(const std::vector<std::uint8_t>&)> deflate;  // empty: the shipped encoder
};

}  // namespace

void studyEncoders(const std::vector<CardImagePtr>& cards, int rounds) {
    std::vector<Way> ways{{"PngEncoder::encode (what Norvo ships)", false, {}}};
    std::vector<std::pair<std::string, CardFormats::Format>> others{{"JPEG, quality 92 (--format jpeg)", CardFormats::Format::Jpeg},
                                                                    {"WebP, lossless (--format webp)", CardFormats::Format::WebP}};
    for (bool up : {false, true}) {
        const std::string f = up ? ", up" : "";
        for (int level : {1, 3, 6}) ways.push_back({"zlib " + std::to_string(level) + f, up,
                                                  [level](const auto& r) { return viaZlib(r, level, Z_DEFAULT_STRATEGY); }});
        ways.push_back({"zlib 1 rle" + f, up, [](const auto& r) { return viaZlib(r, 1, Z_RLE); }});
        for (int level : {1, 2, 4, 6}) ways.push_back({"libdeflate " + std::to_string(level) + f, up,
                                                     [level](const auto& r) { return viaLibdeflate(r, level); }});
        for (int level : {1, 2, 3}) ways.push_back({"isa-l " + std::to_string(level) + f, up,
                                                  [level](const auto& r) { return viaIsal(r, level); }});
    }
    std::printf("  %-38s %10s %12s   (medians over %zu cards x %d rounds; filtering and the\n", "way", "ms", "bytes",
                cards.size(), rounds);
    std::printf("  %-38s %10s %12s    RGB conversion included)\n", "", "", "");
    for (const Way& way : ways) {
        std::vector<double> times;
        std::vector<double> sizes;
        for (const CardImagePtr& card : cards)
            for (int i = 0; i < rounds; ++i) {
                const auto t0 = Clock::now();
                std::size_t bytes = 0;
                if (way.deflate) {
                    bytes = way.deflate(scanlines(*card, way.up));
                } else {
                    bytes = PngEncoder::encode(*card)->size();
                }
                times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                sizes.push_back(double(bytes));
            }
        std::printf("  %-38s %10.1f %12.0f\n", way.name.c_str(), medianOf(times), medianOf(sizes));
    }
    // The other formats a card is written in, by the encoders Norvo ships for them.
    for (const auto& [name, format] : others) {
        std::vector<double> times, sizes;
        for (const CardImagePtr& card : cards)
            for (int i = 0; i < rounds; ++i) {
                const auto t0 = Clock::now();
                const auto bytes = CardFormats::encodeAt(*card, card->width(), card->height(), format);
                times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                sizes.push_back(bytes ? double(bytes->size()) : 0);
            }
        std::printf("  %-38s %10.1f %12.0f\n", name.c_str(), medianOf(times), medianOf(sizes));
    }
    for (int preset : {0, 1, 2, 3}) {
        std::vector<double> times, sizes;
        for (const CardImagePtr& card : cards) {
            const auto t0 = Clock::now();
            sizes.push_back(double(viaWebp(*card, preset)));
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("  %-38s %10.1f %12.0f\n", ("WebP lossless, effort " + std::to_string(preset)).c_str(), medianOf(times),
                    medianOf(sizes));
    }
}

}  // namespace norvo::bench
