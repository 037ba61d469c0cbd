#include "model/CardActions.hpp"

#include <glib.h>
#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

namespace {
const char* exportFailed() { return _("Export failed \u2014 try again"); }
const char* saveFailed() { return _("Couldn't save the PNG"); }
const char* copyFailed() { return _("Copy failed"); }
const char* copied() { return _("Copied \u2713 \u2014 paste it anywhere"); }
const char* shareFailed() { return _("Share failed"); }

// The PNG of a rendered card at exactly its preset's size; nothing without an image.
std::optional<std::vector<std::uint8_t>> exactPng(const CardImagePtr& image, const Preset& preset) {
    if (!image) return std::nullopt;
    return RenderEngine::png(*image, preset.width, preset.height);
}
}  // namespace

CardActions::CardActions(CardDocument& document, CardRenderer& renderer, DesktopServices& services)
    : document_(document), renderer_(renderer), services_(services) {}

void CardActions::renderCurrentCard(std::function<void(const Preset&, CardImagePtr)> then) {
    if (document_.refuseTooLong()) return;
    const Preset preset = document_.preset();
    renderer_.render(document_.markdown(), document_.themeID(), document_.fontID(), preset, document_.wordmark(),
                     document_.fontScale(), lifetime_.guard([preset, then = std::move(then)](CardImagePtr image) {
                         then(preset, std::move(image));
                     }));
}

void CardActions::exportPNG() {
    const std::string name = Card::fileName(document_.markdown(), document_.preset().id);  // the text at click time
    renderCurrentCard([this, name](const Preset& preset, CardImagePtr image) {
        auto png = exactPng(image, preset);
        if (!png) {
            document_.setStatus(exportFailed());
            return;
        }
        services_.bringToFront();
        services_.chooseSaveFile(name, lifetime_.guard([this, bytes = std::move(*png)](
                                                           std::optional<std::filesystem::path> path) {
            if (!path) return;  // cancelled: the status line stays as it was
            if (const auto error = writeFileAtomically(*path, bytes)) {
                g_warning("could not save %s: %s", path->c_str(), error.message().c_str());
                document_.setStatus(saveFailed());
                return;
            }
            document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1"), path->filename().string()));
        }));
    });
}

void CardActions::copyPNG() {
    renderCurrentCard([this](const Preset&, CardImagePtr image) {
        if (!image) {
            document_.setStatus(copyFailed());
            return;
        }
        services_.copyImage(image);
        document_.setStatus(copied());
    });
}

void CardActions::sharePNG(DesktopServices::Anchor anchor) {
    renderCurrentCard([this, anchor](const Preset& preset, CardImagePtr image) {
        const auto png = exactPng(image, preset);
        // Named after the text as it is now, when the render has finished.
        const auto file = services_.temporaryFolder() / Card::fileName(document_.markdown(), preset.id);
        const auto error = png ? writeFileAtomically(file, *png) : std::make_error_code(std::errc::io_error);
        if (error) {
            g_warning("could not share %s: %s", file.c_str(), error.message().c_str());
            document_.setStatus(shareFailed());
            return;
        }
        services_.showSharePicker(file, anchor);
    });
}

}  // namespace norvo
