#include "model/CardActions.hpp"

#include <algorithm>

#include <glib.h>
#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "image/PdfDocument.hpp"
#include "norvo/AltText.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "image/CardFormats.hpp"
#include "image/PngEncoder.hpp"

namespace norvo {

namespace {
const char* exportFailed() { return _("Export failed \u2014 try again"); }
const char* saveFailed() { return _("Couldn't save the PNG"); }
const char* copyFailed() { return _("Copy failed"); }
const char* copied() { return _("Copied \u2713 \u2014 paste it anywhere"); }
const char* shareFailed() { return _("Share failed"); }

// The PNG of a rendered card at exactly its preset's size; nothing without an image.
// The picture of a rendered card at exactly its preset's size, in the format its file name
// says (PNG unless .jpg, .jpeg or .webp); nothing without an image.
std::optional<std::vector<std::uint8_t>> exactPicture(const CardImagePtr& image, const Preset& preset,
                                                      const std::filesystem::path& file, const PngEncoder::Words& words) {
    if (!image) return std::nullopt;
    return CardFormats::encodeAt(*image, preset.width, preset.height, CardFormats::byExtension(file.string()), words);
}

// What the note says, for its PNGs.
PngEncoder::Words wordsOf(const std::string& markdown) {
    return {Card::title(markdown), AltText::fromMarkdown(markdown)};
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
// "<stem>-<n><extension>" beside `chosen`.
std::filesystem::path pageFile(const std::filesystem::path& chosen, std::size_t n) {
    std::filesystem::path file = chosen;
    file.replace_filename(Card::fitName(chosen.stem().string(),
                                        "-" + std::to_string(n) + chosen.extension().string()));
    return file;
}

// Where the cards of a set go: one card keeps the name chosen, more are numbered.
std::vector<std::filesystem::path> setFiles(const std::filesystem::path& chosen, std::size_t cards) {
    if (cards == 1) return {chosen};
    std::vector<std::filesystem::path> files;
    for (std::size_t n = 1; n <= cards; ++n) files.push_back(pageFile(chosen, n));
    return files;
}

// Worker thread: encodes each card as a PNG of its preset's size and writes it. Nothing half
// done: on a failure the cards of this call already written go again.
std::error_code writeCards(const std::vector<CardImagePtr>& cards, const Preset& preset,
                           const std::vector<std::filesystem::path>& files, const PngEncoder::Words& words) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto png = exactPicture(cards[i], preset, files[i], words);
        const std::error_code error =
            png ? writeFileAtomically(files[i], *png) : CardFormats::encodeFailed();
        if (!error) continue;
        g_warning("could not write %s: %s", files[i].c_str(), error.message().c_str());
        for (std::size_t k = 0; k < i; ++k) {
            removeWrittenFile(files[k]);
        }
        return error;
    }
    return {};
}

// Worker thread: the cards as one PDF, written to `file`.
std::error_code writePdf(const std::vector<CardImagePtr>& cards, const CardWords& words,
                         const std::filesystem::path& file) {
    const auto pdf = PdfDocument::encode(cards, words);
    const std::error_code error = pdf ? writeFileAtomically(file, *pdf) : std::make_error_code(std::errc::io_error);
    if (error) g_warning("could not write %s: %s", file.c_str(), error.message().c_str());
    return error;
}
}  // namespace

// Encoding and writing run on a worker: a set of twenty cards takes a second or more, and the
// window keeps drawing meanwhile.
void CardActions::exportPNG() {
    // The name and the words are the text's at click time.
    const std::string name = Card::fileName(document_.markdown(), document_.preset().id);
    const PngEncoder::Words words = wordsOf(document_.markdown());
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
        writeSet(std::move(set), as, std::move(files));
        return;
    }
    services_.showAlert({Glib::ustring::compose(_("Replace %1 existing files?"), existing),
                         Glib::ustring::compose(_("Files named %1 … %2 are already there."), files.front().filename().string(),
                                                files.back().filename().string()),
                         {_("Replace"), _("Cancel")}},
                        lifetime_.guard([this, set = std::move(set), as, files](std::size_t answer) mutable {
                            if (answer == 0) writeSet(std::move(set), as, std::move(files));
                        }));
}

void CardActions::writeSet(std::vector<CardImagePtr> set, const Written& as, std::vector<std::filesystem::path> files) {
    background_.run<std::error_code>(
        [set = std::move(set), as, files] { return writeCards(set, as.preset, files, as.words); },
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
    const CardWords words = wordsOf(document_.markdown());
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
                [set = std::move(set), words, file = *path] { return writePdf(set, words, file); },
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
        std::vector<std::filesystem::path> files = setFiles(file, set.size());
        // A set is offered as one PDF too.
        const std::optional<std::filesystem::path> pdf =
            set.size() > 1 ? std::optional(std::filesystem::path(file).replace_extension(".pdf")) : std::nullopt;
        background_.run<std::error_code>(
            [set = std::move(set), preset, files, pdf, words = wordsOf(document_.markdown())] {
                std::error_code error = writeCards(set, preset, files, words);
                if (!error && pdf) error = writePdf(set, words, *pdf);
                return error;
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

}  // namespace norvo
