#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <sigc++/signal.h>

#include "engine/CardImage.hpp"
#include "model/CardRenderer.hpp"
#include "model/DesktopServices.hpp"
#include "norvo/Updater.hpp"
#include "updater/SelfUpdater.hpp"

namespace norvo {

// The application's one model: the card settings, the preview, the status line and the
// update state. Every assignment of a card setting renders the card again. Main thread only.
class NorvoModel {
public:
    static const char* const kSampleMarkdown;

    // The process-wide instance, rendering through the web engine.
    static NorvoModel& shared();

    // A separate instance with its own renderer (tests build these).
    explicit NorvoModel(CardRendererFactory rendererFactory);
    NorvoModel(const NorvoModel&) = delete;
    NorvoModel& operator=(const NorvoModel&) = delete;

    // Card settings; each setter stores, then calls rerender(), also for an equal value.
    const std::string& markdown() const { return markdown_; }
    void setMarkdown(std::string value);
    const std::string& themeID() const { return themeID_; }
    void setThemeID(std::string value);
    const std::string& presetID() const { return presetID_; }
    void setPresetID(std::string value);
    const std::string& fontID() const { return fontID_; }
    void setFontID(std::string value);
    bool wordmark() const { return wordmark_; }
    void setWordmark(bool value);
    double fontScale() const { return fontScale_; }
    void setFontScale(double value);

    const std::string& lastStatus() const { return lastStatus_; }
    void setLastStatus(std::string value);
    const CardImagePtr& previewImage() const { return previewImage_; }
    void setPreviewImage(CardImagePtr value);

    const std::string& version() const { return version_; }

    const std::optional<UpdateInfo>& availableUpdate() const { return availableUpdate_; }
    void setAvailableUpdate(std::optional<UpdateInfo> value);
    bool isUpdating() const { return isUpdating_; }
    void setIsUpdating(bool value);
    bool isCheckingForUpdate() const { return isCheckingForUpdate_; }
    void setIsCheckingForUpdate(bool value);

    // Emitted before any published property is stored, and after it was stored.
    sigc::signal<void()>& signalWillChange() { return willChange_; }
    sigc::signal<void()>& signalChanged() { return changed_; }

    void start();
    void rerender();
    void runSelfTest();

    // Take the card out of the application; each renders afresh and reports in lastStatus.
    void exportPNG();
    void copyPNG();
    void sharePNG(Gtk::Widget* anchor);
    void setDesktopServices(DesktopServices* services) { services_ = services; }

    // Updates: checks run on a worker thread, answers come back to the main thread.
    void checkForUpdatesOnLaunch();
    void checkForUpdatesManually();
    void promptForUpdate();
    void installUpdate();

    // Where updates come from and how an install is set up; the app uses the defaults.
    struct UpdateSource {
        std::string manifestURL;
        std::function<std::unique_ptr<HttpSession>()> makeSession;
        std::function<SelfUpdater::Setup(HttpSession&)> installSetup;
    };
    static UpdateSource defaultUpdateSource();
    void setUpdateSource(UpdateSource source) { updateSource_ = std::move(source); }

    CardRenderer& engine();
    // How the application ends itself (the self-test's normal quit).
    void setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }
    void setVersionForTesting(std::string v) { version_ = std::move(v); }

private:
    template <typename T>
    void publish(T& field, T value);
    // True (and says so in the status line) when the note is too long to render.
    bool refuseTooLong();
    // Renders the card with the settings of this moment, for export, copy and share.
    void renderCurrentCard(std::function<void(NorvoModel&, const Preset&, CardImagePtr)> then);
    void selfTestStep(std::size_t index, std::shared_ptr<const struct SelfTestRun> run);

    std::string markdown_;
    std::string themeID_ = "paper";
    std::string presetID_ = "square";
    std::string fontID_ = "sans";
    bool wordmark_ = true;
    double fontScale_ = 1.0;
    std::string lastStatus_;
    CardImagePtr previewImage_;
    std::optional<UpdateInfo> availableUpdate_;
    bool isUpdating_ = false;
    bool isCheckingForUpdate_ = false;
    bool didCheck_ = false;
    std::string version_;

    CardRendererFactory rendererFactory_;
    std::unique_ptr<CardRenderer> engine_;
    void checkInBackground(std::function<void(NorvoModel&, std::optional<UpdateInfo>)> then);
    void alertInstallFailed(std::exception_ptr error);

    std::function<void()> quit_;
    UpdateSource updateSource_ = defaultUpdateSource();
    DesktopServices* services_ = nullptr;
    sigc::signal<void()> willChange_, changed_;
    // Completions hold this weakly: they do nothing once the model is gone.
    std::shared_ptr<NorvoModel*> alive_;
};

}  // namespace norvo
