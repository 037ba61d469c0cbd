#include "engine/PictureShelf.hpp"

#include <memory>
#include <unordered_map>

#include "norvo/PictureTarget.hpp"
#include "support/GPtr.hpp"

namespace norvo {

namespace {

constexpr const char* kScheme = "norvo-image";
constexpr std::size_t kMostPictures = 20;
constexpr std::uint64_t kMostPixels = 200'000'000;

// A picture keeps its address while any card holds it, so the page's image cache serves it
// to the next card of the same note without decoding it again.
struct Shelved {
    PicturePtr picture;
    int leases = 0;
};
std::unordered_map<std::string, Shelved>& shelf() {
    static std::unordered_map<std::string, Shelved> pictures;
    return pictures;
}

void answer(WebKitURISchemeRequest* request, gpointer) {
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    const auto found = uri ? shelf().find(uri) : shelf().end();
    if (found == shelf().end()) {
        GErrorPtr error(g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no such picture"));
        webkit_uri_scheme_request_finish_error(request, error.get());
        return;
    }
    // The bytes stay alive with the stream, even if the card lets go of the picture first.
    auto keep = std::make_unique<PicturePtr>(found->second.picture);
    const std::string& data = (*keep)->bytes;
    const std::string mimeType = (*keep)->mimeType;
    GBytesPtr bytes(g_bytes_new_with_free_func(data.data(), data.size(), +[](gpointer p) {
        std::unique_ptr<PicturePtr>(static_cast<PicturePtr*>(p));
    }, keep.release()));
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes.get()));
    webkit_uri_scheme_request_finish(request, stream.get(), gint64(g_bytes_get_size(bytes.get())), mimeType.c_str());
}

}  // namespace

void PictureShelf::serveOn(WebKitWebContext* context) {
    static const char* kServed = "norvo-picture-shelf";
    if (!context || g_object_get_data(G_OBJECT(context), kServed)) return;
    g_object_set_data(G_OBJECT(context), kServed, GINT_TO_POINTER(1));
    webkit_web_context_register_uri_scheme(context, kScheme, answer, nullptr, nullptr);
}

PictureShelf::Lease::~Lease() { release(); }

PictureShelf::Lease& PictureShelf::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        release();
        uris_ = std::move(other.uris_);
        other.uris_.clear();
    }
    return *this;
}

void PictureShelf::Lease::release() {
    for (const std::string& uri : uris_) {
        const auto found = shelf().find(uri);
        if (found != shelf().end() && --found->second.leases <= 0) shelf().erase(found);
    }
    uris_.clear();
}

void PictureShelf::Lease::adopt(Lease&& other) {
    uris_.insert(uris_.end(), other.uris_.begin(), other.uris_.end());
    other.uris_.clear();
}

std::string PictureShelf::Lease::put(PicturePtr picture) {
    std::string uri = std::string(kScheme) + "://card/" + std::to_string(picture->serial);
    Shelved& shelved = shelf()[uri];
    shelved.picture = std::move(picture);
    ++shelved.leases;
    uris_.push_back(uri);
    return uri;
}

ServedStyle serveStyle(const CardRequest& card, PictureCache& cache, PictureShelf::Lease& lease,
                       std::vector<RefusedPicture>& refused) {
    ServedStyle served;
    served.style = card.style;
    CardStyle& s = served.style;
    const Preset drawn = card.drawnSize();
    if (s.background == CardStyle::Background::Image) {
        auto decoded = cache.getCovering(s.image, int(drawn.width), int(drawn.height));
        if (decoded.index() == 1) {
            refused.push_back({s.image, "the style's background: " + std::get<1>(decoded) + "; the theme's is used"});
            s.background = CardStyle::Background::Theme;
        } else {
            const PicturePtr& picture = std::get<0>(decoded);
            served.image = ServedPicture{lease.put(picture), picture->width, picture->height};
            served.gridWidth = picture->gridWidth;
            served.gridHeight = picture->gridHeight;
            served.darkest = picture->darkest;
            served.lightest = picture->lightest;
        }
    }
    if (!s.avatar.empty()) {
        auto decoded = cache.get(s.avatar, 256);
        if (decoded.index() == 1)
            refused.push_back({s.avatar, "the signature's avatar: " + std::get<1>(decoded)});
        else
            served.avatarUri = lease.put(std::get<0>(decoded));
    }
    const std::pair<const char*, std::string*> roles[] = {{"body", &s.bodyFont}, {"heading", &s.headingFont}, {"code", &s.codeFont}};
    for (const auto& [role, font] : roles) {
        if (font->empty() || font->find('/') == std::string::npos) continue;  // a family name
        auto file = readFontFile(*font);
        if (file.index() == 1) {
            refused.push_back({*font, std::string("the style's ") + role + " font: " + std::get<1>(file)});
            font->clear();
        } else {
            served.fontUris[role] = lease.put(std::get<0>(file));
        }
    }
    return served;
}

CardPictures serveCardPictures(const CardRequest& card, const std::vector<std::string>& targets, PictureCache& cache) {
    CardPictures out;
    const Preset drawn = card.drawnSize();
    const int largest = int(std::max(drawn.width, drawn.height));
    std::uint64_t pixels = 0;
    for (const std::string& target : targets) {
        const PictureTarget named = PictureTarget::of(target);
        if (named.kind != PictureTarget::Kind::Relative) {
            out.refused.push_back({target, named.reason});
            continue;
        }
        if (out.served.size() >= kMostPictures) {
            out.refused.push_back({target, "a card shows at most " + std::to_string(kMostPictures) + " pictures"});
            continue;
        }
        auto file = findPictureFile(card.pictures, named.path);
        if (file.index() == 1) {
            out.refused.push_back({target, std::get<1>(file)});
            continue;
        }
        auto decoded = cache.get(std::get<0>(file), largest);
        if (decoded.index() == 1) {
            out.refused.push_back({target, std::get<1>(decoded)});
            continue;
        }
        const PicturePtr& picture = std::get<0>(decoded);
        const std::uint64_t own = std::uint64_t(picture->width) * std::uint64_t(picture->height);
        if (pixels + own > kMostPixels) {
            out.refused.push_back({target, "the card's pictures would have more than 200 megapixels"});
            continue;
        }
        pixels += own;
        out.served[target] = ServedPicture{out.lease.put(picture), picture->width, picture->height};
    }
    return out;
}

}  // namespace norvo
