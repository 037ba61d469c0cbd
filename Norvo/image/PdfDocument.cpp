#include "image/PdfDocument.hpp"

#include <memory>

#include <cairo-pdf.h>

#include "image/CairoPtr.hpp"

namespace norvo {

namespace {
constexpr double kPointsPerPixel = 0.75;
}  // namespace

struct PdfWriter::State {
    Sink sink;
    CardWords words;
    CairoSurfacePtr pdf;  // made with the first page, which gives the document its size
    bool failed = false;
};

PdfWriter::PdfWriter(Sink sink, const CardWords& words) : state_(std::make_unique<State>()) {
    state_->sink = std::move(sink);
    state_->words = words;
}

PdfWriter::~PdfWriter() = default;

bool PdfWriter::addPage(const CardImagePtr& cardPtr) {
    State& s = *state_;
    if (s.failed || !cardPtr) return false;
    const CardImage& card = *cardPtr;
    if (!s.pdf) {
        auto write = +[](void* closure, const unsigned char* data, unsigned int length) -> cairo_status_t {
            auto* state = static_cast<State*>(closure);
            if (!state->sink(data, length)) state->failed = true;
            return state->failed ? CAIRO_STATUS_WRITE_ERROR : CAIRO_STATUS_SUCCESS;
        };
        s.pdf.reset(cairo_pdf_surface_create_for_stream(write, &s, card.width() * kPointsPerPixel,
                                                        card.height() * kPointsPerPixel));
        if (!s.words.title.empty())
            cairo_pdf_surface_set_metadata(s.pdf.get(), CAIRO_PDF_METADATA_TITLE, s.words.title.c_str());
        if (!s.words.description.empty())
            cairo_pdf_surface_set_metadata(s.pdf.get(), CAIRO_PDF_METADATA_SUBJECT, s.words.description.c_str());
        cairo_pdf_surface_set_metadata(s.pdf.get(), CAIRO_PDF_METADATA_CREATOR, "Norvo");
    }
    cairo_pdf_surface_set_size(s.pdf.get(), card.width() * kPointsPerPixel, card.height() * kPointsPerPixel);
    {
        // cairo only reads the card's pixels, and the surface keeps the card alive for as long
        // as cairo holds on to it.
        CairoSurfacePtr image(cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(card.data()),
                                                                  CAIRO_FORMAT_ARGB32, card.width(), card.height(),
                                                                  card.stride()));
        static const cairo_user_data_key_t kCardKey{};
        auto holder = std::make_unique<CardImagePtr>(cardPtr);
        if (cairo_surface_set_user_data(image.get(), &kCardKey, holder.get(), [](void* held) {
                std::unique_ptr<CardImagePtr>(static_cast<CardImagePtr*>(held));
            }) == CAIRO_STATUS_SUCCESS)
            holder.release();  // the surface owns it now
        CairoPtr cr(cairo_create(s.pdf.get()));
        cairo_scale(cr.get(), kPointsPerPixel, kPointsPerPixel);
        cairo_set_source_surface(cr.get(), image.get(), 0, 0);
        cairo_paint(cr.get());
        cairo_show_page(cr.get());
    }
    s.failed = s.failed || cairo_surface_status(s.pdf.get()) != CAIRO_STATUS_SUCCESS;
    return !s.failed;
}

bool PdfWriter::finish() {
    State& s = *state_;
    if (!s.pdf) return false;
    cairo_surface_finish(s.pdf.get());
    return !s.failed && cairo_surface_status(s.pdf.get()) == CAIRO_STATUS_SUCCESS;
}

namespace PdfDocument {

std::optional<std::vector<std::uint8_t>> encode(const std::vector<CardImagePtr>& cards, const CardWords& words) {
    if (cards.empty()) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    PdfWriter writer([&bytes](const std::uint8_t* data, std::size_t size) {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }, words);
    for (const CardImagePtr& card : cards)
        if (!writer.addPage(card)) return std::nullopt;
    if (!writer.finish()) return std::nullopt;
    return bytes;
}

}  // namespace PdfDocument
}  // namespace norvo
