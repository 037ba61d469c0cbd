#pragma once
#include <functional>

#include "model/CardDocument.hpp"
#include "model/CardRenderer.hpp"
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

    void exportPNG();
    void copyPNG();
    void sharePNG(DesktopServices::Anchor anchor);

private:
    void renderCurrentCard(std::function<void(const Preset&, CardImagePtr)> then);

    CardDocument& document_;
    CardRenderer& renderer_;
    DesktopServices& services_;
    Lifetime lifetime_;
};

}  // namespace norvo
