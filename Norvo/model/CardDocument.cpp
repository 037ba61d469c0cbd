#include "model/CardDocument.hpp"

#include "norvo/FrontMatter.hpp"
#include "support/StyleFiles.hpp"

#include <algorithm>

#include <glibmm/i18n.h>

#include "norvo/Card.hpp"

namespace norvo {

const char* const CardDocument::kSampleMarkdown =
    "# A thought worth sharing\n"
    "\n"
    "Markdown in, a picture out.\n"
    "\n"
    "- Pick a **size** and a theme\n"
    "- Paste your note\n"
    "- Export a PNG for the feed\n"
    "\n"
    "> Your words, designed \u2014 not screenshotted.";

namespace {
const char* tooLong() { return _("Too long to render \u2014 a note may hold up to 1 MiB"); }
}  // namespace

CardDocument::CardDocument(CardRenderer& renderer) : renderer_(renderer), markdown_(kSampleMarkdown) {}

template <typename T>
void CardDocument::assign(T& field, T value, sigc::signal<void()>& changed) {
    field = std::move(value);
    changed.emit();
}

void CardDocument::setMarkdown(std::string value) {
    assign(markdown_, std::move(value), markdownChanged_);
    rerender();
}
void CardDocument::setThemeID(std::string value) {
    assign(themeID_, std::move(value), themeChanged_);
    rerender();
}
void CardDocument::setPresetID(std::string value) {
    assign(presetID_, std::move(value), presetChanged_);
    rerender();
}
void CardDocument::setFontID(std::string value) {
    assign(fontID_, std::move(value), fontChanged_);
    rerender();
}
void CardDocument::setWordmark(bool value) {
    assign(wordmark_, value, wordmarkChanged_);
    rerender();
}
void CardDocument::setFontScale(double value) {
    assign(fontScale_, value, scaleChanged_);
    rerender();
}
void CardDocument::setPages(bool value) {
    assign(pages_, value, pagesChanged_);
    rerender();
}
CardSettings CardDocument::settings() const {
    return CardSettings{.theme = themeID_, .font = fontID_, .size = preset(), .scale = fontScale_, .wordmark = wordmark_,
                        .pages = pages_, .style = style_};
}

void CardDocument::setSettings(const CardSettings& value) {
    setThemeID(value.theme);
    setFontID(value.font);
    setPresetID(value.size.id);
    setFontScale(value.scale);
    setWordmark(value.wordmark);
    setPages(value.pages);
}

CardRequest CardDocument::request() const {
    CardRequest card{.markdown = markdown_};
    if (!noteFile_.empty()) card.pictures.noteFolder = noteFile_.parent_path().string();
    if (!pictureStore_.empty()) card.pictures.more.push_back(pictureStore_.string());
    // A note's front matter outranks the controls for that note; what it gets wrong is left out.
    std::vector<std::string> ignored;
    card.settings = overlayFrontMatter(settings(), NoteSettings::of(markdown_),
                                       styleLookup_ ? styleLookup_ : StyleLookup(StyleFiles::lookup), ignored);
    card.settings.pages = pages_;  // in the app, "Split into pages" decides
    return card;
}

void CardDocument::setStyle(CardStyle value) {
    assign(style_, std::move(value), styleChanged_);
    rerender();
}

void CardDocument::setNoteFile(std::filesystem::path value) {
    if (value == noteFile_) return;
    noteFile_ = std::move(value);
    noteFileChanged_.emit();
}

void CardDocument::setStatus(std::string value) { assign(status_, std::move(value), statusChanged_); }

bool CardDocument::refuseTooLong() {
    if (markdown_.size() <= Card::kMaxMarkdownBytes) {
        if (status_ == tooLong()) setStatus({});
        return false;
    }
    // The editor keeps the text; only rendering is refused.
    if (status_ != tooLong()) setStatus(tooLong());
    return true;
}

void CardDocument::rerender() {
    if (refuseTooLong()) return;
    const std::uint64_t ticket = ++requested_;
    if (pages_) {
        renderer_.renderPages(request(),
                              lifetime_.guard([this, ticket](std::vector<CardImagePtr> set) {
                                  showPreview(ticket, std::move(set));
                              }));
        return;
    }
    renderer_.renderPreview(request(),
                            lifetime_.guard([this, ticket](CardImagePtr image) {
                                std::vector<CardImagePtr> set;
                                if (image) set.push_back(std::move(image));
                                showPreview(ticket, std::move(set));
                            }));
}

void CardDocument::showPreview(std::uint64_t ticket, std::vector<CardImagePtr> set) {
    // A failed render keeps what is shown; an older one never replaces a newer.
    if (set.empty() || ticket < shown_) return;
    shown_ = ticket;
    previewPages_ = std::move(set);
    // The same page stays in view while the text changes, as far as the set reaches.
    shownPage_ = std::min(shownPage_, previewPages_.size() - 1);
    assign(preview_, previewPages_[shownPage_], previewChanged_);
}

void CardDocument::showPage(std::size_t index) {
    if (index >= previewPages_.size() || index == shownPage_) return;
    shownPage_ = index;
    assign(preview_, previewPages_[shownPage_], previewChanged_);
}

}  // namespace norvo
