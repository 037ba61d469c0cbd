#include "image/PdfDocument.hpp"

#include <memory>

#include <cairo-pdf.h>

#include "image/CairoPtr.hpp"

namespace norvo::PdfDocument {

namespace {
constexpr double kPointsPerPixel = 0.75;
}  // namespace

std::optional<std::vector<std::uint8_t>> encode(const std::vector<CardImagePtr>& cards, const std::string& title) {
    if (cards.empty() || !cards.front()) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    auto write = +[](void* closure, const unsigned char* data, unsigned int length) -> cairo_status_t {
        auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
        out->insert(out->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
    };
    CairoSurfacePtr pdf(cairo_pdf_surface_create_for_stream(write, &bytes, cards.front()->width() * kPointsPerPixel,
                                                    cards.front()->height() * kPointsPerPixel));
    if (!title.empty()) cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATOR, "Norvo");
    for (const CardImagePtr& card : cards) {
        if (!card) return std::nullopt;
        cairo_pdf_surface_set_size(pdf.get(), card->width() * kPointsPerPixel, card->height() * kPointsPerPixel);
        // cairo only reads from the card's pixels here.
        CairoSurfacePtr image(cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(card->data()), CAIRO_FORMAT_ARGB32,
                                                          card->width(), card->height(), card->stride()));
        CairoPtr cr(cairo_create(pdf.get()));
        cairo_scale(cr.get(), kPointsPerPixel, kPointsPerPixel);
        cairo_set_source_surface(cr.get(), image.get(), 0, 0);
        cairo_paint(cr.get());
        cairo_show_page(cr.get());
    }
    cairo_surface_finish(pdf.get());
    if (cairo_surface_status(pdf.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    return bytes;
}

}  // namespace norvo::PdfDocument
