#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/Drafts.hpp"

using namespace norvo;
using norvo::testing::FakeRenderer;

namespace {

// One launch of the app as far as the draft goes: a document and its drafts.
struct Session {
    explicit Session(const std::filesystem::path& file) : drafts(document, file) {}
    FakeRenderer renderer;
    CardDocument document{renderer};
    Drafts drafts;
};

std::string contents(const std::filesystem::path& file) { return norvo::testing::readText(file); }

}  // namespace

TEST(Drafts, WhatWasTypedComesBackAfterACrashOrAnUpdateAndAfterAQuitOnlyWhenAskedFor) {
    norvo::testing::TempFolder temp;
    const auto file = temp.path() / "state" / "norvo" / "draft.json";
    {
        Session first(file);
        EXPECT_FALSE(first.drafts.restore());  // nothing kept yet: a fresh note
        first.document.setMarkdown("# Half-written\n\nCaf\u00e9 at \xF0\x9F\x9A\x80");
        // Kept within a second or so while typing, then the process dies without a word.
        ASSERT_TRUE(norvo::testing::runUntil(
            [&] { return contents(file).find("Half-written") != std::string::npos; }, std::chrono::seconds(5)));
    }
    {
        Session afterCrash(file);
        EXPECT_TRUE(afterCrash.drafts.restore());
        EXPECT_EQ(afterCrash.document.markdown(), "# Half-written\n\nCaf\u00e9 at \xF0\x9F\x9A\x80");
        EXPECT_EQ(afterCrash.document.status(), "Your note is back as it was when Norvo stopped");
        afterCrash.document.setMarkdown("# Before the update");
        afterCrash.drafts.end(Drafts::Ending::Update);  // written at once, no wait
    }
    {
        Session afterUpdate(file);
        EXPECT_TRUE(afterUpdate.drafts.restore());
        EXPECT_EQ(afterUpdate.document.markdown(), "# Before the update");
        EXPECT_EQ(afterUpdate.document.status(), "Your note is back as it was before the update");
        afterUpdate.drafts.end(Drafts::Ending::Quit);
    }
    {
        Session afterQuit(file);  // "Reopen the last note" is off: a fresh note
        EXPECT_FALSE(afterQuit.drafts.restore());
        EXPECT_EQ(afterQuit.document.markdown(), CardDocument::kSampleMarkdown);
        afterQuit.drafts.end(Drafts::Ending::Quit);  // the fresh note replaces the kept one
    }
    Drafts::setReopenLastNote(true);
    {
        Session reopened(file);
        EXPECT_TRUE(reopened.drafts.restore());
        EXPECT_EQ(reopened.document.markdown(), CardDocument::kSampleMarkdown);
        EXPECT_EQ(reopened.document.status(), "");  // nothing to explain
        reopened.document.setMarkdown("# Kept on purpose");
        reopened.drafts.end(Drafts::Ending::Quit);
    }
    {
        Session again(file);
        EXPECT_TRUE(again.drafts.restore());
        EXPECT_EQ(again.document.markdown(), "# Kept on purpose");
    }
    Drafts::setReopenLastNote(false);

    // A damaged draft is no draft, and it is set aside, not overwritten.
    norvo::testing::writeFile(file, "{\"session\": \"running\", \"markdown\": 7}");
    Session damaged(file);
    EXPECT_FALSE(damaged.drafts.restore());
    EXPECT_EQ(damaged.document.markdown(), CardDocument::kSampleMarkdown);
    EXPECT_NE(damaged.document.status().find("could not be read"), std::string::npos);
    bool keptAside = false;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        keptAside = keptAside || (entry.path().filename().string().find("unreadable") != std::string::npos &&
                                  contents(entry.path()).find("\"markdown\": 7") != std::string::npos);
    EXPECT_TRUE(keptAside);
}

TEST(Drafts, EachInstanceKeepsItsOwnWholeDraftWhateverLiesAtItsPath) {
    norvo::testing::TempFolder temp;
    const auto file = temp.path() / "norvo" / "draft.json";
    const std::string big = "# Big\n\n" + std::string(3u << 20, 'x');  // over the card's limit, within the editor's
    {
        // Two instances at once (a desktop and an ssh session): two drafts.
        Session desktop(file), remote(file);
        desktop.drafts.restore();
        remote.drafts.restore();
        EXPECT_NE(desktop.drafts.file(), remote.drafts.file());
        desktop.document.setMarkdown(big);
        remote.document.setMarkdown("# From ssh");
        desktop.drafts.end(Drafts::Ending::Update);
        remote.drafts.end(Drafts::Ending::Update);
    }
    {
        Session desktop(file), remote(file);
        EXPECT_TRUE(desktop.drafts.restore());
        EXPECT_TRUE(remote.drafts.restore());
        EXPECT_EQ(desktop.document.markdown(), big);
        EXPECT_EQ(remote.document.markdown(), "# From ssh");
    }
    // A folder or a FIFO where the draft goes: passed over at once, the launch goes on.
    std::filesystem::remove(file);
    std::filesystem::create_directories(file);
    const auto second = temp.path() / "norvo" / "draft-2.json";
    std::filesystem::remove(second);
    ASSERT_EQ(mkfifo(second.c_str(), 0600), 0);
    {
        Session launch(file);
        EXPECT_FALSE(launch.drafts.restore());
        EXPECT_EQ(launch.drafts.file().filename(), "draft-3.json");
        launch.document.setMarkdown("# Kept anyway");
        launch.drafts.end(Drafts::Ending::Update);
    }
    EXPECT_TRUE(std::filesystem::is_directory(file));  // what Norvo did not make stays as it was
    EXPECT_TRUE(std::filesystem::is_fifo(second));
    // A state folder nobody may write in: the window says so.
    if (::geteuid() != 0) {
        const auto locked = temp.path() / "locked";
        std::filesystem::create_directories(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        Session readOnly(locked / "draft.json");
        readOnly.drafts.restore();
        EXPECT_NE(readOnly.document.status().find("cannot be kept"), std::string::npos);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

// Every card setting comes back from a draft only its user may read, even from another slot.
TEST(Drafts, EverySettingAndEveryCrashedSlotComesBack) {
    norvo::testing::TempFolder temp;
    const auto file = temp.path() / "norvo" / "draft.json";
    CardSettings chosen{.theme = "ink", .font = "serif", .size = *Presets::parse("story"), .scale = 1.4,
                        .wordmark = false, .pages = true, .cover = true, .pageMarks = "none", .splitAtHeadings = true};
    ASSERT_NE(chosen, CardSettings{});
    {
        Session first(file), second(file);
        first.drafts.restore();
        second.drafts.restore();
        second.document.setSettings(chosen);
        second.document.setMarkdown("# In the second window");
        first.drafts.end(Drafts::Ending::Quit);
        ASSERT_TRUE(norvo::testing::runUntil(
            [&] { return contents(second.drafts.file()).find("second window") != std::string::npos; },
            std::chrono::seconds(5)));
        struct stat st {};
        ASSERT_EQ(::stat(second.drafts.file().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }  // the second crashes: its draft still says it is running
    Session next(file);
    EXPECT_TRUE(next.drafts.restore());
    EXPECT_EQ(next.document.markdown(), "# In the second window");
    CardSettings expected = chosen;
    expected.style = next.document.settings().style;  // the style choice loads the style
    EXPECT_EQ(next.document.settings(), expected);
    EXPECT_EQ(next.document.presetID(), "story");
}
