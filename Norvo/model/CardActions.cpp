#include "model/CardActions.hpp"

#include <algorithm>

#include <glib.h>
#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "image/PdfDocument.hpp"
#include "norvo/AltText.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/PrivateFolder.hpp"
#include "image/CardFormats.hpp"
#include "image/CardWriter.hpp"
#include "image/PngEncoder.hpp"

namespace norvo {

namespace {
const char* exportFailed() { return _("Export failed \u2014 try again"); }
const char* saveFailed() { return _("Couldn't save the PNG"); }
const char* copyFailed() { return _("Copy failed"); }
const char* copied() { return _("Copied \u2713 \u2014 paste it anywhere"); }
const char* shareFailed() { return _("Share failed"); }

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
    if (document_.refuseTooLong()) return;
    renderSet(document_.request(), document_.pages(), std::move(then));
}

// `then` hears the size the cards were drawn at.
void CardActions::renderSet(const CardRequest& request, bool pages,
                            std::function<void(const Preset&, std::vector<CardImagePtr>)> then) {
    const Preset drawn = request.drawnSize();
    if (!pages) {
        renderer_.render(request, lifetime_.guard([drawn, then = std::move(then)](CardImagePtr image) {
                             std::vector<CardImagePtr> set;
                             if (image) set.push_back(std::move(image));
                             then(drawn, std::move(set));
                         }));
        return;
    }
    renderer_.renderPages(request, lifetime_.guard([drawn, then = std::move(then)](std::vector<CardImagePtr> set) {
                              then(drawn, std::move(set));
                          }));
}

namespace {
// Where the cards of a set go: one card keeps the name chosen, more are numbered.
std::vector<std::filesystem::path> setFiles(const std::filesystem::path& chosen, std::size_t cards) {
    std::vector<std::filesystem::path> files;
    for (std::size_t n = 1; n <= cards; ++n) files.push_back(setCardFile(chosen, n, cards));
    return files;
}

// Worker thread: the cards at exactly `size`, each to its file (in the format its name says)
// and, with `pdf`, all of them into one PDF. Nothing half done: on a failure nothing stays.
std::error_code writeSetFiles(const std::vector<CardImagePtr>& cards, SetWriter::Target target) {
    const std::filesystem::path named = target.pictures ? target.base : target.pdf.value_or("");
    SetWriter writer(std::move(target));
    std::error_code error;
    for (std::size_t i = 0; i < cards.size() && !error; ++i) error = writer.add(cards[i], i + 1, cards.size());
    if (!error) error = writer.commit();
    if (error) g_warning("could not write %s: %s", named.c_str(), error.message().c_str());
    return error;
}
}  // namespace

// Encoding and writing run on a worker: a set of twenty cards takes a second or more, and the
// window keeps drawing meanwhile.
void CardActions::exportPNG() {
    // The name and the words are the text's at click time.
    const std::string name = Card::fileName(document_.markdown(), document_.preset().id);
    const PngEncoder::Words words = cardWords(document_.markdown());
    const CardRequest clicked = document_.request();
    const bool pages = document_.pages();
    renderCurrentSet([this, name, words, clicked, pages](const Preset& preset, std::vector<CardImagePtr> set) {
        if (set.empty()) {
            document_.setStatus(exportFailed());
            return;
        }
        services_.bringToFront();
        services_.chooseCardFile(name, lifetime_.guard([this, preset, words, clicked, pages, set = std::move(set)](
                                                           std::optional<DesktopServices::CardFile> chosen) mutable {
            if (!chosen) return;  // cancelled: the status line stays as it was
            if (chosen->density == 1) {
                exportSet(std::move(set), Written{preset, words}, chosen->path);
                return;
            }
            // Twice the pixels: the card as it was clicked, drawn again at that density.
            CardRequest denser = clicked;
            denser.density = chosen->density;
            renderSet(denser, pages, [this, words, path = chosen->path](const Preset& drawn, std::vector<CardImagePtr> set) {
                if (set.empty()) return document_.setStatus(exportFailed());
                exportSet(std::move(set), Written{drawn, words}, path);
            });
        }));
    });
}

void CardActions::exportSet(std::vector<CardImagePtr> set, const Written& as, const std::filesystem::path& chosen) {
    std::vector<std::filesystem::path> files = setFiles(chosen, set.size());
    // The dialog confirmed the name chosen, not the numbered ones: those are replaced only
    // once the user says so.
    std::size_t existing = 0;
    for (const auto& f : files)
        if (set.size() > 1 && std::filesystem::exists(f)) ++existing;
    if (!existing) {
        writeSet(std::move(set), as, chosen);
        return;
    }
    services_.showAlert({Glib::ustring::compose(_("Replace %1 existing files?"), existing),
                         Glib::ustring::compose(_("Files named %1 … %2 are already there."), files.front().filename().string(),
                                                files.back().filename().string()),
                         {_("Replace"), _("Cancel")}},
                        lifetime_.guard([this, set = std::move(set), as, chosen](std::size_t answer) mutable {
                            if (answer == 0) writeSet(std::move(set), as, chosen);
                        }));
}

void CardActions::writeSet(std::vector<CardImagePtr> set, const Written& as, const std::filesystem::path& chosen) {
    const std::vector<std::filesystem::path> files = setFiles(chosen, set.size());
    background_.run<std::error_code>(
        [set = std::move(set), as, chosen] { return writeSetFiles(set, {.base = chosen, .size = as.preset, .words = as.words}); },
        [this, files](std::error_code error) {
            if (error) {
                document_.setStatus(saveFailed());
            } else if (files.size() == 1) {
                document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1"), files.front().filename().string()));
            } else {
                document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1 \u2026 -%2%3"),
                                                           files.front().filename().string(), files.size(),
                                                           files.front().extension().string()));
            }
        });
}

void CardActions::exportPDF() {
    std::string name = Card::fileName(document_.markdown(), document_.preset().id);
    name = std::filesystem::path(name).replace_extension(".pdf").string();
    const CardWords words = cardWords(document_.markdown());
    renderCurrentSet([this, name, words](const Preset&, std::vector<CardImagePtr> set) {
        if (set.empty()) {
            document_.setStatus(exportFailed());
            return;
        }
        services_.bringToFront();
        services_.chooseSaveFile(name, lifetime_.guard([this, words, set = std::move(set)](
                                                           std::optional<std::filesystem::path> path) mutable {
            if (!path) return;
            background_.run<std::error_code>(
                [set = std::move(set), words, file = *path] {
                    return writeSetFiles(set, {.pictures = false, .pdf = file, .words = words});
                },
                [this, file = *path](std::error_code error) {
                    document_.setStatus(error ? Glib::ustring(_("Couldn't save the PDF"))
                                              : Glib::ustring::compose(_("Saved \u2713 %1"), file.filename().string()));
                });
        }));
    });
}

void CardActions::copyPNG() {
    const std::string altText = AltText::fromMarkdown(document_.markdown());  // the text at click time
    renderCurrentSet([this, altText](const Preset&, std::vector<CardImagePtr> set) {
        // With pages, the card shown in the preview.
        const std::size_t shown = std::min(document_.shownPage(), set.empty() ? 0 : set.size() - 1);
        CardImagePtr image = set.empty() ? nullptr : set[shown];
        if (!image) {
            document_.setStatus(copyFailed());
            return;
        }
        services_.copyCard(image, altText);
        document_.setStatus(copied());
    });
}

void CardActions::sharePNG(DesktopServices::Anchor anchor) {
    renderCurrentSet([this, anchor](const Preset& preset, std::vector<CardImagePtr> set) {
        if (set.empty()) {
            document_.setStatus(shareFailed());
            return;
        }
        // Named after the text as it is now, when the render has finished.
        const auto file = services_.temporaryFolder() / Card::fileName(document_.markdown(), preset.id);
        const std::vector<std::filesystem::path> files = setFiles(file, set.size());
        // A set is offered as one PDF too.
        const std::optional<std::filesystem::path> pdf =
            set.size() > 1 ? std::optional(std::filesystem::path(file).replace_extension(".pdf")) : std::nullopt;
        background_.run<std::error_code>(
            [set = std::move(set), preset, file, pdf, words = cardWords(document_.markdown())] {
                return writeSetFiles(set, {.base = file, .size = preset, .pdf = pdf, .words = words});
            },
            [this, files, pdf, anchor, altText = AltText::fromMarkdown(document_.markdown())](std::error_code error) {
                if (error) {
                    document_.setStatus(shareFailed());
                    return;
                }
                auto offered = files;
                if (pdf) offered.push_back(*pdf);
                services_.showSharePicker(offered, altText, anchor);
            });
    });
}

std::filesystem::path CardActions::dragFile() {
    const CardImagePtr image = document_.preview();
    if (!image) return {};
    std::error_code error;
    const auto folder = PrivateFolder::make("drag", error);
    if (error) return {};
    const auto path = folder / Card::fileName(document_.markdown(), document_.preset().id);
    Preset size;
    size.width = image->width();
    size.height = image->height();
    background_.run<std::error_code>([image, path, size, words = cardWords(document_.markdown())] {
        return writeCard(*image, size, path, words, CardFormats::Format::Png);
    }, [path](std::error_code failed) {
        if (failed) g_warning("could not write %s for the drag: %s", path.c_str(), failed.message().c_str());
    });
    return path;
}

}  // namespace norvo
