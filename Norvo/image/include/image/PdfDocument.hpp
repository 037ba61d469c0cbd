#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/CardImage.hpp"
#include "image/CardWords.hpp"

namespace norvo {

// A PDF written as its pages come, one card per page (one pixel = 0.75 pt, lossless), the
// bytes handed to `sink` as cairo produces them: a card is held only as long as cairo uses it.
class PdfWriter {
public:
    using Sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
    // The words are the document's title and subject.
    PdfWriter(Sink sink, const CardWords& words);
    ~PdfWriter();
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    bool addPage(const CardImagePtr& card);
    // Ends the document; false when anything failed (a page, the sink).
    bool finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace norvo

namespace norvo::PdfDocument {

// A PDF with one page per card, each page the card's aspect (one pixel = 0.75 pt) with the
// card embedded losslessly, and the words as the document's title and subject. Nothing when
// it fails.
std::optional<std::vector<std::uint8_t>> encode(const std::vector<CardImagePtr>& cards, const CardWords& words);

}  // namespace norvo::PdfDocument
