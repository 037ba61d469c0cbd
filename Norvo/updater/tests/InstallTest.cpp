#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestHttpsServer.hpp"
#include "UpdaterTestSupport.hpp"
#include "updater/SelfUpdater.hpp"

using namespace norvo;
namespace fs = std::filesystem;
using norvo::testing::TempFolder;

namespace {

// A web folder of update archives, good and bad, served over HTTPS with a test CA.
class Install : public ::testing::Test {
protected:
    // The server starts at once; each archive is made the first time a test asks for it, so
    // that a test pays only for the archives it uses.
    static void SetUpTestSuite() {
        tmp_ = std::make_unique<TempFolder>();
        fs::create_directories(tmp_->path() / "www");
        server_ = std::make_unique<norvo::testing::TestHttpsServer>(tmp_->path() / "www");
    }
    static void make(const std::string& name) {
        const fs::path www = tmp_->path() / "www", work = tmp_->path() / "work", zip = www / (name + ".zip");
        if (name == "missing" || fs::exists(zip)) return;
        fs::create_directories(work);
        auto released = [&](const std::string& version, const std::string& key = NORVO_TEST_KEYS "/test-minisign.key") {
            const fs::path src = work / ("src-" + name);
            norvo::testing::makeApp(src, version, tmp_->path() / "launched");
            norvo::testing::release(src / "Norvo.app", version, work / ("out-" + name), key);
            fs::copy_file(work / ("out-" + name) / ("Norvo-" + version + ".zip"), zip);
        };
        if (name == "good") return released("2.0");
        if (name == "old-release") return released("1.5");
        if (name == "other-key") {  // signed by someone else
            norvo::testing::run({"minisign", "-G", "-W", "-p", (work / "o.pub").string(), "-s", (work / "o.key").string()});
            return released("2.0", (work / "o.key").string());
        }
        if (name == "not-a-zip") return norvo::testing::writeFile(zip, "<html>not found</html>");
        // Tampered copies of the good release, all packed at once.
        make("good");
        norvo::testing::unzip(www / "good.zip", work / "good");
        const std::map<std::string, std::function<void(const fs::path&)>> tampered = {
            {"byte", [](const fs::path& app) { norvo::testing::writeFile(app / "norvo", "#!/bin/sh\nevil\n"); }},
            {"nested", [](const fs::path& app) {
                 fs::create_directories(app.parent_path() / "folder");
                 fs::rename(app, app.parent_path() / "folder" / "Norvo.app");
             }},
            {"no-app", [](const fs::path& app) { fs::rename(app, app.parent_path() / "Norvo"); }},
            {"with-metadata", [](const fs::path& app) {
                 fs::create_directories(app.parent_path() / "__MACOSX");
                 norvo::testing::writeFile(app.parent_path() / "__MACOSX" / "x", "y");
             }},
        };
        std::vector<std::string> pack{"python3", NORVO_TEST_ZIP_TOOL, "pack"};
        for (const auto& [kind, change] : tampered) {
            const fs::path dir = work / ("t-" + kind);
            fs::copy(work / "good", dir, fs::copy_options::recursive);
            change(dir / "Norvo.app");
            pack.insert(pack.end(), {dir.string(), (www / (kind + ".zip")).string()});
        }
        norvo::testing::run(pack);
    }
    static void TearDownTestSuite() {
        server_.reset();
        tmp_.reset();
    }

    void SetUp() override {
        installed_ = norvo::testing::makeApp(place_.path() / "Applications", "1.0", place_.path() / "launched");
        before_ = norvo::testing::snapshotTree(installed_);
    }
    SelfUpdater::Setup setup(HttpSession& session) {
        SelfUpdater::Setup s;
        s.destination = installed_;
        s.temporaryFolder = place_.path();
        s.publicKey = norvo::testing::testPublicKey();
        s.session = &session;
        s.pid = standIn_.pid();  // the "running app": a started swap waits for it
        return s;
    }
    // The update's working folder, made with a random name: whichever is there.
    fs::path workFolder() const {
        for (const auto& e : fs::directory_iterator(place_.path()))
            if (e.path().filename().string().rfind("update-", 0) == 0) return e.path();
        return {};
    }
    bool noWorkLeft() const { return workFolder().empty(); }
    std::optional<UpdateError> attempt(const std::string& archive, const std::string& offered = "2.0") {
        make(archive.substr(0, archive.size() - 4));
        CurlHttpSession session(server_->caFile());
        try {
            SelfUpdater::install(UpdateInfo{offered, server_->url("/" + archive), ""}, setup(session));
        } catch (const UpdateFailure& f) {
            return f.error();
        }
        return std::nullopt;
    }

    TempFolder place_;
    norvo::testing::StandIn standIn_;
    fs::path installed_;
    std::map<std::string, std::string> before_;
    static inline std::unique_ptr<TempFolder> tmp_;
    static inline std::unique_ptr<norvo::testing::TestHttpsServer> server_;
};

}  // namespace

TEST_F(Install, EveryFailureLeavesTheInstalledAppAsItWas) {
    // Each way a bundle's seal breaks, and each archive that could escape its folder, is the
    // seal's and the extractor's own test; here, that the install checks them.
    const std::pair<const char*, UpdateError> cases[] = {
        {"missing.zip", UpdateError::download},      {"not-a-zip.zip", UpdateError::unpack},
        {"no-app.zip", UpdateError::notFound},       {"nested.zip", UpdateError::notFound},
        {"byte.zip", UpdateError::badSignature},     {"other-key.zip", UpdateError::badSignature},
        {"old-release.zip", UpdateError::badSignature},  // a signed 1.5 offered as 2.0
    };
    for (const auto& [archive, expected] : cases) {
        EXPECT_EQ(attempt(archive), expected) << archive;
        EXPECT_EQ(norvo::testing::snapshotTree(installed_), before_) << archive;
        EXPECT_TRUE(noWorkLeft()) << archive << ": the working folder stays behind";
    }
}

TEST_F(Install, LocationsThatCannotBeReplaced) {
    const fs::path loose = place_.path() / "build" / "Norvo";
    fs::create_directories(loose);
    CurlHttpSession session(server_->caFile());
    SelfUpdater::Setup s = setup(session);
    for (const fs::path& where : {loose, place_.path() / "AppTranslocation" / "x" / "Norvo.app",
                                  fs::path("/var/folders/AppTranslocation/Norvo.app")}) {
        s.destination = where;
        try {
            SelfUpdater::install(UpdateInfo{"2.0", server_->url("/good.zip"), ""}, s);
            ADD_FAILURE() << where;
        } catch (const UpdateFailure& f) {
            EXPECT_EQ(f.error(), UpdateError::readOnlyLocation) << where;
        }
    }
    EXPECT_TRUE(noWorkLeft());  // refused before touching anything
}

TEST_F(Install, AcceptedArchivesStartTheSwap) {
    EXPECT_EQ(attempt("with-metadata.zip"), std::nullopt);  // a folder beside the app is fine
    const auto work = workFolder();
    ASSERT_FALSE(work.empty());
    struct stat st {};
    ASSERT_EQ(lstat(work.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);  // nobody else can read or change what is verified there
    const auto scriptPath = work / "swap.sh";
    ASSERT_TRUE(fs::exists(scriptPath));
    EXPECT_EQ(norvo::testing::readText(scriptPath), SelfUpdater::swapScript(standIn_.pid()));
    EXPECT_EQ(norvo::testing::snapshotTree(installed_), before_);  // the app still runs: nothing swapped
    // The swap happens once the app has ended; the installed app is then the new one.
    standIn_.quit();
    ASSERT_TRUE(norvo::testing::waitFor([&] {
        return norvo::testing::readText(installed_ / "Norvo_Norvo.bundle" / "carder" / "host.html") == "<p>2.0</p>";
    }));
    EXPECT_EQ(SelfUpdater::verifySignature(installed_, norvo::testing::testPublicKey()), "2.0");
    // Once swapped, nothing of the update is left in the temporary folder.
    EXPECT_TRUE(norvo::testing::waitFor([&] { return noWorkLeft(); }));
}

TEST_F(Install, StalledDownloadIsAbandoned) {
    CurlHttpSession session(server_->caFile());
    SelfUpdater::Setup s = setup(session);
    s.pace = {1024, std::chrono::seconds(1)};  // the server sends a byte now and then
    EXPECT_THROW(SelfUpdater::install(UpdateInfo{"2.0", server_->url("/_test/trickle"), ""}, s), NetworkError);
    EXPECT_TRUE(noWorkLeft());
}

TEST_F(Install, LeftoversOfEndedProcessesAreRemovedAtLaunch) {
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    waitpid(ended, nullptr, 0);
    const fs::path dead = place_.path() / ("update-" + std::to_string(ended) + "-Ab12Cd");
    fs::create_directories(dead / "unpacked" / "Norvo.app");
    norvo::testing::writeFile(dead / "swap.sh", "#!/bin/sh\n");
    const fs::path live = place_.path() / ("update-" + std::to_string(standIn_.pid()) + "-Xy34Zw");
    fs::create_directories(live);  // the stand-in still runs: its folder stays
    fs::create_directories(place_.path() / "update-notes");
    SelfUpdater::removeLeftovers(place_.path());
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(place_.path() / "update-notes"));
}
