#include "image/Pictures.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <webp/decode.h>

#include "image/CardImage.hpp"
#include "image/PngEncoder.hpp"
#include "norvo/Backdrop.hpp"
#include "support/GPtr.hpp"

namespace norvo {

namespace fs = std::filesystem;

namespace {

using Kind = PictureHeader::Kind;

bool looksLikeAPicture(const std::string& b) {
    return b.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0 || b.compare(0, 3, "\xff\xd8\xff") == 0 ||
           b.compare(0, 4, "GIF8") == 0 || (b.size() >= 12 && b.compare(0, 4, "RIFF") == 0 && b.compare(8, 4, "WEBP") == 0);
}

std::string tookTooLong() { return "it takes too long to decode"; }

// Whether the file holds all of its picture: decoders draw what they got of a file cut short
// and fill the rest with grey, which no card should show.
bool isWhole(const std::string& b, Kind kind) {
    if (kind == Kind::Jpeg) {
        // The end-of-image marker after the last scan (0xFF never stands alone inside a scan).
        const std::size_t scan = b.rfind("\xff\xda");
        return scan != std::string::npos && b.find("\xff\xd9", scan) != std::string::npos;
    }
    if (kind == Kind::Png) return b.find("IEND") != std::string::npos;
    return true;  // a GIF is read to its first frame's end, which the header found; WebP's decoder refuses a file cut short
}

// What the page may load keeps one name per content for the process's life.
std::uint64_t nextSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

// The luminance grid of a picture: per cell, its darkest and lightest grey.
void measureGrid(GdkPixbuf* pixbuf, DecodedPicture& out) {
    static const auto toLinear = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t[std::size_t(i)] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* px = gdk_pixbuf_read_pixels(pixbuf);
    out.gridWidth = std::max(1, std::min(32, w));
    out.gridHeight = std::max(1, std::min(32, h));
    const std::size_t cells = std::size_t(out.gridWidth) * std::size_t(out.gridHeight);
    std::vector<double> lo(cells, 1.0), hi(cells, 0.0);
    for (int y = 0; y < h; ++y) {
        const std::size_t row = std::size_t(y * out.gridHeight / h) * std::size_t(out.gridWidth);
        const guchar* p = px + std::size_t(y) * std::size_t(stride);
        for (int x = 0; x < w; ++x, p += channels) {
            const double l = 0.2126 * toLinear[p[0]] + 0.7152 * toLinear[p[1]] + 0.0722 * toLinear[p[2]];
            const std::size_t cell = row + std::size_t(x * out.gridWidth / w);
            lo[cell] = std::min(lo[cell], l);
            hi[cell] = std::max(hi[cell], l);
        }
    }
    // Back to sRGB values: a grey of that luminance. Darkest rounds down, lightest up.
    auto encode = [](double l, bool up) {
        const double c = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
        const double v = std::clamp(c * 255.0, 0.0, 255.0);
        return std::uint8_t(up ? std::ceil(v) : std::floor(v));
    };
    out.darkest.resize(cells);
    out.lightest.resize(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        out.darkest[i] = encode(lo[i], false);
        out.lightest[i] = encode(hi[i], true);
    }
}

std::string tooManyPixels(const PictureLimits& limits) {
    return "it has more than " + std::to_string(limits.maxPixels / 1'000'000) + " megapixels";
}

// The scale that brings w x h within `largest` on a side (never up).
void scaledSize(int w, int h, int largest, int& outW, int& outH) {
    const double f = std::min(1.0, double(largest) / double(std::max(w, h)));
    outW = std::max(1, int(w * f + 0.5));
    outH = std::max(1, int(h * f + 0.5));
}

std::variant<GObjectPtr<GdkPixbuf>, std::string> decodeWithPixbuf(const std::string& bytes, const PictureHeader& header,
                                                                   int largest,
                                                                   const PictureLimits& limits, int& width, int& height) {
    const Kind kind = header.kind;
    GError* raw = nullptr;
    GObjectPtr<GdkPixbufLoader> loader(
        gdk_pixbuf_loader_new_with_type(kind == Kind::Png ? "png" : kind == Kind::Jpeg ? "jpeg" : "gif", &raw));
    GErrorPtr error(raw);
    if (!loader) return std::string("this kind of picture cannot be read here");
    struct Sizing {
        int largest;
        std::uint64_t maxPixels;
        int width = 0, height = 0;
        bool tooLarge = false;
    } sizing{largest, limits.maxPixels};
    auto onSize = +[](GdkPixbufLoader* l, int w, int h, gpointer data) {
                         auto* s = static_cast<Sizing*>(data);
                         s->width = w;
                         s->height = h;
                         if (std::uint64_t(w) * std::uint64_t(h) > s->maxPixels) {
                             s->tooLarge = true;
                             gdk_pixbuf_loader_set_size(l, 1, 1);  // nothing of it is decoded at size
                             return;
                         }
                         int sw = w, sh = h;
                         scaledSize(w, h, s->largest, sw, sh);
                         if (sw != w || sh != h) gdk_pixbuf_loader_set_size(l, sw, sh);
                     };
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSize), &sizing);
    // Fed a piece at a time, so that a file whose every piece costs a pass over the picture (a
    // progressive JPEG of many scans) stops at the deadline. A GIF gets its first frame only:
    // the loader would keep every frame of an animation.
    const std::size_t length = kind == Kind::Gif ? header.firstFrameEnd : bytes.size();
    const std::size_t pieces = header.scans > 1 ? 4 * 1024 : 64 * 1024;
    bool ok = true, late = false;
    for (std::size_t done = 0; ok && done < length && !sizing.tooLarge;) {
        if (std::chrono::steady_clock::now() > limits.deadline) {
            late = true;
            break;
        }
        const std::size_t piece = std::min<std::size_t>(length - done, done == 0 ? 64 * 1024 : pieces);
        ok = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.data()) + done, piece, &raw);
        error.reset(raw);
        raw = nullptr;
        done += piece;
    }
    if (ok && !late && kind == Kind::Gif) ok = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(";"), 1, &raw);
    error.reset(raw);
    raw = nullptr;
    if (late) {
        gdk_pixbuf_loader_close(loader.get(), nullptr);
        return tookTooLong();
    }
    const bool closed = gdk_pixbuf_loader_close(loader.get(), ok ? &raw : nullptr);
    GErrorPtr closeError(raw);
    if (sizing.tooLarge) return tooManyPixels(limits);
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!ok || !closed || !decoded || sizing.width <= 0) return std::string("it is damaged or not a picture");
    // EXIF orientation: a phone's sideways JPEG stands upright.
    GObjectPtr<GdkPixbuf> upright(gdk_pixbuf_apply_embedded_orientation(decoded));
    if (!upright) return std::string("it is damaged or not a picture");
    const char* orientation = gdk_pixbuf_get_option(decoded, "orientation");
    const bool turned = orientation && orientation[0] >= '5' && orientation[0] <= '8' && !orientation[1];
    width = turned ? sizing.height : sizing.width;
    height = turned ? sizing.width : sizing.height;
    return upright;
}

std::variant<GObjectPtr<GdkPixbuf>, std::string> decodeWebP(const std::string& bytes, int largest,
                                                            const PictureLimits& limits, int& width, int& height) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return std::string("this kind of picture cannot be read here");
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (WebPGetFeatures(data, bytes.size(), &config.input) != VP8_STATUS_OK)
        return std::string("it is damaged or not a picture");
    if (config.input.has_animation) return std::string("animated WebP pictures are not drawn");
    width = config.input.width;
    height = config.input.height;
    if (std::uint64_t(width) * std::uint64_t(height) > limits.maxPixels) return tooManyPixels(limits);
    int sw = width, sh = height;
    scaledSize(width, height, largest, sw, sh);
    config.options.use_scaling = (sw != width || sh != height);
    config.options.scaled_width = sw;
    config.options.scaled_height = sh;
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, sw, sh));
    if (!pixbuf) return std::string("it is too large to decode");
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = gdk_pixbuf_get_pixels(pixbuf.get());
    config.output.u.RGBA.stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    config.output.u.RGBA.size = std::size_t(gdk_pixbuf_get_rowstride(pixbuf.get())) * std::size_t(sh);
    const VP8StatusCode status = WebPDecode(data, bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return std::string("it is damaged or not a picture");
    return pixbuf;
}

}  // namespace

bool isInsideFolder(const fs::path& file, const fs::path& folder) {
    auto f = file.begin(), d = folder.begin();
    for (; d != folder.end(); ++d, ++f) {
        if (d->empty()) continue;  // a trailing separator
        if (f == file.end() || *f != *d) return false;
    }
    return true;
}

std::variant<fs::path, std::string> findPictureFile(const PictureFolders& folders, const std::string& relativePath) {
    std::string reason = "no such file beside the note";
    std::vector<std::string> all;
    if (!folders.noteFolder.empty()) all.push_back(folders.noteFolder);
    all.insert(all.end(), folders.more.begin(), folders.more.end());
    if (all.empty()) return std::string("the note has no folder to read pictures from");
    for (const std::string& folder : all) {
        std::error_code ec;
        const fs::path base = fs::canonical(folder, ec);
        if (ec) continue;
        const fs::path candidate = base / fs::path(relativePath);
        if (!fs::exists(fs::symlink_status(candidate, ec)) || ec) continue;
        const fs::path real = fs::canonical(candidate, ec);
        if (ec) {
            reason = "it is a link to nothing";
            continue;
        }
        if (!isInsideFolder(real, base)) {
            reason = "it lies outside the note's folder";
            continue;
        }
        if (!fs::is_regular_file(real, ec)) {
            reason = fs::is_directory(real, ec) ? "it is a folder" : "it is not a file";
            continue;
        }
        return real;
    }
    return reason;
}

namespace {

// The file's picture, upright, at most `largest` on a side; its own size in `width`, `height`.
std::variant<GObjectPtr<GdkPixbuf>, std::string> decodePixbuf(const fs::path& file, int largest,
                                                               const PictureLimits& limits, int& width, int& height) {
    const UserFile::Read read = UserFile::readRegular(file, limits.maxFileBytes, limits.links);
    if (!read.ok()) return read.problem;
    const std::string& bytes = read.bytes;
    // The header alone decides whether the picture may be decoded: no decoder allocates for a
    // size it claims before that size is known to be within the limits.
    const auto header = PictureHeader::read(bytes);
    if (!header)
        return std::string(looksLikeAPicture(bytes) ? "it is damaged or not a picture"
                                                    : "it is not a PNG, JPEG, WebP or GIF picture");
    if (header->pixels() > limits.maxPixels) return tooManyPixels(limits);
    if (header->scans > limits.maxScans)
        return "it is a JPEG of " + std::to_string(header->scans) + " scans (at most " + std::to_string(limits.maxScans) + ")";
    const Kind kind = header->kind;
    if (!isWhole(bytes, kind)) return std::string("it is damaged (cut short)");
    auto decoded = kind == Kind::WebP
                       ? decodeWebP(bytes, std::max(1, largest), limits, width, height)
                       : decodeWithPixbuf(bytes, *header, std::max(1, largest), limits, width, height);
    if (decoded.index() == 1) return std::get<1>(decoded);
    GObjectPtr<GdkPixbuf> pixbuf = std::move(std::get<0>(decoded));
    // Loaders that cannot decode at a smaller size (animations) are scaled afterwards.
    const int pw = gdk_pixbuf_get_width(pixbuf.get()), ph = gdk_pixbuf_get_height(pixbuf.get());
    if (std::max(pw, ph) > std::max(1, largest)) {
        int sw = pw, sh = ph;
        scaledSize(pw, ph, std::max(1, largest), sw, sh);
        pixbuf.reset(gdk_pixbuf_scale_simple(pixbuf.get(), sw, sh, GDK_INTERP_BILINEAR));
        if (!pixbuf) return std::string("it is too large to decode");
    }
    return pixbuf;
}

// `pixbuf` encoded for the page, `width` x `height` its size as the user sees it.
std::variant<PicturePtr, std::string> served(GdkPixbuf* pixbuf, int width, int height) {
    gchar* buffer = nullptr;
    gsize length = 0;
    GError* raw = nullptr;
    // The bytes only travel to the page in this process: an opaque picture goes uncompressed
    // (BMP, which the page decodes at once), one with transparency as a quickly made PNG.
    const bool opaque = !gdk_pixbuf_get_has_alpha(pixbuf);
    const bool saved = opaque ? gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "bmp", &raw, nullptr)
                              : gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", &raw, "compression", "1",
                                                          nullptr);
    GErrorPtr error(raw);
    GCharPtr owned(buffer);
    if (!saved) return std::string("it could not be prepared for the card");
    auto picture = std::make_shared<DecodedPicture>();
    picture->width = width;
    picture->height = height;
    picture->bytes.assign(buffer, length);
    picture->mimeType = opaque ? "image/bmp" : "image/png";
    picture->serial = nextSerial();
    measureGrid(pixbuf, *picture);
    return PicturePtr(std::move(picture));
}

}  // namespace

std::variant<PicturePtr, std::string> decodePicture(const fs::path& file, int largest, const PictureLimits& limits) {
    int width = 0, height = 0;
    auto pixbuf = decodePixbuf(file, largest, limits, width, height);
    if (pixbuf.index() == 1) return std::get<1>(pixbuf);
    return served(std::get<0>(pixbuf).get(), width, height);
}

std::variant<PicturePtr, std::string> decodeCovering(const fs::path& file, int width, int height,
                                                     const PictureLimits& limits) {
    int ownWidth = 0, ownHeight = 0;
    // Decoded no larger than covering needs for any shape up to 3:1, then scaled exactly.
    auto decoded = decodePixbuf(file, 3 * std::max(width, height), limits, ownWidth, ownHeight);
    if (decoded.index() == 1) return std::get<1>(decoded);
    GdkPixbuf* pixbuf = std::get<0>(decoded).get();
    const int pw = gdk_pixbuf_get_width(pixbuf), ph = gdk_pixbuf_get_height(pixbuf);
    const double scale = std::max(double(width) / pw, double(height) / ph);
    const int sw = std::max(width, int(std::ceil(pw * scale))), sh = std::max(height, int(std::ceil(ph * scale)));
    GObjectPtr<GdkPixbuf> scaled(gdk_pixbuf_scale_simple(pixbuf, sw, sh, GDK_INTERP_BILINEAR));
    if (!scaled) return std::string("it is too large to decode");
    GObjectPtr<GdkPixbuf> cropped(gdk_pixbuf_new_subpixbuf(scaled.get(), (sw - width) / 2, (sh - height) / 2, width, height));
    GObjectPtr<GdkPixbuf> whole(cropped ? gdk_pixbuf_copy(cropped.get()) : nullptr);
    if (!whole) return std::string("it is too large to decode");
    return served(whole.get(), width, height);
}

namespace {

// Why the font's table directory or a table's checksum is wrong, or empty when it is sound. A
// damaged font reaching the page's font loader can stall the card; a sound one never does.
std::string fontDamage(const std::string& b) {
    auto be = [&](std::size_t i, int n) {
        std::uint32_t v = 0;
        for (int k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(b[i + std::size_t(k)]);
        return v;
    };
    if (b.size() < 12) return "it is cut short";
    const std::size_t tables = be(4, 2);
    if (tables == 0 || 12 + 16 * tables > b.size()) return "its table directory is damaged";
    bool hasCmap = false, hasHead = false;
    for (std::size_t t = 0; t < tables; ++t) {
        const std::size_t at = 12 + 16 * t;
        const std::string tag = b.substr(at, 4);
        const std::uint32_t checksum = be(at + 4, 4), offset = be(at + 8, 4), length = be(at + 12, 4);
        if (std::uint64_t(offset) + length > b.size()) return "its table \u201c" + tag + "\u201d lies past its end";
        hasCmap = hasCmap || tag == "cmap";
        hasHead = hasHead || tag == "head";
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < length; i += 4) {
            std::uint32_t word = 0;
            for (std::size_t k = 0; k < 4; ++k)
                word = word << 8 | (i + k < length ? static_cast<unsigned char>(b[offset + i + k]) : 0u);
            // The head table's sum leaves out its checkSumAdjustment (bytes 8 to 11).
            if (!(tag == "head" && i == 8)) sum += word;
        }
        if (sum != checksum) return "it is damaged (its table \u201c" + tag + "\u201d does not match its checksum)";
    }
    if (!hasCmap || !hasHead) return "it lacks the tables every font has";
    return {};
}

}  // namespace

std::variant<PicturePtr, std::string> readFontFile(const fs::path& file) {
    const UserFile::Read read = UserFile::readRegular(file, 20u * 1024 * 1024);
    if (!read.ok()) return read.problem;
    const std::string head = read.bytes.substr(0, 4);
    const bool trueType = head == std::string("\0\1\0\0", 4) || head == "true";
    if (!trueType && head != "OTTO") return std::string("it is not a TrueType or OpenType font");
    if (const std::string damage = fontDamage(read.bytes); !damage.empty()) return damage;
    auto font = std::make_shared<DecodedPicture>();
    font->bytes = read.bytes;
    font->mimeType = trueType ? "font/ttf" : "font/otf";
    font->serial = nextSerial();
    return PicturePtr(std::move(font));
}

std::optional<PictureHeader> peekPictureHeader(const fs::path& file, UserFile::Links links) {
    // Headers sit in the first bytes; a JPEG's may follow its metadata (at most a few of 64 KB).
    const int fd = UserFile::openWithoutBlocking(file, links);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string bytes(std::size_t(std::min<off_t>(st.st_size, 256 * 1024)), '\0');
    const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), 0);
    if (n <= 0) return std::nullopt;
    bytes.resize(std::size_t(n));
    auto header = PictureHeader::read(bytes);
    // A GIF's first frame or a JPEG's scans may lie beyond what was read: only the size counts.
    return header;
}

std::variant<PicturePtr, std::string> PictureCache::get(const fs::path& file, int largest, const PictureLimits& limits) {
    return cached(file, "fit " + std::to_string(largest), limits,
                  [&] { return decodePicture(file, largest, limits); });
}

std::variant<PicturePtr, std::string> PictureCache::getCovering(const fs::path& file, int width, int height,
                                                                const PictureLimits& limits) {
    return cached(file, "cover " + std::to_string(width) + "x" + std::to_string(height), limits,
                  [&] { return decodeCovering(file, width, height, limits); });
}

namespace {

// What names a file's present content: its inode (hard links share it), change time and size.
std::string contentKey(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return "missing " + file.string();
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec) + ':' + std::to_string(st.st_size) + ':' + std::to_string(st.st_mode);
}

}  // namespace

std::optional<std::pair<int, int>> PictureCache::knownSize(const fs::path& file, int largest) {
    const std::string key = contentKey(file) + "\nfit " + std::to_string(largest) + '\n';
    const std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_)
        if (entry.key.compare(0, key.size(), key) == 0 && entry.result.index() == 0)
            return std::pair(std::get<0>(entry.result)->width, std::get<0>(entry.result)->height);
    return std::nullopt;
}

std::size_t PictureCache::size() const {
    const std::lock_guard lock(mutex_);
    return entries_.size();
}

std::variant<PicturePtr, std::string> PictureCache::cached(const fs::path& file, const std::string& how,
                                                           const PictureLimits& limits,
                                                           const std::function<std::variant<PicturePtr, std::string>()>& decode) {
    std::string key = contentKey(file) + '\n' + how + '\n' + std::to_string(limits.maxFileBytes) + '\n' +
                      std::to_string(limits.maxPixels) + '\n' + std::to_string(int(limits.links));
    {
        const std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->key != key) continue;
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.front().result;
        }
    }
    auto result = decode();  // outside the lock: other threads' pictures go on meanwhile
    // A decode cut short by its card's time says nothing of the file: the next card tries again.
    if (result.index() == 1 && std::chrono::steady_clock::now() > limits.deadline) return result;
    const std::size_t size = result.index() == 0 ? std::get<0>(result)->bytes.size() : 0;
    const std::lock_guard lock(mutex_);
    entries_.push_front(Entry{std::move(key), result, size});
    bytes_ += size;
    while (entries_.size() > 1 && (entries_.size() > maxEntries_ || bytes_ > maxBytes_)) {
        bytes_ -= entries_.back().bytes;
        entries_.pop_back();
    }
    return result;
}

PicturePtr paintedBackdrop(const std::string& theme, int width, int height) {
    CardImage pixels = CardImage::uninitialized(std::max(1, width), std::max(1, height));
    Backdrop::paint(theme, pixels.width(), pixels.height(), pixels.data(), std::size_t(pixels.stride()));
    // A PNG is a twelfth of the pixels' size: the page receives it in far fewer pieces.
    const auto png = PngEncoder::encode(pixels);
    if (!png) return nullptr;
    auto picture = std::make_shared<DecodedPicture>();
    picture->width = pixels.width();
    picture->height = pixels.height();
    picture->bytes.assign(png->begin(), png->end());
    picture->mimeType = "image/png";
    picture->serial = nextSerial();
    return picture;
}

}  // namespace norvo
