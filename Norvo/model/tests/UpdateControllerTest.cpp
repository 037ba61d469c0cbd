// The update flows with the check and the install stood in for (the real install is the updater's tests').
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <tuple>

#include <glibmm/miscutils.h>

#include "FakeDesktopServices.hpp"
#include "TestSupport.hpp"
#include "model/AppInfo.hpp"
#include "model/UpdateController.hpp"
#include "model/UserDefaults.hpp"
#include "norvo/Updater.hpp"

using namespace norvo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using norvo::testing::FakeDesktopServices;

namespace {

class Flows : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        fs::remove(fs::path(Glib::get_user_config_dir()) / "norvo" / "defaults.ini", ec);
    }

    // What the stand-ins do and what they were asked (workers call them).
    struct Server {
        std::optional<UpdateInfo> offered;
        std::exception_ptr installFails;
        std::atomic<int> checks{0}, installs{0}, cleanups{0};
        std::mutex mutex;
        std::optional<UpdateInfo> installed;
    };

    // One launch of the app: an update controller with its own desktop double.
    struct Launch {
        FakeDesktopServices services;
        int quits = 0;
        UpdateController model;
        Launch(Server& server, const std::string& version)
            : services(fs::temp_directory_path()),
              model(source(server), services, version, [this] { ++quits; }) {}
        static UpdateController::Source source(Server& server) {
            UpdateController::Source s;
            s.check = [&server](const std::string&) {
                ++server.checks;
                return server.offered;
            };
            s.install = [&server](const UpdateInfo& update) {
                ++server.installs;
                if (server.installFails) std::rethrow_exception(server.installFails);
                std::lock_guard lock(server.mutex);
                server.installed = update;
            };
            s.removeLeftovers = [&server] { ++server.cleanups; };
            return s;
        }
        bool waitForAlert(std::size_t count) {
            return norvo::testing::runUntil([&] { return services.alerts.size() >= count; }, 20s);
        }
    };

    static UpdateInfo release(const std::string& version) {
        return UpdateInfo{version, "https://updates.example/Norvo-" + version + ".zip", ""};
    }
};

}  // namespace

TEST_F(Flows, LaterIsRememberedForThatVersionOnly) {
    Server server;
    server.offered = release("1.3");
    {
        Launch first(server, "1.2");
        first.model.start();
        first.model.start();  // one launch check only
        ASSERT_TRUE(first.waitForAlert(1));
        EXPECT_EQ(server.checks, 1);
        EXPECT_TRUE(norvo::testing::runUntil([&] { return server.cleanups == 1; }));
        const auto& alert = first.services.alerts[0];
        EXPECT_EQ(alert.message, "A new version of Norvo is available");
        EXPECT_EQ(alert.informative, "Norvo 1.3 is ready \u2014 you have 1.2. It will update itself and relaunch.");
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Install", "Later"}));
        first.services.answerAlert(1);
        EXPECT_EQ(UserDefaults::string(UserDefaults::kPromptedVersionKey), "1.3");
    }
    {
        Launch again(server, "1.2");
        again.model.start();
        // The prompt would come with the answer that sets the update: it is quiet now.
        ASSERT_TRUE(norvo::testing::runUntil([&] { return again.model.availableUpdate().has_value(); }, 20s));
        EXPECT_EQ(again.model.availableUpdate()->version, "1.3");  // the menu offers it
        EXPECT_TRUE(again.services.alerts.empty());
        again.model.checkForUpdatesManually();  // asking always offers it
        ASSERT_TRUE(again.waitForAlert(1));
        EXPECT_EQ(again.services.alerts[0].message, "A new version of Norvo is available");
    }
    server.offered = release("1.4");
    {
        Launch newer(server, "1.2");
        newer.model.start();
        ASSERT_TRUE(newer.waitForAlert(1));
        EXPECT_NE(newer.services.alerts[0].informative.find("Norvo 1.4 is ready"), std::string::npos);
    }
}

TEST_F(Flows, ManualCheckGuardsAndUpToDate) {
    Server server;
    Launch app(server, "1.2");
    app.model.checkForUpdatesManually();
    EXPECT_TRUE(app.model.isCheckingForUpdate());
    app.model.checkForUpdatesManually();  // refused while one runs
    ASSERT_TRUE(app.waitForAlert(1));
    EXPECT_EQ(server.checks, 1);
    EXPECT_FALSE(app.model.isCheckingForUpdate());
    EXPECT_EQ(app.services.alerts[0].message, "You're up to date");
    EXPECT_EQ(app.services.alerts[0].informative, "Norvo 1.2 is the latest version.");
}

TEST_F(Flows, InstallThenQuitForTheSwap) {
    Server server;
    server.offered = release("2.0");
    Launch app(server, "1.0");
    app.model.start();
    ASSERT_TRUE(app.waitForAlert(1));
    app.services.answerAlert(0);  // "Install"
    EXPECT_TRUE(app.model.isUpdating());
    app.model.installUpdate();  // refused: one install at a time
    app.model.checkForUpdatesManually();
    EXPECT_FALSE(app.model.isCheckingForUpdate());
    ASSERT_TRUE(norvo::testing::runUntil([&] { return app.quits == 1; }, 20s));
    EXPECT_EQ(server.installs, 1);
    EXPECT_EQ(server.installed, release("2.0"));
    EXPECT_FALSE(UserDefaults::string(UserDefaults::kPromptedVersionKey).has_value());
}

TEST_F(Flows, FailedInstallsSayWhy) {
    Server server;
    server.offered = release("2.0");
    const std::tuple<UpdateError, std::string, std::string> failures[] = {
        {UpdateError::download, "Update failed",
         "Couldn't install the update. Try again later, or download it from " + AppInfo::websiteAddress() + "."},
        {UpdateError::readOnlyLocation, "Move Norvo to Applications",
         "It's running from a read-only location (a disk image or Downloads). Move it to Applications, "
         "reopen, then check again."}};
    for (const auto& [error, message, informative] : failures) {
        server.installFails = std::make_exception_ptr(UpdateFailure(error));
        Launch app(server, "1.0");
        app.model.checkForUpdatesManually();
        ASSERT_TRUE(app.waitForAlert(1));
        app.services.answerAlert(0);
        ASSERT_TRUE(app.waitForAlert(2));
        EXPECT_EQ(app.services.alerts[1].message, message);
        EXPECT_EQ(app.services.alerts[1].informative, informative);
        EXPECT_FALSE(app.model.isUpdating());
        EXPECT_TRUE(app.model.availableUpdate().has_value());  // the menu can start it again
        EXPECT_EQ(app.quits, 0);
    }
}
