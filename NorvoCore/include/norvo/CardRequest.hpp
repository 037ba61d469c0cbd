#pragma once
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "norvo/CardSettings.hpp"

namespace norvo {

// Where a note's pictures may come from: a picture named by a relative path is looked up in
// these folders, in order, and never read from outside them. No folder: no picture is read.
struct PictureFolders {
    std::string noteFolder;          // the note's own folder
    std::vector<std::string> more;   // folders named beside it (a shared images folder, the app's picture store)

    bool empty() const { return noteFolder.empty() && more.empty(); }
    bool operator==(const PictureFolders&) const = default;
};

// A picture the note names (or a style's picture or font) that is not on the card, and why (in
// words for the user).
struct RefusedPicture {
    enum class Kind { Picture, Font };
    std::string target;
    std::string reason;
    Kind kind = Kind::Picture;
    bool operator==(const RefusedPicture&) const = default;
};

// One card as it is asked for: the note, every setting that shapes its picture, the pixel
// density and where its pictures may come from. It travels whole from the model or the command
// line through the renderer to the page.
struct CardRequest {
    std::string markdown;
    CardSettings settings{};
    // Pixels per point of the layout: 2 draws the very same layout at twice the width and
    // height (text and backdrop drawn at that size, not enlarged).
    int density = 1;
    PictureFolders pictures{};

    bool operator==(const CardRequest&) const = default;

    // The size of the picture in pixels.
    Preset drawnSize() const {
        Preset drawn = settings.size;
        drawn.width *= density;
        // A long picture's cap is the pixels' cap, whatever the density.
        drawn.height = drawn.grows ? std::min<std::int64_t>(drawn.height * density, Presets::kLongCap)
                                   : drawn.height * density;
        return drawn;
    }
};

// What a finished card's layout measures, as the page reports it.
struct LayoutReport {
    double bodyPx = 0;     // the body text size in pixels
    double minPx = 0;      // the smallest text size on the card
    bool cut = false;      // part of the note is not on the card
    bool overflowX = false;  // something is wider than the text area
    int brokenWords = 0;   // words split across lines other than at a hyphen the page added
    std::size_t page = 1, pages = 1;  // the card's place in its set
    // Pictures the note names that show their description instead (the page never sees why).
    std::vector<RefusedPicture> refusedPictures{};
    // The lowest contrast of any text on the card against what is behind it (0: not measured).
    double minContrast = 0;
    bool cover = false;  // the card is its set's cover
    int brokenTokens = 0;  // names in code split across lines (querySelecto|r), of the broken words
    // How busy a photo backdrop shows through behind the text, 0 (flat) to 1 (0: no photo).
    double busyness = 0;
};

}  // namespace norvo
