#include <gtest/gtest.h>

#include <glibmm/miscutils.h>

#include "FakeDesktopServices.hpp"
#include "TestHttpsServer.hpp"
#include "UpdaterTestSupport.hpp"
#include "model/AppInfo.hpp"
#include "model/UpdateController.hpp"
#include "model/UserDefaults.hpp"

using namespace norvo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using norvo::testing::FakeDesktopServices;
using norvo::testing::TempFolder;

namespace {

class Flows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        web_ = std::make_unique<TempFolder>();
        const fs::path work = web_->path() / "work";
        norvo::testing::makeApp(work, "2.0", web_->path() / "launched");
        norvo::testing::release(work / "Norvo.app", "2.0", web_->path() / "www");
        server_ = std::make_unique<norvo::testing::TestHttpsServer>(web_->path() / "www");
    }
    static void TearDownTestSuite() {
        server_.reset();
        web_.reset();
    }
    void SetUp() override {
        std::error_code ec;
        fs::remove(fs::path(Glib::get_user_config_dir()) / "norvo" / "defaults.ini", ec);
        marker_ = web_->path() / "launched";  // where both the old and the new app report
        fs::remove(marker_, ec);
        installed_ = norvo::testing::makeApp(place_.path() / "Apps", "1.0", marker_);
    }

    // Publishes a manifest under a name of its own and returns its address.
    std::string manifest(const std::string& version, const std::string& archive = "Norvo-2.0.zip") {
        const std::string name = "latest-" + version + "-" + archive + ".json";
        norvo::testing::writeFile(web_->path() / "www" / name, R"({"version":")" + version + R"(","url":")" +
                                                                   server_->url("/" + archive) + R"("})");
        return server_->url("/" + name);
    }

    UpdateController::Source source(const std::string& manifestURL, fs::path destination) {
        const std::string ca = server_->caFile(), key = norvo::testing::testPublicKey();
        if (destination.empty()) destination = installed_;
        const fs::path temp = place_.path();
        const pid_t pid = standIn_.pid();
        return {manifestURL, [ca] { return std::make_unique<CurlHttpSession>(ca); },
                [=](HttpSession& s) {
                    SelfUpdater::Setup setup;
                    setup.destination = destination;
                    setup.temporaryFolder = temp;
                    setup.publicKey = key;
                    setup.session = &s;
                    setup.pid = pid;
                    return setup;
                },
                temp};
    }

    // One launch of the app: an update controller with its own desktop double.
    struct Launch {
        FakeDesktopServices services;
        int quits = 0;
        UpdateController model;
        Launch(Flows& f, const std::string& manifestURL, const std::string& version, fs::path destination = {})
            : services(f.place_.path()),
              model(f.source(manifestURL, std::move(destination)), services, version, [this, &f] {
                  ++quits;
                  f.standIn_.quit();
              }) {}
        bool waitForAlert(std::size_t count) {
            return norvo::testing::runUntil([&] { return services.alerts.size() >= count; }, 20s);
        }
    };

    TempFolder place_;
    norvo::testing::StandIn standIn_;
    fs::path installed_, marker_;
    static std::unique_ptr<TempFolder> web_;
    static std::unique_ptr<norvo::testing::TestHttpsServer> server_;
};
std::unique_ptr<TempFolder> Flows::web_;
std::unique_ptr<norvo::testing::TestHttpsServer> Flows::server_;

}  // namespace

TEST_F(Flows, LaterIsRememberedForThatVersionOnly) {
    {
        Launch first(*this, manifest("1.3"), "1.2");
        first.model.start();
        first.model.start();  // one launch check only
        ASSERT_TRUE(first.waitForAlert(1));
        const auto& alert = first.services.alerts[0];
        EXPECT_EQ(alert.message, "A new version of Norvo is available");
        EXPECT_EQ(alert.informative, "Norvo 1.3 is ready \u2014 you have 1.2. It will update itself and relaunch.");
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Install", "Later"}));
        first.services.answerAlert(1);
        EXPECT_EQ(UserDefaults::string(UserDefaults::kPromptedVersionKey), "1.3");
        norvo::testing::runFor(300ms);
        EXPECT_EQ(first.services.alerts.size(), 1u);
    }
    {
        Launch again(*this, manifest("1.3"), "1.2");
        again.model.start();
        ASSERT_TRUE(norvo::testing::runUntil([&] { return again.model.availableUpdate().has_value(); }, 20s));
        EXPECT_EQ(again.model.availableUpdate()->version, "1.3");  // the menu offers it
        norvo::testing::runFor(300ms);
        EXPECT_TRUE(again.services.alerts.empty());
        again.model.checkForUpdatesManually();  // asking always offers it
        ASSERT_TRUE(again.waitForAlert(1));
        EXPECT_EQ(again.services.alerts[0].message, "A new version of Norvo is available");
    }
    {
        Launch newer(*this, manifest("1.4"), "1.2");
        newer.model.start();
        ASSERT_TRUE(newer.waitForAlert(1));
        EXPECT_NE(newer.services.alerts[0].informative.find("Norvo 1.4 is ready"), std::string::npos);
    }
}

TEST_F(Flows, ManualCheckGuardsAndUpToDate) {
    Launch app(*this, server_->url("/no-such-manifest.json"), "1.2");
    app.model.checkForUpdatesManually();
    EXPECT_TRUE(app.model.isCheckingForUpdate());
    app.model.checkForUpdatesManually();  // refused while one runs
    ASSERT_TRUE(app.waitForAlert(1));
    norvo::testing::runFor(500ms);
    ASSERT_EQ(app.services.alerts.size(), 1u);
    EXPECT_FALSE(app.model.isCheckingForUpdate());
    EXPECT_EQ(app.services.alerts[0].message, "You're up to date");
    EXPECT_EQ(app.services.alerts[0].informative, "Norvo 1.2 is the latest version.");
}

TEST_F(Flows, InstallEndToEnd) {
    Launch app(*this, manifest("2.0"), "1.0");
    app.model.start();
    ASSERT_TRUE(app.waitForAlert(1));
    app.services.answerAlert(0);  // "Install"
    EXPECT_TRUE(app.model.isUpdating());
    app.model.installUpdate();  // refused: one install at a time
    app.model.checkForUpdatesManually();
    EXPECT_FALSE(app.model.isCheckingForUpdate());
    ASSERT_TRUE(norvo::testing::runUntil([&] { return app.quits == 1; }, 30s));
    EXPECT_FALSE(UserDefaults::string(UserDefaults::kPromptedVersionKey).has_value());

    // The swap script saw the app end, swapped, and started the new version.
    ASSERT_TRUE(norvo::testing::waitFor([&] {
        const auto b = norvo::testing::readFile(marker_);
        return std::string(b.begin(), b.end()) == "2.0\n";
    }));
    EXPECT_EQ(SelfUpdater::verifySignature(installed_, norvo::testing::testPublicKey()), "2.0");
    EXPECT_FALSE(fs::exists(installed_.string() + ".bak"));
}

TEST_F(Flows, FailedInstallsSayWhy) {
    {
        Launch app(*this, manifest("2.0", "missing.zip"), "1.0");
        app.model.checkForUpdatesManually();
        ASSERT_TRUE(app.waitForAlert(1));
        const auto before = norvo::testing::snapshotTree(installed_);
        app.services.answerAlert(0);
        ASSERT_TRUE(app.waitForAlert(2));
        EXPECT_EQ(app.services.alerts[1].message, "Update failed");
        EXPECT_EQ(app.services.alerts[1].informative,
                  "Couldn't install the update. Try again later, or download it from " + AppInfo::websiteAddress() +
                      ".");
        EXPECT_FALSE(app.model.isUpdating());
        EXPECT_TRUE(app.model.availableUpdate().has_value());  // the menu can start it again
        EXPECT_EQ(app.quits, 0);
        EXPECT_EQ(norvo::testing::snapshotTree(installed_), before);
    }
    {
        Launch app(*this, manifest("2.0"), "1.0", place_.path() / "build" / "Norvo");
        app.model.checkForUpdatesManually();
        ASSERT_TRUE(app.waitForAlert(1));
        app.services.answerAlert(0);
        ASSERT_TRUE(app.waitForAlert(2));
        EXPECT_EQ(app.services.alerts[1].message, "Move Norvo to Applications");
        EXPECT_EQ(app.services.alerts[1].informative,
                  "It's running from a read-only location (a disk image or Downloads). Move it to Applications, "
                  "reopen, then check again.");
    }
}
