#include "model/CardDocument.hpp"

#include "norvo/FrontMatter.hpp"
#include "support/StyleFiles.hpp"

#include <algorithm>

#include <glibmm/i18n.h>

#include "norvo/Card.hpp"

namespace norvo {

// Shown translated in the window; the self-test draws it as it stands here.
const char* const CardDocument::kSampleMarkdown = N_(
    "# A thought worth sharing\n"
    "\n"
    "Markdown in, a picture out.\n"
    "\n"
    "- Pick a **size** and a theme\n"
    "- Paste your note\n"
    "- Export a PNG for the feed\n"
    "\n"
    "> Your words, designed \u2014 not screenshotted.");

std::string CardDocument::sampleMarkdown() { return _(kSampleMarkdown); }

namespace {
const char* tooLong() { return _("Too long to render \u2014 a note may hold up to 1 MiB"); }
}  // namespace

CardDocument::CardDocument(CardRenderer& renderer) : renderer_(renderer), markdown_(sampleMarkdown()) {}

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
    assign(settings_.theme, std::move(value), themeChanged_);
    settingsChanged_.emit();
    rerender();
}
void CardDocument::setPresetID(std::string value) {
    settings_.size = Presets::parse(value).value_or(Presets::defaultPreset());
    assign(presetID_, std::move(value), presetChanged_);
    settingsChanged_.emit();
    rerender();
}
void CardDocument::setFontID(std::string value) {
    assign(settings_.font, std::move(value), fontChanged_);
    settingsChanged_.emit();
    rerender();
}
void CardDocument::setWordmark(bool value) { setSwitch(&CardSettings::wordmark, value); }
void CardDocument::setFontScale(double value) {
    assign(settings_.scale, value, scaleChanged_);
    settingsChanged_.emit();
    rerender();
}
void CardDocument::setPages(bool value) { setSwitch(&CardSettings::pages, value); }

void CardDocument::setSwitch(bool CardSettings::*which, bool value) {
    // The switches listened to one by one have a signal of their own; a new one has the common one only.
    static sigc::signal<void()> none;
    sigc::signal<void()>& own = which == &CardSettings::wordmark ? wordmarkChanged_
                                : which == &CardSettings::pages  ? pagesChanged_
                                                                 : none;
    assign(settings_.*which, value, own);
    settingsChanged_.emit();
    rerender();
}

// The whole value at once: a setting added to it cannot be left behind.
void CardDocument::setSettings(const CardSettings& value) {
    CardStyle style = std::move(settings_.style);
    settings_ = value;
    settings_.style = std::move(style);
    presetID_ = value.size.id;
    for (auto* changed : {&themeChanged_, &presetChanged_, &fontChanged_, &wordmarkChanged_, &scaleChanged_,
                          &pagesChanged_, &settingsChanged_})
        changed->emit();
    rerender();
}

CardRequest CardDocument::request() const {
    CardRequest card{.markdown = markdown_};
    if (!noteFile_.empty()) card.pictures.noteFolder = noteFile_.parent_path().string();
    if (!pictureStore_.empty()) card.pictures.more.push_back(pictureStore_.string());
    // A note's front matter outranks the controls for that note; what it gets wrong is left out.
    std::vector<std::string> ignored;
    card.settings = overlayFrontMatter(settings_, NoteSettings::of(markdown_),
                                       styleLookup_ ? styleLookup_ : StyleLookup(StyleFiles::lookup), ignored);
    card.settings.pages = settings_.pages;  // in the app, "Split into pages" decides
    return card;
}

void CardDocument::setStyle(CardStyle value) {
    assign(settings_.style, std::move(value), styleChanged_);
    settingsChanged_.emit();
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
    if (settings_.pages) {
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
