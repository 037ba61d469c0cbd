#pragma once
// Pictures a note names, read for its card: found only inside the folders the note may read
// from, decoded by the app (never by the page) within limits, and kept decoded for a while.
// Any thread: the free functions share nothing, and the cache guards itself.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "norvo/CardRequest.hpp"
#include "norvo/PictureHeader.hpp"
#include "support/UserFile.hpp"

namespace norvo {

// Whether `file` lies inside `folder`, both absolute and without links or dot segments.
bool isInsideFolder(const std::filesystem::path& file, const std::filesystem::path& folder);

// The file a relative target names inside one of `folders` (the first that has it), with
// every link resolved and the result checked to lie inside that folder; or why there is none.
std::variant<std::filesystem::path, std::string> findPictureFile(const PictureFolders& folders,
                                                                 const std::string& relativePath);

// What one picture may cost. Its size is read from its header and checked before any decoder
// sees it; the decoder gives up at `deadline`.
struct PictureLimits {
    std::uintmax_t maxFileBytes = 25u * 1024 * 1024;
    std::uint64_t maxPixels = 50'000'000;
    std::uint32_t maxScans = 100;  // passes of a progressive JPEG (cameras write about ten)
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    UserFile::Links links = UserFile::Links::Refuse;  // a note's pictures are found with links resolved
};

// The header of the picture file `file` (its first bytes only), or nothing when it is not a
// readable picture whose size shows within them.
std::optional<PictureHeader> peekPictureHeader(const std::filesystem::path& file,
                                               UserFile::Links links = UserFile::Links::Refuse);

// A picture ready for the page: its size as the user sees it (orientation applied, before any
// scaling), and its pixels no larger than they can be shown, encoded for the page.
struct DecodedPicture {
    int width = 0, height = 0;  // the picture's own size, upright
    std::string bytes;          // the pixels served to the page, at most `largest` on a side
    std::string mimeType;       // of `bytes`: image/bmp or image/png
    std::uint64_t serial = 0;   // unique in the process: the same pixels keep one name
    // The darkest and the lightest grey (luminance as an sRGB value) of each cell of a grid
    // over the picture, row by row: what a text laid over it may meet.
    int gridWidth = 0, gridHeight = 0;
    std::vector<std::uint8_t> darkest, lightest;
};
using PicturePtr = std::shared_ptr<const DecodedPicture>;

// Reads and decodes a PNG, JPEG, WebP or GIF (its first frame) file, recognised by its bytes,
// not its name; EXIF orientation applied; scaled down to at most `largest` pixels on a side.
std::variant<PicturePtr, std::string> decodePicture(const std::filesystem::path& file, int largest,
                                                    const PictureLimits& limits = {});

// Likewise, scaled and cropped (centred) to cover exactly `width` x `height`: a background.
std::variant<PicturePtr, std::string> decodeCovering(const std::filesystem::path& file, int width, int height,
                                                     const PictureLimits& limits = {});

// A font file (TrueType or OpenType, recognised by its bytes and its table directory, at most
// 20 MB) ready for the page, or why not.
std::variant<PicturePtr, std::string> readFontFile(const std::filesystem::path& file);

// The theme's backdrop for a `width` x `height` pixel card, painted by the app and ready for
// the page (an uncompressed BMP). Any thread.
PicturePtr paintedBackdrop(const std::string& theme, int width, int height);

// Decoded pictures by file (its device and inode, so hard links share one), change time, size
// and scale: a note's pictures are decoded once while the user types. Keeps the most recently
// used, up to a number and a byte budget. Any thread; two threads may decode one file at once.
class PictureCache {
public:
    explicit PictureCache(std::size_t maxEntries = 24, std::size_t maxBytes = 256u * 1024 * 1024)
        : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    std::variant<PicturePtr, std::string> get(const std::filesystem::path& file, int largest,
                                              const PictureLimits& limits = {});
    std::variant<PicturePtr, std::string> getCovering(const std::filesystem::path& file, int width, int height,
                                                      const PictureLimits& limits = {});
    // The size of a picture decoded earlier, without reading it again.
    std::optional<std::pair<int, int>> knownSize(const std::filesystem::path& file, int largest);
    std::size_t size() const;

private:
    std::variant<PicturePtr, std::string> cached(const std::filesystem::path& file, const std::string& how,
                                                 const PictureLimits& limits,
                                                 const std::function<std::variant<PicturePtr, std::string>()>& decode);
    struct Entry {
        std::string key;
        std::variant<PicturePtr, std::string> result;
        std::size_t bytes = 0;
    };
    mutable std::mutex mutex_;
    std::list<Entry> entries_;  // most recent first
    std::size_t bytes_ = 0, maxEntries_, maxBytes_;
};

}  // namespace norvo
