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

bool AssetOrder::pastDeadline() const { return std::chrono::steady_clock::now() > deadline; }

AssetOrder AssetOrder::of(const CardRequest& card, std::chrono::steady_clock::time_point deadline) {
    return AssetOrder{card.settings.style, card.pictures, card.drawnSize(), deadline};
}

void decodeStyleFiles(const AssetOrder& order, PictureCache& cache, DecodedAssets& into) {
    CardStyle& s = into.style = order.style;
    PictureLimits limits;
    limits.deadline = order.deadline;
    limits.links = UserFile::Links::Follow;  // the user chose these files, links and all
    if (s.background == CardStyle::Background::Image) {
        auto decoded = cache.getCovering(s.image, int(order.drawn.width), int(order.drawn.height), limits);
        if (decoded.index() == 1 && order.pastDeadline()) {
            into.late = true;
            return;
        }
        if (decoded.index() == 1) {
            into.refused.push_back({s.image, "the style's background: " + std::get<1>(decoded) + "; the theme's is used"});
            s.background = CardStyle::Background::Theme;
        } else {
            into.background = std::get<0>(decoded);
        }
    }
    if (!s.avatar.empty()) {
        auto decoded = cache.get(s.avatar, 256, limits);
        if (decoded.index() == 1 && order.pastDeadline()) {
            into.late = true;
            return;
        }
        if (decoded.index() == 1)
            into.refused.push_back({s.avatar, "the signature's avatar: " + std::get<1>(decoded)});
        else
            into.avatar = std::get<0>(decoded);
    }
    const std::pair<const char*, std::string*> roles[] = {{"body", &s.bodyFont}, {"heading", &s.headingFont}, {"code", &s.codeFont}};
    for (const auto& [role, font] : roles) {
        if (font->empty() || font->find('/') == std::string::npos) continue;  // a family name
        auto file = readFontFile(*font);
        if (file.index() == 1) {
            into.refused.push_back({*font, std::string("the style's ") + role + " font: " + std::get<1>(file) + "; the theme's font is used",
                                    RefusedPicture::Kind::Font});
            font->clear();
        } else {
            into.fonts[role] = std::get<0>(file);
        }
    }
}

void decodeNotePictures(const AssetOrder& order, const std::vector<std::string>& targets, PictureCache& cache,
                        DecodedAssets& into) {
    const int largest = int(std::max(order.drawn.width, order.drawn.height));
    PictureLimits limits;
    limits.deadline = order.deadline;
    std::uint64_t pixels = 0;
    const std::string overBudget =
        "the card's pictures would have more than " + std::to_string(kMostPixels / 1'000'000) + " megapixels";
    for (const std::string& target : targets) {
        const PictureTarget named = PictureTarget::of(target);
        if (named.kind != PictureTarget::Kind::Relative) {
            into.refused.push_back({target, named.reason});
            continue;
        }
        if (into.pictures.size() >= kMostPictures) {
            into.refused.push_back({target, "a card shows at most " + std::to_string(kMostPictures) + " pictures"});
            continue;
        }
        auto file = findPictureFile(order.folders, named.path);
        if (file.index() == 1) {
            into.refused.push_back({target, std::get<1>(file)});
            continue;
        }
        const std::filesystem::path& path = std::get<0>(file);
        // The budget is counted from what the header says, before anything is decoded.
        std::uint64_t own = 0;
        if (const auto size = cache.knownSize(path, largest))
            own = std::uint64_t(size->first) * std::uint64_t(size->second);
        else if (const auto header = peekPictureHeader(path))
            own = header->pixels();
        if (own <= limits.maxPixels && pixels + own > kMostPixels) {
            into.refused.push_back({target, overBudget});
            continue;
        }
        auto decoded = order.pastDeadline() ? std::variant<PicturePtr, std::string>(std::string())
                                            : cache.get(path, largest, limits);
        if (decoded.index() == 1 && order.pastDeadline()) {
            into.late = true;
            return;
        }
        if (decoded.index() == 1) {
            into.refused.push_back({target, std::get<1>(decoded)});
            continue;
        }
        const PicturePtr& picture = std::get<0>(decoded);
        const std::uint64_t decodedPixels = std::uint64_t(picture->width) * std::uint64_t(picture->height);
        if (pixels + decodedPixels > kMostPixels) {  // a header that did not show its size
            into.refused.push_back({target, overBudget});
            continue;
        }
        pixels += decodedPixels;
        into.pictures[target] = picture;
    }
}

ServedStyle shelveStyle(const DecodedAssets& assets, PictureShelf::Lease& lease) {
    ServedStyle served;
    served.style = assets.style;
    if (const PicturePtr& picture = assets.background) {
        served.image = ServedPicture{lease.put(picture), picture->width, picture->height};
        served.gridWidth = picture->gridWidth;
        served.gridHeight = picture->gridHeight;
        served.darkest = picture->darkest;
        served.lightest = picture->lightest;
    }
    if (assets.avatar) served.avatarUri = lease.put(assets.avatar);
    for (const auto& [role, font] : assets.fonts) served.fontUris[role] = lease.put(font);
    return served;
}

void shelvePictures(const DecodedAssets& assets, CardPictures& into) {
    for (const auto& [target, picture] : assets.pictures)
        into.served[target] = ServedPicture{into.lease.put(picture), picture->width, picture->height};
    into.refused.insert(into.refused.end(), assets.refused.begin(), assets.refused.end());
}

}  // namespace norvo
