#pragma once
// Cards into files, one way for every way out (export, share, drag, `norvo render`): a card's
// words, the names of a set's cards, and a set written as its cards come, kept whole or not at
// all. Any one thread at a time.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "image/CardFormats.hpp"
#include "image/CardImage.hpp"
#include "image/CardWords.hpp"
#include "image/PdfDocument.hpp"
#include "norvo/Presets.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

// What a card says, from its note: the note's first line and its plain text.
CardWords cardWords(std::string_view markdown);

// Card `page` (from 1) of a set of `pages` named after `base`: `base` itself for a set of
// one, else "<stem>-<page><extension>", shortened to fit a file name.
std::filesystem::path setCardFile(const std::filesystem::path& base, std::size_t page, std::size_t pages);

// A set of cards written as they come, never held whole: each card to its own file at exactly
// the set's size, and (or only) all of them into one PDF. Committed, everything stays; rolled
// back (or dropped without a commit), the card files written go again and the PDF never
// appears. A FIFO or device named as a card's file is written into, and never removed.
class SetWriter {
public:
    struct Target {
        std::filesystem::path base{};  // the cards' name (see setCardFile)
        Preset size{};                 // every card's pixel size
        // The cards' format; nothing: each file's ending says (PNG unless .jpg, .jpeg, .webp).
        std::optional<CardFormats::Format> format{};
        bool pictures = true;                         // each card as a file of its own
        std::optional<std::filesystem::path> pdf{};   // and one PDF of them all
        CardWords words{};                            // in every file
        // Through a link at a card's name (the user named it), or replacing it (a name Norvo made).
        WriteRules::Links links = WriteRules::Links::Replace;
    };

    explicit SetWriter(Target target);
    ~SetWriter();
    SetWriter(const SetWriter&) = delete;
    SetWriter& operator=(const SetWriter&) = delete;

    // Card `page` of `pages` goes to its file and into the PDF; the first error stays.
    std::error_code add(const CardImagePtr& card, std::size_t page, std::size_t pages);
    std::error_code commit();
    void rollBack();

    const std::vector<std::filesystem::path>& cardFiles() const { return written_; }
    // The file whose write failed (a card's or the PDF), once one has.
    const std::filesystem::path& failedFile() const { return failedFile_; }
    std::size_t pages() const { return pages_; }

private:
    Target target_;
    std::vector<std::filesystem::path> written_;
    std::unique_ptr<AtomicFileWriter> pdfFile_;
    std::unique_ptr<PdfWriter> pdf_;
    std::size_t pages_ = 0;
    std::error_code error_;
    std::filesystem::path failedFile_;
    bool committed_ = false;
};

// The size a card drawn as `card` is written at: `size`, or for a long picture as tall as it grew.
Preset writtenSize(const CardImage& card, const Preset& size);

// One card to `file` at exactly `size`, in the format its name says unless `format` is given.
// A link at `file` is replaced unless `links` says to write through it (a name the user gave).
std::error_code writeCard(const CardImage& card, const Preset& size, const std::filesystem::path& file,
                          const CardWords& words, std::optional<CardFormats::Format> format = std::nullopt,
                          WriteRules::Links links = WriteRules::Links::Replace);

}  // namespace norvo
