#pragma once
#include <filesystem>
#include <cstdint>
#include <string>
#include <vector>

#include <sigc++/signal.h>

#include "image/CardImage.hpp"
#include "model/CardRenderer.hpp"
#include "norvo/CardStyle.hpp"
#include "norvo/Presets.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The card being made: its settings, its preview and the status line. Every
// assignment of a setting renders the card again (also for an equal value); only the
// newest finished render becomes the preview. Main thread only.
class CardDocument {
public:
    static const char* const kSampleMarkdown;
    // The sample in the user's language: the note a new window opens with.
    static std::string sampleMarkdown();

    explicit CardDocument(CardRenderer& renderer);
    CardDocument(const CardDocument&) = delete;
    CardDocument& operator=(const CardDocument&) = delete;

    const std::string& markdown() const { return markdown_; }
    void setMarkdown(std::string value);
    const std::string& themeID() const { return settings_.theme; }
    void setThemeID(std::string value);
    const std::string& presetID() const { return presetID_; }
    void setPresetID(std::string value);
    const std::string& fontID() const { return settings_.font; }
    void setFontID(std::string value);
    bool wordmark() const { return settings_.wordmark; }
    void setWordmark(bool value);
    double fontScale() const { return settings_.scale; }
    void setFontScale(double value);
    // A long note as a set of same-size cards instead of one (cut) card.
    bool pages() const { return settings_.pages; }
    void setPages(bool value);

    // The user's style over the theme (empty: the theme only).
    const CardStyle& style() const { return settings_.style; }
    void setStyle(CardStyle value);

    // The preset the card renders at (the default for an unknown id, which is kept as given).
    Preset preset() const { return settings_.size; }
    // The controls' values as one card setting, before any note's front matter.
    const CardSettings& settings() const { return settings_; }
    // Sets every control's value but the style (which the style choice loads and sets).
    void setSettings(const CardSettings& value);
    // Sets one switch of the card (the wordmark, pages, ...), as a table of controls binds them.
    void setSwitch(bool CardSettings::*which, bool value);
    // The card as it would be rendered now: the settings, and over them what the note's front
    // matter asks for itself (its theme, font, size, scale, wordmark, style and accent).
    CardRequest request() const;

    // Where pictures dropped or pasted into a note are kept (empty: nowhere). A note's pictures
    // are read from its file's folder and from here.
    const std::filesystem::path& pictureStore() const { return pictureStore_; }
    void setPictureStore(std::filesystem::path folder) { pictureStore_ = std::move(folder); }
    // Where a note's front matter finds the saved style it names (the saved styles' files by
    // default; the app's style library keeps what it read).
    void setStyleLookup(StyleLookup lookup) { styleLookup_ = std::move(lookup); }

    // The file the note was opened from or saved to last (empty for a note typed here).
    const std::filesystem::path& noteFile() const { return noteFile_; }
    void setNoteFile(std::filesystem::path value);

    const std::string& status() const { return status_; }
    void setStatus(std::string value);
    // The card shown: with pages, the page the preview is on.
    const CardImagePtr& preview() const { return preview_; }
    // The whole set of the preview (one card without pages), and which of them is shown.
    const std::vector<CardImagePtr>& previewPages() const { return previewPages_; }
    std::size_t shownPage() const { return shownPage_; }
    void showPage(std::size_t index);

    // Renders the card with its settings of this moment into the preview.
    void rerender();
    // True, and said in the status line, when the note is too long to render.
    bool refuseTooLong();

    // Any of the card's settings changed (after its own signal below).
    sigc::signal<void()>& signalSettingsChanged() { return settingsChanged_; }
    // One signal per property, emitted after the value is stored.
    sigc::signal<void()>& signalMarkdownChanged() { return markdownChanged_; }
    sigc::signal<void()>& signalThemeChanged() { return themeChanged_; }
    sigc::signal<void()>& signalPresetChanged() { return presetChanged_; }
    sigc::signal<void()>& signalFontChanged() { return fontChanged_; }
    sigc::signal<void()>& signalWordmarkChanged() { return wordmarkChanged_; }
    sigc::signal<void()>& signalScaleChanged() { return scaleChanged_; }
    sigc::signal<void()>& signalPagesChanged() { return pagesChanged_; }
    sigc::signal<void()>& signalStatusChanged() { return statusChanged_; }
    sigc::signal<void()>& signalNoteFileChanged() { return noteFileChanged_; }
    sigc::signal<void()>& signalStyleChanged() { return styleChanged_; }
    sigc::signal<void()>& signalPreviewChanged() { return previewChanged_; }

private:
    template <typename T>
    void assign(T& field, T value, sigc::signal<void()>& changed);
    void showPreview(std::uint64_t ticket, std::vector<CardImagePtr> set);

    CardRenderer& renderer_;
    std::string markdown_;
    CardSettings settings_;
    std::string presetID_ = "square";  // as typed: an unknown one renders at the default size
    std::string status_;
    std::filesystem::path noteFile_;
    std::filesystem::path pictureStore_;
    StyleLookup styleLookup_;
    sigc::signal<void()> styleChanged_, settingsChanged_;
    sigc::signal<void()> noteFileChanged_;
    CardImagePtr preview_;
    std::vector<CardImagePtr> previewPages_;
    std::size_t shownPage_ = 0;
    std::uint64_t requested_ = 0;  // renders asked for
    std::uint64_t shown_ = 0;      // the render the preview shows
    sigc::signal<void()> markdownChanged_, themeChanged_, presetChanged_, fontChanged_, wordmarkChanged_,
        scaleChanged_, pagesChanged_, statusChanged_, previewChanged_;
    Lifetime lifetime_;
};

}  // namespace norvo
