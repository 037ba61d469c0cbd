#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Drafts, WhatWasTypedComesBackAfterACrashOrAnUpdateAndAfterAQuitOnlyWhenAskedFor) {
    norvo::testing::TempFolder temp;
    const auto file = temp.path() / "state" / "norvo" / "draft.json";
    {
        Session first(file);
        EXPECT_FALSE(first.drafts.restore());  // nothing kept yet: a fresh note
        first.document.setThemeID("ink");
        first.document.setPresetID("story");
        first.document.setMarkdown("# Half-written\n\nCaf\u00e9 at \xF0\x9F\x9A\x80");
        // Kept within a second or so while typing, then the process dies without a word.
        ASSERT_TRUE(norvo::testing::runUntil(
            [&] { return contents(file).find("Half-written") != std::string::npos; }, std::chrono::seconds(5)));
    }
    {
        Session afterCrash(file);
        EXPECT_TRUE(afterCrash.drafts.restore());
        EXPECT_EQ(afterCrash.document.markdown(), "# Half-written\n\nCaf\u00e9 at \xF0\x9F\x9A\x80");
        EXPECT_EQ(afterCrash.document.themeID(), "ink");
        EXPECT_EQ(afterCrash.document.presetID(), "story");
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

    // A damaged draft is no draft.
    norvo::testing::writeFile(file, "{\"session\": \"running\", \"markdown\": ");
    Session damaged(file);
    EXPECT_FALSE(damaged.drafts.restore());
    EXPECT_EQ(damaged.document.markdown(), CardDocument::kSampleMarkdown);
}
