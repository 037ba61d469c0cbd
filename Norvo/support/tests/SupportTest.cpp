// Threads and files: the main-thread queue, the owner of background work, atomic writes, the
// private folder.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include "TestSupport.hpp"
#include "support/AtomicFile.hpp"
#include "support/MainThread.hpp"
#include "support/PrivateFolder.hpp"

using namespace norvo;
using namespace std::chrono_literals;
using norvo::testing::runUntil;

namespace {

// The process umask as the kernel reports it, read without changing it.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0) return mode_t(std::stoul(line.substr(6), nullptr, 8));
    return mode_t(-1);
}

}  // namespace

TEST(MainThread, PostAlwaysQueuesToTheMainLoop) {
    // From the main thread: not inline, only once the loop runs.
    bool ran = false;
    MainThread::post([&] { ran = true; });
    EXPECT_FALSE(ran);
    ASSERT_TRUE(runUntil([&] { return ran; }));

    // From a worker while no one holds the main context: still on the main thread, later.
    const auto mainThread = std::this_thread::get_id();
    std::atomic<bool> posted{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        MainThread::post([&] { ranOn = std::this_thread::get_id(); });
        posted = true;
    });
    worker.join();
    EXPECT_TRUE(posted);
    EXPECT_EQ(ranOn, std::thread::id());
    ASSERT_TRUE(runUntil([&] { return ranOn != std::thread::id(); }));
    EXPECT_EQ(ranOn, mainThread);
}

TEST(BackgroundTasks, ResultsComeBackOnTheMainThreadAndTheOwnerJoinsItsWorkers) {
    const auto mainThread = std::this_thread::get_id();
    std::thread::id workedOn, deliveredOn;
    int delivered = 0;
    {
        BackgroundTasks tasks;
        tasks.run<int>([&] { workedOn = std::this_thread::get_id(); return 7; },
                       [&](int v) { delivered = v; deliveredOn = std::this_thread::get_id(); });
        ASSERT_TRUE(runUntil([&] { return delivered == 7; }));
        EXPECT_NE(workedOn, mainThread);
        EXPECT_EQ(deliveredOn, mainThread);
        EXPECT_EQ(tasks.running(), 0u);
    }

    // The owner goes while its worker runs: it waits for the worker, and the result that
    // arrives afterwards is dropped.
    std::atomic<bool> release{false}, finished{false};
    int late = 0;
    std::thread releaser;
    {
        BackgroundTasks tasks;
        tasks.run<int>([&] {
            while (!release) std::this_thread::yield();
            finished = true;
            return 1;
        }, [&](int) { ++late; });
        releaser = std::thread([&] { std::this_thread::sleep_for(50ms); release = true; });
    }
    EXPECT_TRUE(finished);  // joined, not left running
    releaser.join();
    bool drained = false;
    MainThread::post([&] { drained = true; });
    ASSERT_TRUE(runUntil([&] { return drained; }));
    EXPECT_EQ(late, 0);
}

TEST(AtomicFile, WritesFromManyThreadsGetTheUsualModeAndLeaveTheUmaskAlone) {
    norvo::testing::TempFolder tmp;
    const mode_t before = umask(022);
    ASSERT_EQ(currentUmask(), 022u);
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i)
                if (writeFileAtomically(tmp.path() / ("f" + std::to_string(t) + "-" + std::to_string(i)), "card"))
                    ++failures;
        });
    for (auto& w : writers) w.join();
    EXPECT_EQ(currentUmask(), 022u);
    umask(before);
    EXPECT_EQ(failures, 0);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
        struct stat st {};
        ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u) << e.path();
        EXPECT_EQ(e.path().filename().string().rfind(".norvo-", 0), std::string::npos) << e.path();
        ++files;
    }
    EXPECT_EQ(files, 200);

    // A folder that cannot be written: the reason comes back and nothing is left.
    EXPECT_TRUE(writeFileAtomically(tmp.path() / "missing" / "f", "x"));
}

TEST(PrivateFolder, NobodyElsePreparesOrReadsIt) {
    // Another user got there first: "norvo" in the runtime folder is a link to their folder.
    norvo::testing::TempFolder runtime, theirs;
    std::filesystem::create_directory_symlink(theirs.path(), runtime.path() / "norvo");
    g_setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), TRUE);
    const std::filesystem::path root = PrivateFolder::root();
    ASSERT_FALSE(root.empty());
    EXPECT_NE(root, runtime.path() / "norvo");
    struct stat st {};
    ASSERT_EQ(lstat(root.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::error_code error;
    const auto share = PrivateFolder::make("share", error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(share.parent_path(), root);
    EXPECT_EQ(share.filename().string().rfind("share-" + std::to_string(getpid()) + "-", 0), 0u);
    ASSERT_EQ(lstat(share.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_NE(PrivateFolder::make("share", error), share);  // a new one every time

    // Leftovers: a folder of a process that ended goes; this process's stay until asked.
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    waitpid(ended, nullptr, 0);
    const auto dead = root / ("share-" + std::to_string(ended) + "-Ab12Cd");
    std::filesystem::create_directories(dead / "inside");
    const auto notOurs = root / "share-notes";
    std::filesystem::create_directories(notOurs);
    PrivateFolder::removeLeftovers("share");
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_TRUE(std::filesystem::exists(share));
    EXPECT_TRUE(std::filesystem::exists(notOurs));
    PrivateFolder::removeLeftovers("share", true);
    EXPECT_FALSE(std::filesystem::exists(share));
    EXPECT_TRUE(std::filesystem::exists(theirs.path()));
}
