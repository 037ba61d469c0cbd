#include "engine/CardAssets.hpp"

namespace norvo {

void CardAssets::fontsNotLoaded(const std::vector<std::string>& roles) {
    if (!style) return;
    CardStyle& s = style->style;
    for (const std::string& role : roles) {
        std::string* font = role == "body"      ? &s.bodyFont
                            : role == "heading" ? &s.headingFont
                            : role == "code"    ? &s.codeFont
                                                : nullptr;
        if (!font || font->empty()) continue;
        pictures.refused.push_back({*font, "the style's " + role + " font: it could not be loaded; the theme's font is used",
                                    RefusedPicture::Kind::Font});
        font->clear();
        style->fontUris.erase(role);
    }
}

void AssetDecoder::decodeStyle(const AssetOrder& order, Then then) {
    start([order, cache = cache_](DecodedAssets& into) { decodeStyleFiles(order, *cache, into); }, std::move(then));
}

void AssetDecoder::decodePictures(const AssetOrder& order, std::vector<std::string> targets, Then then) {
    start([order, cache = cache_, targets = std::move(targets)](DecodedAssets& into) {
        decodeNotePictures(order, targets, *cache, into);
    }, std::move(then));
}

void AssetDecoder::start(std::function<void(DecodedAssets&)> work, Then then) {
    workers_.run<std::shared_ptr<DecodedAssets>>(
        [work = std::move(work)] {  // on the worker
            auto assets = std::make_shared<DecodedAssets>();
            work(*assets);
            return assets;
        },
        [then = std::move(then)](std::shared_ptr<DecodedAssets> assets) { then(std::move(*assets)); });
}

}  // namespace norvo
