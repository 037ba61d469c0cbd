#pragma once
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

// A card's pictures as the app found them: those it serves (on the lease) and those it does not.
struct CardPictures {
    std::map<std::string, ServedPicture> served;  // by target
    std::vector<RefusedPicture> refused;
    PictureShelf::Lease lease;
};

// The card's style with its background picture, avatar and font files served (each looked up
// as a file of the style, decoded within the picture limits); what cannot be served is left
// out and named in `refused`.
ServedStyle serveStyle(const CardRequest& card, PictureCache& cache, PictureShelf::Lease& lease,
                       std::vector<RefusedPicture>& refused);

// Looks up and decodes the pictures `targets` names for `card`, within the card's limits (20
// pictures, 200 megapixels); every target is either served or refused with a reason.
CardPictures serveCardPictures(const CardRequest& card, const std::vector<std::string>& targets, PictureCache& cache);

}  // namespace norvo
