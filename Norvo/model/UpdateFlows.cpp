// The model's update flows: the launch check, the manual check, the prompt and the install.
#include <thread>

#include <glib.h>
#include <glibmm/i18n.h>

#include "model/AppInfo.hpp"
#include "model/NorvoModel.hpp"
#include "model/UserDefaults.hpp"

namespace norvo {

namespace {

// Runs `then` on the main thread (the default main context).
void postToMain(std::function<void()> then) {
    auto task = std::make_unique<std::function<void()>>(std::move(then));
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        task.release(), [](gpointer data) { std::unique_ptr<std::function<void()>>(static_cast<std::function<void()>*>(data)); });
}

// Runs `work` on a worker thread and hands its result to `then` on the main thread.
template <typename Result>
void inBackground(std::function<Result()> work, std::function<void(Result)> then) {
    std::thread([work = std::move(work), then = std::move(then)]() mutable {
        auto result = std::make_shared<Result>(work());
        postToMain([then = std::move(then), result] { then(std::move(*result)); });
    }).detach();
}

}  // namespace

NorvoModel::UpdateSource NorvoModel::defaultUpdateSource() {
    UpdateSource source;
    source.manifestURL = AppInfo::manifestURL();
    source.makeSession = [] { return std::make_unique<CurlHttpSession>(AppInfo::updateCaFile()); };
    source.installSetup = [](HttpSession& session) { return SelfUpdater::Setup::forThisProcess(session); };
    return source;
}

void NorvoModel::start() {
    // What an earlier update left behind when its process ended without swapping.
    std::thread([] { SelfUpdater::removeLeftovers(g_get_tmp_dir()); }).detach();
    checkForUpdatesOnLaunch();
}

void NorvoModel::checkInBackground(std::function<void(NorvoModel&, std::optional<UpdateInfo>)> then) {
    std::weak_ptr<NorvoModel*> weak = alive_;
    auto session = std::shared_ptr<HttpSession>(updateSource_.makeSession());
    inBackground<std::optional<UpdateInfo>>(
        [session, url = updateSource_.manifestURL, current = version_] { return Updater::check(url, current, *session); },
        [weak, then = std::move(then)](std::optional<UpdateInfo> found) {
            if (auto alive = weak.lock()) then(**alive, std::move(found));
        });
}

void NorvoModel::checkForUpdatesOnLaunch() {
    if (didCheck_) return;
    didCheck_ = true;
    checkInBackground([](NorvoModel& model, std::optional<UpdateInfo> found) {
        model.setAvailableUpdate(found);
        if (!found) return;
        // "Later" for this very version means: only the menu item shows it.
        const auto declined = UserDefaults::string(UserDefaults::kPromptedVersionKey);
        if (!declined || *declined != found->version) model.promptForUpdate();
    });
}

void NorvoModel::checkForUpdatesManually() {
    if (isUpdating_ || isCheckingForUpdate_) return;
    setIsCheckingForUpdate(true);
    checkInBackground([](NorvoModel& model, std::optional<UpdateInfo> found) {
        model.setIsCheckingForUpdate(false);
        model.setAvailableUpdate(found);
        if (found) {
            model.promptForUpdate();
            return;
        }
        if (!model.services_) return;
        model.services_->bringToFront();
        model.services_->showAlert(
            {_("You're up to date"), "Norvo " + model.version_ + _(" is the latest version."), {_("OK")}},
            [](std::size_t) {});
    });
}

void NorvoModel::promptForUpdate() {
    if (!availableUpdate_ || isUpdating_ || !services_) return;
    const std::string offered = availableUpdate_->version;
    std::weak_ptr<NorvoModel*> weak = alive_;
    services_->bringToFront();
    services_->showAlert({_("A new version of Norvo is available"),
                          "Norvo " + offered + _(" is ready \u2014 you have ") + version_ +
                              _(". It will update itself and relaunch."),
                          {_("Install"), _("Later")}},
                         [weak, offered](std::size_t answer) {
                             auto alive = weak.lock();
                             if (!alive) return;
                             if (answer == 0)
                                 (*alive)->installUpdate();
                             else
                                 UserDefaults::setString(UserDefaults::kPromptedVersionKey, offered);
                         });
}

void NorvoModel::installUpdate() {
    if (!availableUpdate_ || isUpdating_) return;
    setIsUpdating(true);
    const UpdateInfo update = *availableUpdate_;
    std::weak_ptr<NorvoModel*> weak = alive_;
    auto session = std::shared_ptr<HttpSession>(updateSource_.makeSession());
    const SelfUpdater::Setup setup = updateSource_.installSetup(*session);
    inBackground<std::exception_ptr>(
        [session, setup, update]() -> std::exception_ptr {
            try {
                SelfUpdater::install(update, setup);
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        },
        [weak](std::exception_ptr error) {
            auto alive = weak.lock();
            if (!alive) return;
            NorvoModel& model = **alive;
            if (!error) {
                // The swap script waits for this process to end.
                if (model.quit_) model.quit_();
                return;
            }
            model.setIsUpdating(false);
            model.alertInstallFailed(error);
        });
}

void NorvoModel::alertInstallFailed(std::exception_ptr error) {
    bool readOnly = false;
    try {
        std::rethrow_exception(error);
    } catch (const UpdateFailure& failure) {
        readOnly = failure.error() == UpdateError::readOnlyLocation;
    } catch (...) {
    }
    if (!services_) return;
    if (readOnly)
        services_->showAlert({_("Move Norvo to Applications"),
                              _("It's running from a read-only location (a disk image or Downloads). Move it to "
                                "Applications, reopen, then check again."),
                              {_("OK")}},
                             [](std::size_t) {});
    else
        services_->showAlert({_("Update failed"),
                              _("Couldn't install the update. Try again later, or download it from ") +
                                  AppInfo::websiteAddress() + ".",
                              {_("OK")}},
                             [](std::size_t) {});
}

}  // namespace norvo
