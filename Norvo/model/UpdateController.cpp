#include "model/UpdateController.hpp"

#include <glib.h>
#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "model/AppInfo.hpp"
#include "model/UserDefaults.hpp"

namespace norvo {

UpdateController::UpdateController(Source source, DesktopServices& services, std::string version,
                                   std::function<void()> quit)
    : source_(std::move(source)), services_(services), version_(std::move(version)), quit_(std::move(quit)) {}

void UpdateController::setAvailableUpdate(std::optional<UpdateInfo> value) {
    availableUpdate_ = std::move(value);
    changed_.emit();
}
void UpdateController::setUpdating(bool value) {
    isUpdating_ = value;
    changed_.emit();
}
void UpdateController::setChecking(bool value) {
    isChecking_ = value;
    changed_.emit();
}

void UpdateController::checkInBackground(std::function<void(std::optional<UpdateInfo>)> then) {
    background_.run<std::optional<UpdateInfo>>([check = source_.check, current = version_] { return check(current); },
                                                std::move(then));
}

void UpdateController::start() {
    if (started_) return;
    started_ = true;
    if (source_.removeLeftovers)
        background_.run<bool>(
            [removeLeftovers = source_.removeLeftovers] {
                removeLeftovers();
                return true;
            },
            [](bool) {});
    checkInBackground([this](std::optional<UpdateInfo> found) {
        setAvailableUpdate(found);
        if (!found) return;
        // "Later" for this very version means: only the menu item shows it.
        const auto declined = UserDefaults::string(UserDefaults::kPromptedVersionKey);
        if (!declined || *declined != found->version) promptForUpdate();
    });
}

void UpdateController::checkForUpdatesManually() {
    if (isUpdating_ || isChecking_) return;
    setChecking(true);
    checkInBackground([this](std::optional<UpdateInfo> found) {
        setChecking(false);
        setAvailableUpdate(found);
        if (found) {
            promptForUpdate();
            return;
        }
        services_.bringToFront();
        services_.showAlert({_("You're up to date"),
                             Glib::ustring::compose(_("Norvo %1 is the latest version."), version_),
                             {_("OK")}},
                            [](std::size_t) {});
    });
}

void UpdateController::promptForUpdate() {
    if (!availableUpdate_ || isUpdating_) return;
    const std::string offered = availableUpdate_->version;
    services_.bringToFront();
    services_.showAlert(
        {_("A new version of Norvo is available"),
         Glib::ustring::compose(_("Norvo %1 is ready \u2014 you have %2. It will update itself and relaunch."), offered,
                                version_),
         {_("Install"), _("Later")}},
        lifetime_.guard([this, offered](std::size_t answer) {
            if (answer == 0)
                installUpdate();
            else
                UserDefaults::setString(UserDefaults::kPromptedVersionKey, offered);
        }));
}

void UpdateController::installUpdate() {
    if (!availableUpdate_ || isUpdating_) return;
    setUpdating(true);
    const UpdateInfo update = *availableUpdate_;
    background_.run<std::exception_ptr>(
        [install = source_.install, update]() -> std::exception_ptr {
            try {
                install(update);
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        },
        lifetime_.guard([this](std::exception_ptr error) {
            if (!error) {
                // The swap script waits for this process to end.
                if (quit_) quit_();
                return;
            }
            setUpdating(false);
            alertInstallFailed(error);
        }));
}

void UpdateController::alertInstallFailed(std::exception_ptr error) {
    bool readOnly = false;
    std::string why = "unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const UpdateFailure& failure) {
        readOnly = failure.error() == UpdateError::readOnlyLocation;
        why = failure.what();
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
    }
    g_warning("update failed: %s", why.c_str());
    if (readOnly)
        services_.showAlert({_("Move Norvo to Applications"),
                             _("It's running from a read-only location (a disk image or Downloads). Move it to "
                               "Applications, reopen, then check again."),
                             {_("OK")}},
                            [](std::size_t) {});
    else
        services_.showAlert(
            {_("Update failed"),
             Glib::ustring::compose(_("Couldn't install the update. Try again later, or download it from %1."),
                                    AppInfo::websiteAddress()),
             {_("OK")}},
            [](std::size_t) {});
}

}  // namespace norvo
