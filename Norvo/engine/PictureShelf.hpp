#pragma once
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <webkit/webkit.h>

#include "engine/PageProtocol.hpp"
#include "image/Pictures.hpp"
#include "norvo/CardRequest.hpp"

namespace norvo {

// Pictures the page may show, served to it under norvo-image: addresses. Through the scheme the
// page reaches only what a card put on the shelf, and only while that card is drawn. Main
// thread only.
class PictureShelf {
public:
    // Serves the shelf to the pages of `context` (once per context; later calls do nothing).
    static void serveOn(WebKitWebContext* context);

    // One card's pictures: on the shelf while the lease lives.
    class Lease {
    public:
        Lease() = default;
        ~Lease();
        Lease(Lease&& other) noexcept : uris_(std::move(other.uris_)) { other.uris_.clear(); }
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        std::string put(PicturePtr picture);  // its address
        void adopt(Lease&& other);            // takes over what `other` holds
        bool empty() const { return uris_.empty(); }

    private:
        void release();
        std::vector<std::string> uris_;
    };
};

// A card's pictures and style files, decoded on a worker and not yet served: each either
// decoded or refused with a reason. Any thread; moved whole to the main thread.
struct DecodedAssets {
    CardStyle style;                             // with what could not be decoded left out
    PicturePtr background, avatar;
    std::map<std::string, PicturePtr> fonts;     // by role: body, heading, code
    std::map<std::string, PicturePtr> pictures;  // by the target the note names
    std::vector<RefusedPicture> refused;
    // A file was still being decoded when the card's time ran out: the card fails, as when its
    // watchdog fires, rather than be drawn without it.
    bool late = false;
};

// What a worker needs to find and decode a card's files: nothing of the note's text.
struct AssetOrder {
    CardStyle style;
    PictureFolders folders;
    Preset drawn;  // the card's size as drawn
    // Nothing is decoded after it: the moment the card's watchdog fires.
    std::chrono::steady_clock::time_point deadline;

    bool pastDeadline() const;
    static AssetOrder of(const CardRequest& card, std::chrono::steady_clock::time_point deadline);
};

// The style's background picture, avatar and font files (each the user's choice, links
// followed), decoded within the picture limits; what cannot be is left out and named. Any thread.
void decodeStyleFiles(const AssetOrder& order, PictureCache& cache, DecodedAssets& into);

// Looks up and decodes the pictures `targets` names, within the card's limits (20 pictures,
// 200 megapixels, counted from their headers before any is decoded); every target is either
// decoded or refused with a reason. Any thread.
void decodeNotePictures(const AssetOrder& order, const std::vector<std::string>& targets, PictureCache& cache,
                        DecodedAssets& into);

// A card's pictures as the page is told of them: those on the lease, and those refused.
struct CardPictures {
    std::map<std::string, ServedPicture> served;  // by target
    std::vector<RefusedPicture> refused;
    PictureShelf::Lease lease;
};

// Puts the decoded style files on `lease`: the style as the page draws it. Main thread.
ServedStyle shelveStyle(const DecodedAssets& assets, PictureShelf::Lease& lease);
// Puts the decoded note pictures on `into`'s lease, with the refused ones named. Main thread.
void shelvePictures(const DecodedAssets& assets, CardPictures& into);

}  // namespace norvo
