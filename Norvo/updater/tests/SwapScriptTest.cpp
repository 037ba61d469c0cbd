#include <gtest/gtest.h>

#include <thread>

#include "UpdaterTestSupport.hpp"
#include "updater/SelfUpdater.hpp"

using namespace norvo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using norvo::testing::TempFolder;

namespace {

struct Scene {
    TempFolder tmp;
    fs::path installed, fresh, marker;
    Scene() {
        marker = tmp.path() / "launched";
        installed = norvo::testing::makeApp(tmp.path() / "My Apps", "1.0", marker);  // a path with a space
        fresh = norvo::testing::makeApp(tmp.path() / "unpacked", "2.0", marker);
        fs::rename(fresh, tmp.path() / "unpacked" / "Other Name.app");  // its own name does not matter
        fresh = tmp.path() / "unpacked" / "Other Name.app";
    }
    void start(pid_t pid, const std::vector<std::string>& env = {}) {
        const auto script = tmp.path() / "swap.sh";
        norvo::testing::writeFile(script, SelfUpdater::swapScript(pid));
        std::thread([script, app = fresh, dest = installed, env] {
            norvo::testing::runProcess({"/bin/sh", script.string(), app.string(), dest.string()}, env);
        }).detach();
    }
};

}  // namespace

TEST(SwapScript, WaitsForTheAppThenSwapsAndRelaunches) {
    Scene s;
    norvo::testing::writeFile(s.installed.string() + ".bak", "left over from an earlier failure");
    norvo::testing::StandIn app;
    s.start(app.pid());
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(norvo::testing::readText(s.installed / "Norvo_Norvo.bundle" / "carder" / "host.html"), "<p>1.0</p>");  // untouched
    EXPECT_FALSE(fs::exists(s.marker));

    app.quit();
    ASSERT_TRUE(norvo::testing::waitFor([&] { return norvo::testing::readText(s.marker) == "2.0\n"; }));
    EXPECT_EQ(norvo::testing::readText(s.installed / "Norvo_Norvo.bundle" / "carder" / "host.html"), "<p>2.0</p>");
    EXPECT_FALSE(fs::exists(s.installed.string() + ".bak"));
    EXPECT_FALSE(fs::exists(s.installed.string() + ".new"));
}

TEST(SwapScript, FailedCopyKeepsTheOldAppAndRelaunchesIt) {
    Scene s;
    const auto before = norvo::testing::snapshotTree(s.installed);
    // A cp that dies half-way through, leaving a partial copy behind.
    const auto fakeBin = s.tmp.path() / "bin";
    fs::create_directories(fakeBin);
    norvo::testing::writeFile(fakeBin / "cp", "#!/bin/sh\nmkdir -p \"$3\" && echo partial > \"$3/norvo\"\nexit 1\n");
    fs::permissions(fakeBin / "cp", fs::perms(0755));
    norvo::testing::StandIn app;
    s.start(app.pid(), {"PATH=" + fakeBin.string() + ":" + std::getenv("PATH")});
    app.quit();
    ASSERT_TRUE(norvo::testing::waitFor([&] { return norvo::testing::readText(s.marker) == "1.0\n"; }));
    EXPECT_EQ(norvo::testing::snapshotTree(s.installed), before);
    EXPECT_FALSE(fs::exists(s.installed.string() + ".new"));
    EXPECT_FALSE(fs::exists(s.installed.string() + ".bak"));
}
