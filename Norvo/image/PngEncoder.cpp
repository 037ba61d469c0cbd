#include "image/PngEncoder.hpp"

#include <csetjmp>
#include <memory>
#include <string_view>

#include <libdeflate.h>
#include <png.h>

namespace norvo::PngEncoder {
namespace {

struct WriteState {
    std::vector<std::uint8_t>* out;
};

void writeBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
    state->out->insert(state->out->end(), data, data + length);
}
void flushNothing(png_structp) {}

// libpng owns two structs that must be destroyed together.
class PngWriter {
public:
    PngWriter() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (png_) info_ = png_create_info_struct(png_);
    }
    ~PngWriter() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    bool ok() const { return png_ && info_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

void toRgb(const std::uint8_t* bgra, std::uint8_t* rgb, int width) {
    for (int x = 0; x < width; ++x, bgra += 4, rgb += 3) {
        rgb[0] = bgra[2];
        rgb[1] = bgra[1];
        rgb[2] = bgra[0];
    }
}

void toStraightRgba(const std::uint8_t* bgra, std::uint8_t* rgba, int width) {
    for (int x = 0; x < width; ++x, bgra += 4, rgba += 4) {
        const unsigned a = bgra[3];
        if (a == 0xFF || a == 0) {
            rgba[0] = bgra[2];
            rgba[1] = bgra[1];
            rgba[2] = bgra[0];
        } else {
            rgba[0] = std::uint8_t(std::min(255u, (bgra[2] * 255u + a / 2) / a));
            rgba[1] = std::uint8_t(std::min(255u, (bgra[1] * 255u + a / 2) / a));
            rgba[2] = std::uint8_t(std::min(255u, (bgra[0] * 255u + a / 2) / a));
        }
        rgba[3] = std::uint8_t(a);
    }
}

// Kept apart from any C++ object with a destructor: libpng reports errors by longjmp.
bool writeAll(png_structp png, png_infop info, const CardImage& image, bool opaque, std::uint8_t* rowBuffer,
              png_textp text, int textCount) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (textCount > 0) png_set_text(png, info, text, textCount);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Measured on rendered cards: level 3 without row filters is a fifth smaller than
    // level 1 for a tenth more time, and near libpng's default (level 6, adaptive filters),
    // often below it, at a quarter of its time. Filters hurt on the dithered gradients.
    png_set_compression_level(png, 3);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    for (int y = 0; y < image.height(); ++y) {
        if (opaque)
            toRgb(image.row(y), rowBuffer, image.width());
        else
            toStraightRgba(image.row(y), rowBuffer, image.width());
        png_write_row(png, rowBuffer);
    }
    png_write_end(png, info);
    return true;
}

// A card's scanlines are deflated whole by libdeflate, in one buffer, up to this size; a
// larger picture (a long one, a wide one at twice the density) streams through libpng, row by
// row, so that no second copy of it is held.
constexpr std::size_t kWholeBufferBytes = 48u << 20;
// Measured on rendered cards (norvo-bench --encoders): libdeflate's level 4 without row
// filters is smaller than zlib's level 3 in two thirds of its time. Filters hurt on the
// dithered backdrops.
constexpr int kDeflateLevel = 4;

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift : {24, 16, 8, 0}) out.push_back(std::uint8_t(v >> shift));
}

void putChunk(std::vector<std::uint8_t>& out, std::string_view type, const std::uint8_t* data, std::size_t size) {
    putBigEndian(out, std::uint32_t(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data, data + size);
    putBigEndian(out, std::uint32_t(libdeflate_crc32(0, out.data() + start, out.size() - start)));
}

// An international text chunk as libpng writes it: keyword, uncompressed, no language.
void putWords(std::vector<std::uint8_t>& out, const Words& words) {
    for (auto [key, value] : {std::pair{std::string_view("Title"), &words.title},
                              std::pair{std::string_view("Description"), &words.description}}) {
        if (value->empty()) continue;
        std::vector<std::uint8_t> body(key.begin(), key.end());
        body.insert(body.end(), {0, 0, 0, 0, 0});  // end of key, not compressed, method, language, translated key
        body.insert(body.end(), value->begin(), value->end());
        putChunk(out, "iTXt", body.data(), body.size());
    }
}

// A buffer whose bytes are all written before they are read: not cleared first, so that
// pages never used (most of a deflate bound) are never touched.
struct Buffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    explicit Buffer(std::size_t n) : bytes(std::make_unique_for_overwrite<std::uint8_t[]>(n)), size(n) {}
    std::uint8_t* data() const { return bytes.get(); }
};

// The image's rows as a PNG holds them unfiltered: a zero filter byte before each.
Buffer scanlines(const CardImage& image, bool opaque) {
    const std::size_t rowBytes = std::size_t(image.width()) * (opaque ? 3 : 4) + 1;
    Buffer raw(rowBytes * std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* row = raw.data() + rowBytes * std::size_t(y);
        row[0] = 0;
        if (opaque)
            toRgb(image.row(y), row + 1, image.width());
        else
            toStraightRgba(image.row(y), row + 1, image.width());
    }
    return raw;
}

std::optional<std::vector<std::uint8_t>> encodeWhole(const CardImage& image, const Words& words) {
    const bool opaque = image.isOpaque();
    const Buffer raw = scanlines(image, opaque);
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kDeflateLevel), libdeflate_free_compressor);
    if (!compressor) return std::nullopt;
    const Buffer bound(libdeflate_zlib_compress_bound(compressor.get(), raw.size));
    const std::size_t deflatedSize =
        libdeflate_zlib_compress(compressor.get(), raw.data(), raw.size, bound.data(), bound.size);
    if (deflatedSize == 0) return std::nullopt;

    std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.reserve(deflatedSize + words.title.size() + words.description.size() + 128);
    std::vector<std::uint8_t> header;
    putBigEndian(header, std::uint32_t(image.width()));
    putBigEndian(header, std::uint32_t(image.height()));
    header.insert(header.end(), {8, std::uint8_t(opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA), 0, 0, 0});
    putChunk(out, "IHDR", header.data(), header.size());
    putWords(out, words);
    putChunk(out, "IDAT", bound.data(), deflatedSize);
    putChunk(out, "IEND", nullptr, 0);
    return out;
}

std::optional<std::vector<std::uint8_t>> encodeStreaming(const CardImage& image, const Words& words) {
    // libpng keeps pointers into these until the chunks are written.
    std::string title = words.title, description = words.description;
    char titleKey[] = "Title", descriptionKey[] = "Description", noLanguage[] = "";
    png_text text[2] = {};
    int textCount = 0;
    for (auto [key, value] : {std::pair{titleKey, &title}, std::pair{descriptionKey, &description}}) {
        if (value->empty()) continue;
        png_text& t = text[textCount++];
        t.compression = PNG_ITXT_COMPRESSION_NONE;
        t.key = key;
        t.text = value->data();
        t.itxt_length = value->size();
        t.lang = noLanguage;
        t.lang_key = noLanguage;
    }
    PngWriter writer;
    if (!writer.ok()) return std::nullopt;
    const bool opaque = image.isOpaque();
    std::vector<std::uint8_t> row(std::size_t(image.width()) * (opaque ? 3 : 4));
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t(image.width()) * std::size_t(image.height()) / 4);
    WriteState state{&out};
    png_set_write_fn(writer.png(), &state, writeBytes, flushNothing);
    if (!writeAll(writer.png(), writer.info(), image, opaque, row.data(), text, textCount)) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encode(const CardImage& image, const Words& words) {
    const std::size_t rawBytes = (std::size_t(image.width()) * 4 + 1) * std::size_t(image.height());
    return rawBytes <= kWholeBufferBytes ? encodeWhole(image, words) : encodeStreaming(image, words);
}

std::optional<std::vector<std::uint8_t>> encodeAt(const CardImage& image, std::int64_t width, std::int64_t height,
                                                  const Words& words) {
    if (!CardImage::validSize(width, height)) return std::nullopt;
    if (image.width() == width && image.height() == height) return encode(image, words);
    return encode(image.scaledTo(int(width), int(height)), words);
}

}  // namespace norvo::PngEncoder
