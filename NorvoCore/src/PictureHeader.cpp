#include "norvo/PictureHeader.hpp"

#include <algorithm>

namespace norvo {

namespace {

std::uint32_t byteAt(std::string_view b, std::size_t i) { return static_cast<unsigned char>(b[i]); }
std::uint32_t be16(std::string_view b, std::size_t i) { return byteAt(b, i) << 8 | byteAt(b, i + 1); }
std::uint32_t le16(std::string_view b, std::size_t i) { return byteAt(b, i) | byteAt(b, i + 1) << 8; }
std::uint32_t le24(std::string_view b, std::size_t i) { return le16(b, i) | byteAt(b, i + 2) << 16; }
std::uint32_t be32(std::string_view b, std::size_t i) { return be16(b, i) << 16 | be16(b, i + 2); }

std::optional<PictureHeader> png(std::string_view b) {
    if (b.size() < 24 || b.substr(12, 4) != "IHDR") return std::nullopt;
    PictureHeader h;
    h.kind = PictureHeader::Kind::Png;
    h.width = be32(b, 16);
    h.height = be32(b, 20);
    return h;
}

// Frames (SOF) give the size; each start of scan (SOS) is one pass of the decoder over the
// whole picture, which is what a progressive file with thousands of scans makes slow.
std::optional<PictureHeader> jpeg(std::string_view b) {
    PictureHeader h;
    h.kind = PictureHeader::Kind::Jpeg;
    bool sized = false;
    std::size_t i = 2;
    while (i + 1 < b.size()) {
        if (byteAt(b, i) != 0xFF) return std::nullopt;
        while (i + 1 < b.size() && byteAt(b, i + 1) == 0xFF) ++i;  // fill bytes
        if (i + 1 >= b.size()) break;
        const std::uint32_t marker = byteAt(b, i + 1);
        i += 2;
        if (marker == 0xD9) break;                                  // end of image
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
        if (i + 2 > b.size()) break;
        const std::size_t length = be16(b, i);
        if (length < 2 || i + length > b.size()) break;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && !sized && length >= 7) {
            h.height = be16(b, i + 3);
            h.width = be16(b, i + 5);
            sized = true;
        }
        i += length;
        if (marker != 0xDA) continue;
        ++h.scans;
        // The entropy-coded data runs to the next marker: 0xFF followed by neither a stuffed
        // zero nor a restart marker.
        while (i + 1 < b.size() &&
               !(byteAt(b, i) == 0xFF && byteAt(b, i + 1) != 0 && !(byteAt(b, i + 1) >= 0xD0 && byteAt(b, i + 1) <= 0xD7)))
            ++i;
    }
    if (!sized || h.width == 0 || h.height == 0) return std::nullopt;
    return h;
}

// Skips a run of GIF data sub-blocks at `i`; the position after its terminator, or nothing.
std::optional<std::size_t> skipSubBlocks(std::string_view b, std::size_t i) {
    while (i < b.size()) {
        const std::size_t length = byteAt(b, i);
        ++i;
        if (length == 0) return i;
        i += length;
    }
    return std::nullopt;
}

std::size_t colourTableBytes(std::uint32_t packed) { return (packed & 0x80) ? 3u << ((packed & 7) + 1) : 0; }

// The logical screen, grown to the first frame where that frame lies beyond it.
std::optional<PictureHeader> gif(std::string_view b) {
    if (b.size() < 13) return std::nullopt;
    PictureHeader h;
    h.kind = PictureHeader::Kind::Gif;
    h.width = le16(b, 6);
    h.height = le16(b, 8);
    std::size_t i = 13 + colourTableBytes(byteAt(b, 10));
    while (i < b.size()) {
        const std::uint32_t block = byteAt(b, i);
        if (block == 0x21) {  // an extension: its label, then sub-blocks
            const auto next = i + 2 <= b.size() ? skipSubBlocks(b, i + 2) : std::nullopt;
            if (!next) return std::nullopt;
            i = *next;
        } else if (block == 0x2C) {
            if (i + 11 > b.size()) return std::nullopt;
            h.width = std::max(h.width, le16(b, i + 1) + le16(b, i + 5));
            h.height = std::max(h.height, le16(b, i + 3) + le16(b, i + 7));
            const std::size_t data = i + 10 + colourTableBytes(byteAt(b, i + 9)) + 1;  // past the code size
            const auto end = data <= b.size() ? skipSubBlocks(b, data) : std::nullopt;
            if (!end) return std::nullopt;
            h.firstFrameEnd = *end;
            break;
        } else {
            return std::nullopt;  // the trailer or junk before any frame: nothing to draw
        }
    }
    if (h.firstFrameEnd == 0 || h.width == 0 || h.height == 0) return std::nullopt;
    return h;
}

std::optional<PictureHeader> webp(std::string_view b) {
    if (b.size() < 30) return std::nullopt;
    PictureHeader h;
    h.kind = PictureHeader::Kind::WebP;
    const std::string_view chunk = b.substr(12, 4);
    if (chunk == "VP8X") {
        h.width = le24(b, 24) + 1;
        h.height = le24(b, 27) + 1;
    } else if (chunk == "VP8 ") {
        if (b.substr(23, 3) != "\x9d\x01\x2a") return std::nullopt;
        h.width = le16(b, 26) & 0x3FFF;
        h.height = le16(b, 28) & 0x3FFF;
    } else if (chunk == "VP8L") {
        if (byteAt(b, 20) != 0x2F) return std::nullopt;
        const std::uint32_t bits = le16(b, 21) | le16(b, 23) << 16;
        h.width = (bits & 0x3FFF) + 1;
        h.height = ((bits >> 14) & 0x3FFF) + 1;
    } else {
        return std::nullopt;
    }
    if (h.width == 0 || h.height == 0) return std::nullopt;
    return h;
}

}  // namespace

std::optional<PictureHeader> PictureHeader::read(std::string_view b) {
    if (b.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8)) return png(b);
    if (b.substr(0, 3) == "\xff\xd8\xff") return jpeg(b);
    if (b.substr(0, 6) == "GIF87a" || b.substr(0, 6) == "GIF89a") return gif(b);
    if (b.substr(0, 4) == "RIFF" && b.size() >= 12 && b.substr(8, 4) == "WEBP") return webp(b);
    return std::nullopt;
}

}  // namespace norvo
