#include <gtest/gtest.h>

#include "FakeDesktopServices.hpp"
#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/NorvoModel.hpp"

using namespace norvo;
using norvo::testing::FakeDesktopServices;
using norvo::testing::FakeRenderer;

namespace {

class Actions : public ::testing::Test {
protected:
    Actions()
        : services_(temp_.path()), model_([this] {
              auto r = std::make_unique<FakeRenderer>();
              renderer_ = r.get();
              return r;
          }) {
        model_.setDesktopServices(&services_);
        model_.engine();
    }
    std::size_t last() const { return renderer_->requests->size() - 1; }
    std::vector<std::uint8_t> file(const std::filesystem::path& p) { return norvo::testing::readFile(p); }

    norvo::testing::TempFolder temp_;
    FakeDesktopServices services_;
    FakeRenderer* renderer_ = nullptr;
    NorvoModel model_;
};

}  // namespace

TEST_F(Actions, ExportSuggestsTheCardNameAndWritesExactSize) {
    model_.setMarkdown("## Q3 Plan\n\nNumbers.");
    model_.setPresetID("landscape");
    model_.setLastStatus("earlier");
    model_.exportPNG();
    model_.setMarkdown("# Edited after the click");  // the name was taken at click time
    renderer_->complete(last() - 1);
    ASSERT_EQ(services_.suggestedNames, std::vector<std::string>{"q3-plan-landscape.png"});
    EXPECT_EQ(services_.broughtToFront, 1);

    services_.answerSave(temp_.path() / "final.png");  // renamed in the dialog
    EXPECT_EQ(model_.lastStatus(), "Saved \u2713 final.png");
    const auto header = norvo::testing::readPngHeader(file(temp_.path() / "final.png"));
    EXPECT_EQ(header.width, 1200u);
    EXPECT_EQ(header.height, 630u);

    // The request carried the settings of the moment.
    const auto& request = (*renderer_->requests)[last() - 1];
    EXPECT_EQ(request.markdown, "## Q3 Plan\n\nNumbers.");
    EXPECT_EQ(request.preset.id, "landscape");
}

TEST_F(Actions, ExportEdgeCases) {
    model_.setMarkdown("");
    model_.setPresetID("story");
    model_.exportPNG();
    renderer_->complete(last());
    EXPECT_EQ(services_.suggestedNames.back(), "card-story.png");
    model_.setLastStatus("kept");
    services_.answerSave(std::nullopt);  // cancelled
    EXPECT_EQ(model_.lastStatus(), "kept");

    model_.exportPNG();
    renderer_->complete(last(), false);
    EXPECT_EQ(model_.lastStatus(), "Export failed \u2014 try again");

    // A write that cannot happen leaves what stood there untouched.
    const auto blocked = temp_.path() / "taken.png";
    std::filesystem::create_directory(blocked);
    norvo::testing::writeFile(blocked / "inside", "x");
    model_.exportPNG();
    renderer_->complete(last());
    services_.answerSave(blocked);
    EXPECT_EQ(model_.lastStatus(), "Couldn't save the PNG");
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    model_.exportPNG();
    renderer_->complete(last());
    services_.answerSave(temp_.path() / "no" / "such" / "folder.png");
    EXPECT_EQ(model_.lastStatus(), "Couldn't save the PNG");

    // Replacing an existing file swaps it whole.
    const auto existing = temp_.path() / "old.png";
    norvo::testing::writeFile(existing, std::string(5'000'000, 'x'));
    model_.exportPNG();
    renderer_->complete(last());
    services_.answerSave(existing);
    EXPECT_EQ(norvo::testing::readPngHeader(file(existing)).width, 1080u);
    EXPECT_LT(std::filesystem::file_size(existing), 5'000'000u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp_.path()), {}), 2);  // no leftovers
}

TEST_F(Actions, CopyAndShare) {
    model_.copyPNG();
    renderer_->complete(last());
    EXPECT_EQ(services_.copied.size(), 1u);
    EXPECT_EQ(model_.lastStatus(), "Copied \u2713 \u2014 paste it anywhere");
    model_.copyPNG();
    renderer_->complete(last(), false);
    EXPECT_EQ(model_.lastStatus(), "Copy failed");

    model_.setLastStatus("");
    int anchor = 0;
    auto* anchorWidget = reinterpret_cast<Gtk::Widget*>(&anchor);
    model_.setMarkdown("# Before");
    model_.sharePNG(anchorWidget);
    model_.setMarkdown("# After the click");  // share names the file when its render ends
    renderer_->complete(last() - 1);
    ASSERT_EQ(services_.shared.size(), 1u);
    EXPECT_EQ(services_.shared[0].first, temp_.path() / "after-the-click-square.png");
    EXPECT_EQ(services_.shared[0].second, anchorWidget);
    EXPECT_EQ(model_.lastStatus(), "");  // success says nothing
    const auto firstSize = std::filesystem::file_size(services_.shared[0].first);

    model_.setPresetID("square");
    model_.sharePNG(anchorWidget);
    renderer_->complete(last());
    ASSERT_EQ(services_.shared.size(), 2u);
    EXPECT_EQ(services_.shared[1].first, services_.shared[0].first);  // the same file, replaced
    EXPECT_EQ(std::filesystem::file_size(services_.shared[1].first), firstSize);

    model_.sharePNG(anchorWidget);
    renderer_->complete(last(), false);
    EXPECT_EQ(model_.lastStatus(), "Share failed");
}
