#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <sigc++/signal.h>

#include "model/DesktopServices.hpp"
#include "norvo/Updater.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The update flows: the check at launch, the manual check, the prompt and the install.
// Checks and installs run on worker threads; their answers come back on the main thread.
class UpdateController {
public:
    // Where updates come from and how one is installed. Each step blocks: a worker runs it.
    struct Source {
        // The newer release the manifest offers, if any (every failure gives nothing).
        std::function<std::optional<UpdateInfo>(const std::string& currentVersion)> check;
        // Downloads, verifies and hands the update to the swap; throws UpdateFailure or
        // another error when it cannot.
        std::function<void(const UpdateInfo&)> install;
        // Clears what earlier updates left behind.
        std::function<void()> removeLeftovers;
        // The running app's: the built-in (or configured) manifest, libcurl, this process.
        static Source forThisApp();
        // The same with another manifest address (tests and screenshots point it nowhere).
        static Source forThisApp(std::string manifestURL);
    };

    // `quit` ends the application once an install has started its swap.
    UpdateController(Source source, DesktopServices& services, std::string version, std::function<void()> quit);
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    const std::string& version() const { return version_; }
    const std::optional<UpdateInfo>& availableUpdate() const { return availableUpdate_; }
    bool isUpdating() const { return isUpdating_; }
    bool isCheckingForUpdate() const { return isChecking_; }
    // Emitted after any of the three above changed.
    sigc::signal<void()>& signalChanged() { return changed_; }
    // The flows move through these states; each emits signalChanged.
    void setAvailableUpdate(std::optional<UpdateInfo> value);
    void setUpdating(bool value);
    void setChecking(bool value);

    // Once per launch: clears what earlier updates left behind, then checks quietly.
    void start();
    void checkForUpdatesManually();
    void promptForUpdate();
    void installUpdate();

private:
    void checkInBackground(std::function<void(std::optional<UpdateInfo>)> then);
    void alertInstallFailed(std::exception_ptr error);

    Source source_;
    DesktopServices& services_;
    std::string version_;
    std::function<void()> quit_;
    std::optional<UpdateInfo> availableUpdate_;
    bool isUpdating_ = false;
    bool isChecking_ = false;
    bool started_ = false;
    sigc::signal<void()> changed_;
    Lifetime lifetime_;
    BackgroundTasks background_;  // last: joined before the rest goes
};

}  // namespace norvo
