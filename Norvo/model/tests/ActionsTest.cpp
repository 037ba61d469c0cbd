#include <gtest/gtest.h>

#include "FakeDesktopServices.hpp"
#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/CardActions.hpp"
#include "norvo/Card.hpp"

using namespace norvo;
using norvo::testing::FakeDesktopServices;
using norvo::testing::FakeRenderer;

namespace {

class Actions : public ::testing::Test {
protected:
    std::size_t last() const { return renderer_->requests->size() - 1; }
    std::vector<std::uint8_t> file(const std::filesystem::path& p) { return norvo::testing::readFile(p); }
    // Files are written on a worker: the status line says when they are done.
    bool statusBecomes(const std::string& status) {
        return norvo::testing::runUntil([&] { return model_.status() == status; });
    }
    bool sharedCount(std::size_t n) {
        return norvo::testing::runUntil([&] { return services_.shared.size() == n; });
    }

    norvo::testing::TempFolder temp_;
    FakeDesktopServices services_{temp_.path()};
    FakeRenderer fake_;
    FakeRenderer* renderer_ = &fake_;
    CardDocument model_{fake_};
    CardActions actions_{model_, fake_, services_};
};

}  // namespace

TEST_F(Actions, ExportSuggestsTheCardNameAndWritesExactSize) {
    model_.setMarkdown("## Q3 Plan\n\nNumbers.");
    model_.setPresetID("landscape");
    model_.setStatus("earlier");
    actions_.exportPNG();
    model_.setMarkdown("# Edited after the click");  // the name was taken at click time
    renderer_->complete(last() - 1);
    ASSERT_EQ(services_.suggestedNames, std::vector<std::string>{"q3-plan-landscape.png"});
    EXPECT_EQ(services_.broughtToFront, 1);

    services_.answerSave(temp_.path() / "final.png");  // renamed in the dialog
    ASSERT_TRUE(statusBecomes("Saved \u2713 final.png")) << model_.status();
    const auto header = norvo::testing::readPngHeader(file(temp_.path() / "final.png"));
    EXPECT_EQ(header.width, 1200u);
    EXPECT_EQ(header.height, 630u);

    // The request carried the settings of the moment.
    const auto& request = (*renderer_->requests)[last() - 1];
    EXPECT_EQ(request.card.markdown, "## Q3 Plan\n\nNumbers.");
    EXPECT_EQ(request.card.settings.size.id, "landscape");
}

TEST_F(Actions, ExportEdgeCases) {
    model_.setMarkdown("");
    model_.setPresetID("story");
    actions_.exportPNG();
    renderer_->complete(last());
    EXPECT_EQ(services_.suggestedNames.back(), "card-story.png");
    model_.setStatus("kept");
    services_.answerSave(std::nullopt);  // cancelled
    EXPECT_EQ(model_.status(), "kept");

    actions_.exportPNG();
    renderer_->complete(last(), false);
    EXPECT_EQ(model_.status(), "Export failed \u2014 try again");

    // A write that cannot happen leaves what stood there untouched.
    const auto blocked = temp_.path() / "taken.png";
    std::filesystem::create_directory(blocked);
    norvo::testing::writeFile(blocked / "inside", "x");
    actions_.exportPNG();
    renderer_->complete(last());
    services_.answerSave(blocked);
    ASSERT_TRUE(statusBecomes("Couldn't save the PNG")) << model_.status();
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    actions_.exportPNG();
    renderer_->complete(last());
    model_.setStatus("");
    services_.answerSave(temp_.path() / "no" / "such" / "folder.png");
    ASSERT_TRUE(statusBecomes("Couldn't save the PNG")) << model_.status();

    // Replacing an existing file swaps it whole.
    const auto existing = temp_.path() / "old.png";
    norvo::testing::writeFile(existing, std::string(5'000'000, 'x'));
    actions_.exportPNG();
    renderer_->complete(last());
    services_.answerSave(existing);
    ASSERT_TRUE(statusBecomes("Saved \u2713 old.png")) << model_.status();
    EXPECT_EQ(norvo::testing::readPngHeader(file(existing)).width, 1080u);
    EXPECT_LT(std::filesystem::file_size(existing), 5'000'000u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp_.path()), {}), 2);  // no leftovers
}

// The file type chosen in the save dialog is the format written: JPEG and WebP beside PNG.
TEST_F(Actions, ExportWritesTheFormatItsNameSays) {
    model_.setMarkdown("# Formats");
    for (const auto& [name, magic] : {std::pair<std::string, std::string>{"card.jpg", "\xFF\xD8\xFF"},
                                     {"card.webp", "RIFF"},
                                     {"card.png", "\x89PNG"}}) {
        actions_.exportPNG();
        renderer_->complete(last());
        services_.answerSave(temp_.path() / name);
        ASSERT_TRUE(statusBecomes("Saved \u2713 " + name)) << model_.status();
        const auto bytes = file(temp_.path() / name);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + long(magic.size())), magic) << name;
    }

    // 2x in the dialog: the card as it was clicked, drawn again at twice the width and height.
    services_.answerDensity = 2;
    actions_.exportPNG();
    model_.setMarkdown("# Typed after the click");
    renderer_->complete(last() - 1);
    services_.answerSave(temp_.path() / "sharp.png");
    const auto& again = renderer_->requests->back();
    EXPECT_EQ(again.card.density, 2);
    EXPECT_EQ(again.card.markdown, "# Formats");
    renderer_->complete(last());
    ASSERT_TRUE(statusBecomes("Saved \u2713 sharp.png")) << model_.status();
    EXPECT_EQ(norvo::testing::readPngHeader(file(temp_.path() / "sharp.png")).width, 2160u);
}

TEST_F(Actions, CopyAndShare) {
    // The card goes with what it says, as the note was when Copy was chosen.
    model_.setMarkdown("# Launch *day*\n\n- [x] shipped `v2`");
    actions_.copyPNG();
    model_.setMarkdown("# Typed after the click");
    renderer_->complete(last() - 1);
    EXPECT_EQ(services_.copied.size(), 1u);
    EXPECT_EQ(services_.copiedTexts, std::vector<std::string>{"Launch day\n\nshipped v2"});
    EXPECT_EQ(model_.status(), "Copied \u2713 \u2014 paste it anywhere");
    actions_.copyPNG();
    renderer_->complete(last(), false);
    EXPECT_EQ(model_.status(), "Copy failed");

    model_.setStatus("");
    int place = 0;
    const DesktopServices::Anchor anchor{&place};  // opaque to the actions: passed on as given
    model_.setMarkdown("# Before");
    actions_.sharePNG(anchor);
    model_.setMarkdown("# After the click");  // share names the file when its render ends
    renderer_->complete(last() - 1);
    ASSERT_TRUE(sharedCount(1));
    EXPECT_EQ(services_.shared[0].first, std::vector<std::filesystem::path>{temp_.path() / "after-the-click-square.png"});
    EXPECT_EQ(services_.shared[0].second.handle, anchor.handle);
    EXPECT_EQ(services_.sharedAltTexts[0], "After the click");
    EXPECT_EQ(model_.status(), "");  // success says nothing
    const auto firstSize = std::filesystem::file_size(services_.shared[0].first.at(0));

    model_.setPresetID("square");
    actions_.sharePNG(anchor);
    renderer_->complete(last());
    ASSERT_TRUE(sharedCount(2));
    EXPECT_EQ(services_.shared[1].first, services_.shared[0].first);  // the same file, replaced
    EXPECT_EQ(std::filesystem::file_size(services_.shared[1].first.at(0)), firstSize);

    actions_.sharePNG(anchor);
    renderer_->complete(last(), false);
    EXPECT_EQ(model_.status(), "Share failed");
}

TEST_F(Actions, SetsOfPagesExportCopyAndBecomeOnePdf) {
    model_.setMarkdown("# Set\n\nLong enough for pages.");
    model_.setPages(true);
    renderer_->complete(last(), true, 3);  // the preview

    // Export writes every card beside the name chosen once.
    actions_.exportPNG();
    ASSERT_TRUE((*renderer_->requests)[last()].pagesCompletion);
    renderer_->complete(last(), true, 3);
    ASSERT_EQ(services_.suggestedNames.back(), "set-square.png");
    services_.answerSave(temp_.path() / "set.png");
    ASSERT_TRUE(statusBecomes("Saved \u2713 set-1.png \u2026 -3.png")) << model_.status();
    for (const char* name : {"set-1.png", "set-2.png", "set-3.png"})
        EXPECT_EQ(norvo::testing::readPngHeader(file(temp_.path() / name)).width, 1080u) << name;
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "set.png"));

    // A failure on card 3 leaves none of this export behind.
    std::filesystem::create_directories(temp_.path() / "broken-3.png");
    actions_.exportPNG();
    renderer_->complete(last(), true, 3);
    services_.answerSave(temp_.path() / "broken.png");
    services_.answerAlert(0);  // the folder in the way counts as a file to replace
    ASSERT_TRUE(statusBecomes("Couldn't save the PNG")) << model_.status();
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "broken-1.png"));
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "broken-2.png"));

    // Numbered files already there are replaced only when the user says so.
    norvo::testing::writeFile(temp_.path() / "again-2.png", "mine");
    for (std::size_t answer : {1u, 0u}) {
        actions_.exportPNG();
        renderer_->complete(last(), true, 3);
        services_.answerSave(temp_.path() / "again.png");
        ASSERT_FALSE(services_.alerts.empty());
        EXPECT_EQ(services_.alerts.back().message, "Replace 1 existing files?");
        model_.setStatus("");
        services_.answerAlert(answer);
        if (answer == 0) {
            ASSERT_TRUE(statusBecomes("Saved \u2713 again-1.png \u2026 -3.png"));
        }
        EXPECT_EQ(norvo::testing::readText(temp_.path() / "again-2.png") == "mine", answer == 1u);
    }

    // Copy takes the card shown.
    model_.showPage(1);
    actions_.copyPNG();
    renderer_->complete(last(), true, 3);
    ASSERT_FALSE(services_.copied.empty());
    EXPECT_EQ(services_.copied.back(), renderer_->lastSet[1]);

    // Share offers every card and the PDF of the set.
    actions_.sharePNG(DesktopServices::Anchor{&services_});
    const std::size_t sharedBefore = services_.shared.size();
    renderer_->complete(last(), true, 3);
    ASSERT_TRUE(sharedCount(sharedBefore + 1));
    EXPECT_EQ(services_.shared.back().first,
              (std::vector<std::filesystem::path>{temp_.path() / "set-square-1.png", temp_.path() / "set-square-2.png",
                                                  temp_.path() / "set-square-3.png", temp_.path() / "set-square.pdf"}));
    EXPECT_EQ(norvo::testing::pdfInfo(temp_.path() / "set-square.pdf", "Pages"), "3");

    // One PDF: a page per card, named and titled after the note.
    actions_.exportPDF();
    renderer_->complete(last(), true, 3);
    EXPECT_EQ(services_.suggestedNames.back(), "set-square.pdf");
    services_.answerSave(temp_.path() / "set.pdf");
    ASSERT_TRUE(statusBecomes("Saved \u2713 set.pdf")) << model_.status();
    EXPECT_EQ(norvo::testing::pdfInfo(temp_.path() / "set.pdf", "Pages"), "3");
    EXPECT_EQ(norvo::testing::pdfInfo(temp_.path() / "set.pdf", "Title"), "Set");
    // Its subject is the note's plain text (pdfinfo shows the first of its lines).
    EXPECT_EQ(norvo::testing::pdfInfo(temp_.path() / "set.pdf", "Subject"), "Set");
}
