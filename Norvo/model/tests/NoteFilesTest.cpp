#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FakeDesktopServices.hpp"
#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/NoteFiles.hpp"

using namespace norvo;
using norvo::testing::FakeDesktopServices;
using norvo::testing::FakeRenderer;

namespace {

class NoteFilesTest : public ::testing::Test {
protected:
    // Files are read and written on a worker: the status line says when they are done.
    bool statusBecomes(const std::string& status) {
        return norvo::testing::runUntil([&] { return model_.status() == status; });
    }

    norvo::testing::TempFolder temp_;
    FakeDesktopServices services_{temp_.path()};
    FakeRenderer fake_;
    CardDocument model_{fake_};
    NoteFiles files_{model_, services_};
};

}  // namespace

TEST_F(NoteFilesTest, OpensANoteFromTheMenuOrByPathAndSaysWhyAFileIsRefused) {
    const auto dir = temp_.path();
    norvo::testing::writeFile(dir / "plan.md", "# Plan\n\nCaf\u00e9 at nine.\n");
    files_.openNote();
    ASSERT_TRUE(services_.pendingOpen);
    services_.answerOpen(dir / "plan.md");
    ASSERT_TRUE(statusBecomes("Opened \u201cplan.md\u201d")) << model_.status();
    EXPECT_EQ(model_.markdown(), "# Plan\n\nCaf\u00e9 at nine.\n");
    EXPECT_EQ(model_.noteFile(), dir / "plan.md");

    // Refused files leave the note and its file as they were, and say why.
    norvo::testing::writeFile(dir / "big.md", std::string(1024 * 1024 + 1, 'a'));
    norvo::testing::writeFile(dir / "latin1.md", "caf\xe9");
    norvo::testing::writeFile(dir / "nul.md", std::string("a\0b", 3));
    std::filesystem::create_directory(dir / "folder.md");
    norvo::testing::writeFile(dir / "locked.md", "secret");
    ::chmod((dir / "locked.md").c_str(), 0);
    const std::pair<const char*, const char*> refusals[] = {
        {"big.md", "Couldn't open \u201cbig.md\u201d: a note may hold up to 1 MiB"},
        {"latin1.md", "Couldn't open \u201clatin1.md\u201d: it is not UTF-8 text"},
        {"nul.md", "Couldn't open \u201cnul.md\u201d: it is not UTF-8 text"},
        {"folder.md", "Couldn't open \u201cfolder.md\u201d: it is a folder"},
        {"missing.md", "Couldn't open \u201cmissing.md\u201d: No such file or directory"},
    };
    for (const auto& [name, message] : refusals) {
        files_.open(dir / name);
        EXPECT_TRUE(statusBecomes(message)) << name << ": " << model_.status();
    }
    if (::geteuid() != 0) {  // root reads anything
        files_.open(dir / "locked.md");
        EXPECT_TRUE(statusBecomes("Couldn't open \u201clocked.md\u201d: Permission denied")) << model_.status();
    }
    EXPECT_EQ(model_.markdown(), "# Plan\n\nCaf\u00e9 at nine.\n");
    EXPECT_EQ(model_.noteFile(), dir / "plan.md");

    // A cancelled dialog changes nothing.
    files_.openNote();
    services_.answerOpen(std::nullopt);
    EXPECT_EQ(model_.noteFile(), dir / "plan.md");
}

TEST_F(NoteFilesTest, SaveNoteAsWritesTheTextExactlyAndTheNoteTakesTheName) {
    model_.setMarkdown("## Weekly \u2014 notes\n\nLine one  \nline two\r\n\n\xF0\x9F\x9A\x80");
    files_.saveNoteAs();
    ASSERT_EQ(services_.suggestedNames, std::vector<std::string>{"weekly-notes.md"});
    services_.answerSave(temp_.path() / "week.md");
    ASSERT_TRUE(statusBecomes("Saved \u2713 week.md")) << model_.status();
    EXPECT_EQ(norvo::testing::readText(temp_.path() / "week.md"), model_.markdown());
    EXPECT_EQ(model_.noteFile(), temp_.path() / "week.md");

    // Saved again, the dialog suggests the note's own name; a folder that cannot be written
    // is said in the status line.
    files_.saveNoteAs();
    EXPECT_EQ(services_.suggestedNames.back(), "week.md");
    services_.answerSave(temp_.path() / "no-such-folder" / "week.md");
    EXPECT_TRUE(statusBecomes("Couldn't save \u201cweek.md\u201d: No such file or directory")) << model_.status();
    EXPECT_EQ(model_.noteFile(), temp_.path() / "week.md");
}

// The opened file is followed: another editor's save reaches the note; over unsaved edits the
// user decides (nothing is overwritten unasked); opening another note over edits asks to save
// them; Save Note writes the opened file.
TEST_F(NoteFilesTest, TheNoteFollowsItsFileAndUnsavedEditsAreNeverLost) {
    const auto dir = temp_.path();
    norvo::testing::writeFile(dir / "plan.md", "# Plan\n");
    norvo::testing::writeFile(dir / "other.md", "# Other\n");
    files_.open(dir / "plan.md");
    ASSERT_TRUE(statusBecomes("Opened \u201cplan.md\u201d"));
    EXPECT_FALSE(files_.hasUnsavedEdits());

    // Saved elsewhere, as editors do: a new file renamed over the old one.
    norvo::testing::writeFile(dir / "plan.tmp", "# Plan, revised\n");
    std::filesystem::rename(dir / "plan.tmp", dir / "plan.md");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return model_.markdown() == "# Plan, revised\n"; }));
    EXPECT_EQ(model_.status(), "Reloaded \u201cplan.md\u201d: it changed on disk");

    // Edits here, a change there: asked, and "Keep My Edits" keeps them.
    model_.setMarkdown("# Plan, mine\n");
    EXPECT_TRUE(files_.hasUnsavedEdits());
    norvo::testing::writeFile(dir / "plan.md", "# Plan, theirs\n");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return !services_.alerts.empty(); }));
    EXPECT_EQ(services_.alerts.back().message, "\u201cplan.md\u201d changed on disk");
    services_.answerAlert(0);
    EXPECT_EQ(model_.markdown(), "# Plan, mine\n");

    // Another note over edits: Cancel keeps all; Save writes them, then opens the other.
    files_.open(dir / "other.md");
    ASSERT_EQ(services_.alerts.size(), 2u);
    EXPECT_EQ(services_.alerts.back().buttons, (std::vector<std::string>{"Save", "Discard", "Cancel"}));
    services_.answerAlert(2);
    EXPECT_EQ(model_.noteFile(), dir / "plan.md");
    files_.open(dir / "other.md");
    services_.answerAlert(0);
    ASSERT_TRUE(statusBecomes("Opened \u201cother.md\u201d"));
    EXPECT_EQ(norvo::testing::readText(dir / "plan.md"), "# Plan, mine\n");

    // Save Note writes the opened file.
    model_.setMarkdown("# Other, edited\n");
    files_.save();
    ASSERT_TRUE(statusBecomes("Saved \u2713 other.md"));
    EXPECT_EQ(norvo::testing::readText(dir / "other.md"), "# Other, edited\n");
    EXPECT_FALSE(files_.hasUnsavedEdits());
}

// Save Note writes the file a link names, keeps its mode and hard links, and never replaces
// newer text on disk unasked; quitting over an opened note's edits asks first.
TEST_F(NoteFilesTest, SavingKeepsTheUsersFileAndQuittingAsksOverEdits) {
    const auto dir = temp_.path();
    norvo::testing::writeFile(dir / "plan.md", "# Plan\n");
    ::chmod((dir / "plan.md").c_str(), 0600);
    std::filesystem::create_symlink("plan.md", dir / "link.md");
    std::filesystem::create_hard_link(dir / "plan.md", dir / "hard.md");
    files_.open(dir / "link.md");
    ASSERT_TRUE(statusBecomes("Opened \u201clink.md\u201d"));
    model_.setMarkdown("# Plan, edited\n");
    files_.save();
    ASSERT_TRUE(statusBecomes("Saved \u2713 link.md")) << model_.status();
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.md"));
    EXPECT_EQ(norvo::testing::readText(dir / "plan.md"), "# Plan, edited\n");
    EXPECT_EQ(norvo::testing::readText(dir / "hard.md"), "# Plan, edited\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "plan.md").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_nlink, 2u);

    // Changed on disk since it was read: saving asks, and Cancel leaves the newer text. (Then
    // the change reaches the note, and the user keeps the edits.)
    model_.setMarkdown("# Plan, mine\n");
    norvo::testing::writeFile(dir / "plan.md", "# Plan, theirs\n");
    files_.save();
    ASSERT_TRUE(norvo::testing::runUntil([&] { return !services_.alerts.empty(); }));
    EXPECT_EQ(services_.alerts.back().message, "\u201clink.md\u201d changed on disk since it was read");
    services_.answerAlert(0);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return services_.alerts.size() == 2; }));
    EXPECT_EQ(services_.alerts.back().message, "\u201clink.md\u201d changed on disk");
    services_.answerAlert(0);
    EXPECT_EQ(norvo::testing::readText(dir / "plan.md"), "# Plan, theirs\n");
    EXPECT_EQ(model_.markdown(), "# Plan, mine\n");

    // Quitting over the edits: Cancel stays, Discard goes, Save writes and then goes.
    int quits = 0;
    files_.closeNote([&] { ++quits; });
    ASSERT_EQ(services_.alerts.size(), 3u);
    EXPECT_EQ(services_.alerts.back().message, "Save the changes to \u201clink.md\u201d before quitting?");
    services_.answerAlert(2);
    files_.closeNote([&] { ++quits; });
    services_.answerAlert(1);
    EXPECT_EQ(quits, 1);
    files_.closeNote([&] { ++quits; });
    services_.answerAlert(0);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return quits == 2; }));
    EXPECT_EQ(norvo::testing::readText(dir / "plan.md"), "# Plan, mine\n");
    // A note typed here is the draft's to keep: no question.
    model_.setNoteFile({});
    files_.closeNote([&] { ++quits; });
    EXPECT_EQ(quits, 3);

    // A new note would replace what was typed: Cancel keeps it, Discard empties the editor.
    const std::size_t asked = services_.alerts.size();
    files_.newNote();
    ASSERT_EQ(services_.alerts.size(), asked + 1);
    EXPECT_EQ(services_.alerts.back().message, "Save the changes to the note before starting a new note?");
    services_.answerAlert(2);
    EXPECT_EQ(model_.markdown(), "# Plan, mine\n");
    files_.newNote();
    services_.answerAlert(1);
    EXPECT_EQ(model_.markdown(), "");
    EXPECT_TRUE(model_.noteFile().empty());
    files_.newNote();  // nothing to lose: no question
    EXPECT_EQ(services_.alerts.size(), asked + 2);
}
