#include "model/CardActions.hpp"

#include <algorithm>

#include <glib.h>
#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "image/PdfDocument.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "image/PngEncoder.hpp"

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
    return PngEncoder::encodeAt(*image, preset.width, preset.height);
}
}  // namespace

CardActions::CardActions(CardDocument& document, CardRenderer& renderer, DesktopServices& services)
    : document_(document), renderer_(renderer), services_(services) {}

void CardActions::renderCurrentCard(std::function<void(const Preset&, CardImagePtr)> then) {
    if (document_.refuseTooLong()) return;
    const Preset preset = document_.preset();
    renderer_.render(document_.request(), lifetime_.guard([preset, then = std::move(then)](CardImagePtr image) {
                         then(preset, std::move(image));
                     }));
}

void CardActions::renderCurrentSet(std::function<void(const Preset&, std::vector<CardImagePtr>)> then) {
    if (!document_.pages()) {
        renderCurrentCard([then = std::move(then)](const Preset& preset, CardImagePtr image) {
            std::vector<CardImagePtr> set;
            if (image) set.push_back(std::move(image));
            then(preset, std::move(set));
        });
        return;
    }
    if (document_.refuseTooLong()) return;
    const Preset preset = document_.preset();
    renderer_.renderPages(document_.request(),
                          lifetime_.guard([preset, then = std::move(then)](std::vector<CardImagePtr> set) {
                              then(preset, std::move(set));
                          }));
}

namespace {
// "<stem>-<n><extension>" beside `chosen`.
std::filesystem::path pageFile(const std::filesystem::path& chosen, std::size_t n) {
    std::filesystem::path file = chosen;
    file.replace_filename(Card::fitName(chosen.stem().string(),
                                        "-" + std::to_string(n) + chosen.extension().string()));
    return file;
}
}  // namespace

void CardActions::exportPNG() {
    if (document_.pages()) {
        const std::string name = Card::fileName(document_.markdown(), document_.preset().id);
        renderCurrentSet([this, name](const Preset& preset, std::vector<CardImagePtr> set) {
            std::vector<std::vector<std::uint8_t>> pngs;
            for (const CardImagePtr& card : set) {
                auto png = exactPng(card, preset);
                if (!png) break;
                pngs.push_back(std::move(*png));
            }
            if (pngs.empty() || pngs.size() != set.size()) {
                document_.setStatus(exportFailed());
                return;
            }
            services_.bringToFront();
            services_.chooseSaveFile(name, lifetime_.guard([this, pngs = std::move(pngs)](
                                                               std::optional<std::filesystem::path> path) mutable {
                if (path) exportSet(std::move(pngs), *path);
            }));
        });
        return;
    }
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

void CardActions::exportSet(std::vector<std::vector<std::uint8_t>> pngs, const std::filesystem::path& chosen) {
    std::vector<std::filesystem::path> files;
    if (pngs.size() == 1) {
        files.push_back(chosen);  // one card keeps the name chosen
    } else {
        for (std::size_t n = 1; n <= pngs.size(); ++n) files.push_back(pageFile(chosen, n));
    }
    // The dialog confirmed the name chosen, not the numbered ones: those are replaced only
    // once the user says so.
    std::size_t existing = 0;
    for (const auto& f : files)
        if (pngs.size() > 1 && std::filesystem::exists(f)) ++existing;
    if (!existing) {
        writeSet(pngs, files);
        return;
    }
    services_.showAlert({Glib::ustring::compose(_("Replace %1 existing files?"), existing),
                         Glib::ustring::compose(_("Files named %1 … %2 are already there."), files.front().filename().string(),
                                                files.back().filename().string()),
                         {_("Replace"), _("Cancel")}},
                        lifetime_.guard([this, pngs = std::move(pngs), files](std::size_t answer) {
                            if (answer == 0) writeSet(pngs, files);
                        }));
}

void CardActions::writeSet(const std::vector<std::vector<std::uint8_t>>& pngs,
                           const std::vector<std::filesystem::path>& files) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (const auto error = writeFileAtomically(files[i], pngs[i])) {
            g_warning("could not save %s: %s", files[i].c_str(), error.message().c_str());
            // Nothing half done: the cards of this export already written go again.
            for (std::size_t k = 0; k < i; ++k) {
                std::error_code ignored;
                std::filesystem::remove(files[k], ignored);
            }
            document_.setStatus(saveFailed());
            return;
        }
    }
    if (files.size() == 1) {
        document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1"), files.front().filename().string()));
        return;
    }
    document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1 \u2026 -%2%3"), files.front().filename().string(),
                                               files.size(), files.front().extension().string()));
}

void CardActions::exportPDF() {
    std::string name = Card::fileName(document_.markdown(), document_.preset().id);
    name = std::filesystem::path(name).replace_extension(".pdf").string();
    const std::string title = Card::title(document_.markdown());
    renderCurrentSet([this, name, title](const Preset&, std::vector<CardImagePtr> set) {
        auto pdf = set.empty() ? std::nullopt : PdfDocument::encode(set, title);
        if (!pdf) {
            document_.setStatus(exportFailed());
            return;
        }
        services_.bringToFront();
        services_.chooseSaveFile(name, lifetime_.guard([this, bytes = std::move(*pdf)](
                                                           std::optional<std::filesystem::path> path) {
            if (!path) return;
            if (const auto error = writeFileAtomically(*path, bytes)) {
                g_warning("could not save %s: %s", path->c_str(), error.message().c_str());
                document_.setStatus(_("Couldn't save the PDF"));
                return;
            }
            document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1"), path->filename().string()));
        }));
    });
}

void CardActions::copyPNG() {
    renderCurrentSet([this](const Preset&, std::vector<CardImagePtr> set) {
        // With pages, the card shown in the preview.
        const std::size_t shown = std::min(document_.shownPage(), set.empty() ? 0 : set.size() - 1);
        CardImagePtr image = set.empty() ? nullptr : set[shown];
        if (!image) {
            document_.setStatus(copyFailed());
            return;
        }
        services_.copyImage(image);
        document_.setStatus(copied());
    });
}

void CardActions::sharePNG(DesktopServices::Anchor anchor) {
    renderCurrentSet([this, anchor](const Preset& preset, std::vector<CardImagePtr> set) {
        // Named after the text as it is now, when the render has finished.
        const auto file = services_.temporaryFolder() / Card::fileName(document_.markdown(), preset.id);
        std::vector<std::filesystem::path> files;
        std::error_code error = set.empty() ? std::make_error_code(std::errc::io_error) : std::error_code();
        for (std::size_t i = 0; !error && i < set.size(); ++i) {
            files.push_back(set.size() == 1 ? file : pageFile(file, i + 1));
            const auto png = exactPng(set[i], preset);
            error = png ? writeFileAtomically(files.back(), *png) : std::make_error_code(std::errc::io_error);
        }
        if (!error && set.size() > 1) {
            // A set is offered as one PDF too.
            files.push_back(std::filesystem::path(file).replace_extension(".pdf"));
            const auto pdf = PdfDocument::encode(set, Card::title(document_.markdown()));
            error = pdf ? writeFileAtomically(files.back(), *pdf) : std::make_error_code(std::errc::io_error);
        }
        if (error) {
            g_warning("could not share %s: %s", file.c_str(), error.message().c_str());
            document_.setStatus(shareFailed());
            return;
        }
        services_.showSharePicker(files, anchor);
    });
}

}  // namespace norvo
