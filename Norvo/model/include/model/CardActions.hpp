#pragma once
#include <functional>

#include "model/CardDocument.hpp"
#include "model/CardRenderer.hpp"
#include "image/PngEncoder.hpp"
#include "model/DesktopServices.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// Takes the card out of the application: export, copy and share. Each renders the card
// afresh with the settings of the moment it was asked for, and reports in the status line.
class CardActions {
public:
    CardActions(CardDocument& document, CardRenderer& renderer, DesktopServices& services);
    CardActions(const CardActions&) = delete;
    CardActions& operator=(const CardActions&) = delete;

    // With pages on, export writes the whole set (<name>-1.png …) and copy takes the card
    // shown in the preview.
    void exportPNG();
    void exportPDF();
    void copyPNG();
    void sharePNG(DesktopServices::Anchor anchor);
    // The card shown in the preview as a PNG file to drag out, named like an export, in a
    // private folder: its path at once, its bytes written on a worker while the drag goes on.
    // Empty when there is no card or no folder.
    std::filesystem::path dragFile();

private:
    void renderCurrentCard(std::function<void(const Preset&, CardImagePtr)> then);
    // The current card, or with pages on, the current set.
    void renderCurrentSet(std::function<void(const Preset&, std::vector<CardImagePtr>)> then);
    void renderSet(const CardRequest& request, bool pages, std::function<void(const Preset&, std::vector<CardImagePtr>)> then);
    // How the cards of an export are written: at their preset's size, with the note's words.
    struct Written {
        Preset preset;
        PngEncoder::Words words;
    };
    void exportSet(std::vector<CardImagePtr> set, const Written& as, const std::filesystem::path& chosen);
    void writeSet(std::vector<CardImagePtr> set, const Written& as, const std::filesystem::path& chosen);

    CardDocument& document_;
    CardRenderer& renderer_;
    DesktopServices& services_;
    Lifetime lifetime_;
    BackgroundTasks background_;  // encodes and writes; last: joined before the rest goes
};

}  // namespace norvo
