#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/PageProtocol.hpp"
#include "engine/PictureShelf.hpp"
#include "image/Pictures.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// What one card shows besides its note while it is drawn: its pictures and style files
// (decoded, on the shelf) and its backdrop. All of it leaves the shelf with the card.
// Main thread only.
struct CardAssets {
    AssetOrder order;                     // what its files are decoded for, and until when
    CardPictures pictures;                // the note's and the style's, on pictures.lease
    std::optional<ServedStyle> style;     // its pictures and fonts on pictures.lease
    PictureShelf::Lease backdropLease;
    std::optional<std::string> backdrop;  // its address, on backdropLease

    // The page could not load these fonts of the style (body, heading, code): they are named
    // and the card is drawn in the theme's.
    void fontsNotLoaded(const std::vector<std::string>& roles);
};

// Reads and decodes cards' files on workers, never on the main thread, with one cache for
// all of them. Main thread, but for the work on its workers.
class AssetDecoder {
public:
    using Then = std::function<void(DecodedAssets)>;
    // The style's background, avatar and font files; `then` on the main thread.
    void decodeStyle(const AssetOrder& order, Then then);
    // The pictures the note names; `then` on the main thread.
    void decodePictures(const AssetOrder& order, std::vector<std::string> targets, Then then);

private:
    void start(std::function<void(DecodedAssets&)> work, Then then);
    std::shared_ptr<PictureCache> cache_ = std::make_shared<PictureCache>();
    BackgroundTasks workers_;  // last: joined first
};

}  // namespace norvo
