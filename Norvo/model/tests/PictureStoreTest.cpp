#include <gtest/gtest.h>

#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/CardDocument.hpp"
#include "model/PictureStore.hpp"

using namespace norvo;
namespace fs = std::filesystem;

TEST(PictureStore, APictureJoinsTheNoteByItsPathOrAsAKeptCopy) {
    norvo::testing::TempFolder temp;
    const fs::path notes = temp.path() / "notes", elsewhere = temp.path() / "Pictures", store = temp.path() / "store";
    fs::create_directories(notes / "img");
    fs::create_directories(elsewhere);
    ASSERT_TRUE(norvo::testing::writeSolidPng(notes / "img" / "in note.png", 20, 10, 0x336699ff));
    ASSERT_TRUE(norvo::testing::writeSolidPng(elsewhere / "holiday_pic.png", 20, 10, 0x336699ff));
    norvo::testing::writeFile(elsewhere / "notes.png", "not a picture");
    norvo::testing::FakeRenderer renderer;
    CardDocument document(renderer);
    document.setNoteFile(notes / "trip.md");
    document.setPictureStore(store);
    PictureStore pictures(store);

    // Beside the note: named by its path there (in brackets, for the space), nothing copied.
    KeptPicture kept = pictures.keepFile(notes / "img" / "in note.png", document);
    EXPECT_EQ(kept.markdown, "![in note](<img/in note.png>)");
    EXPECT_FALSE(fs::exists(store));
    // From elsewhere: copied into the store once, however often it is dropped, and the card's
    // folders include the store so the note shows it after a restart.
    kept = pictures.keepFile(elsewhere / "holiday_pic.png", document);
    ASSERT_TRUE(kept.problem.empty()) << kept.problem;
    EXPECT_EQ(pictures.keepFile(elsewhere / "holiday_pic.png", document).markdown, kept.markdown);
    ASSERT_EQ(std::distance(fs::directory_iterator(store), fs::directory_iterator()), 1);
    const fs::path copy = fs::directory_iterator(store)->path();
    EXPECT_EQ(kept.markdown, "![holiday pic](" + copy.filename().string() + ")");
    EXPECT_EQ(document.request().pictures.noteFolder, notes.string());
    EXPECT_EQ(document.request().pictures.more, std::vector<std::string>{store.string()});
    // Pasted pixels likewise; what is not a picture is refused with its reason.
    EXPECT_TRUE(pictures.keepPng(norvo::testing::readText(elsewhere / "holiday_pic.png")).problem.empty());
    EXPECT_FALSE(pictures.keepFile(elsewhere / "notes.png", document).problem.empty());
    EXPECT_FALSE(PictureStore(fs::path()).keepPng("x").problem.empty());
}
