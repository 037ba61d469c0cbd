#include "image/CardWriter.hpp"

#include "norvo/AltText.hpp"
#include "norvo/Card.hpp"
#include "support/StartupTimeline.hpp"

namespace norvo {

CardWords cardWords(std::string_view markdown) { return {Card::title(markdown), AltText::fromMarkdown(markdown)}; }

std::filesystem::path setCardFile(const std::filesystem::path& base, std::size_t page, std::size_t pages) {
    if (pages < 2) return base;
    std::filesystem::path file = base;
    file.replace_filename(Card::fitName(base.stem().string(), "-" + std::to_string(page) + base.extension().string()));
    return file;
}

Preset writtenSize(const CardImage& card, const Preset& size) { return size.writtenAs(card.width(), card.height()); }

std::error_code writeCard(const CardImage& card, const Preset& size, const std::filesystem::path& file,
                          const CardWords& words, std::optional<CardFormats::Format> format, WriteRules::Links links) {
    StartupTimeline::mark("encode-begun");
    const Preset written = writtenSize(card, size);
    const auto bytes = CardFormats::encodeAt(card, written.width, written.height,
                                             format ? *format : CardFormats::byExtension(file.string()), words);
    StartupTimeline::mark("encoded");
    if (!bytes) return CardFormats::encodeFailed();
    const std::error_code error = writeFileAtomically(file, *bytes, {.links = links});
    StartupTimeline::mark("written");
    return error;
}

SetWriter::SetWriter(Target target) : target_(std::move(target)) {}

SetWriter::~SetWriter() {
    if (!committed_) rollBack();
}

std::error_code SetWriter::add(const CardImagePtr& card, std::size_t page, std::size_t pages) {
    if (error_) return error_;
    if (!card) return error_ = CardFormats::encodeFailed();
    if (target_.pictures) {
        const auto file = setCardFile(target_.base, page, pages);
        if ((error_ = writeCard(*card, target_.size, file, target_.words, target_.format, target_.links))) {
            failedFile_ = file;
            return error_;
        }
        written_.push_back(file);
    }
    if (target_.pdf) {
        if (!pdf_) {
            pdfFile_ = std::make_unique<AtomicFileWriter>(*target_.pdf, WriteRules{.links = target_.links});
            AtomicFileWriter* file = pdfFile_.get();
            pdf_ = std::make_unique<PdfWriter>(
                [file](const std::uint8_t* data, std::size_t size) { return file->write(data, size); }, target_.words);
        }
        if (!pdf_->addPage(card)) {
            error_ = pdfFile_->error();
            if (!error_) error_ = CardFormats::encodeFailed();
            failedFile_ = *target_.pdf;
            return error_;
        }
    }
    ++pages_;
    return {};
}

std::error_code SetWriter::commit() {
    if (error_) return error_;
    if (pdf_ && !pdf_->finish()) error_ = pdfFile_->error() ? pdfFile_->error() : CardFormats::encodeFailed();
    if (!error_ && pdfFile_) error_ = pdfFile_->commit();
    if (error_) failedFile_ = target_.pdf.value_or(target_.base);
    if (!error_) committed_ = true;
    return error_;
}

void SetWriter::rollBack() {
    for (const auto& file : written_) removeWrittenFile(file);
    written_.clear();
    pdf_.reset();
    pdfFile_.reset();  // an uncommitted PDF leaves nothing
    pages_ = 0;
    error_.clear();
    failedFile_.clear();
    committed_ = false;
}

}  // namespace norvo
