#include <gtest/gtest.h>

#include "FakeRenderer.hpp"
#include "model/NorvoModel.hpp"
#include "norvo/Card.hpp"

using namespace norvo;
using norvo::testing::FakeRenderer;

namespace {

class Model : public ::testing::Test {
protected:
    Model()
        : model_([this] {
              auto r = std::make_unique<FakeRenderer>();
              renderer_ = r.get();
              return r;
          }) {}
    std::size_t requests() const { return renderer_ ? renderer_->requests->size() : 0; }

    FakeRenderer* renderer_ = nullptr;
    NorvoModel model_;
};

}  // namespace

TEST_F(Model, CreatingTheModelRendersNothing) {
    EXPECT_EQ(requests(), 0u);
    EXPECT_EQ(std::string(NorvoModel::kSampleMarkdown).size(), 178u);  // nine lines, one em dash
    EXPECT_FALSE(model_.previewImage());
}

TEST_F(Model, EveryCardSettingRendersAndNothingElseDoes) {
    int willChange = 0;
    model_.signalWillChange().connect([&] { ++willChange; });
    model_.setMarkdown(model_.markdown());  // an equal value renders all the same
    model_.setThemeID("ink");
    model_.setPresetID("no-such-size");
    model_.setFontID("mono");
    model_.setWordmark(false);
    model_.setFontScale(2.5);
    ASSERT_EQ(requests(), 6u);
    const auto& last = renderer_->requests->back();
    EXPECT_EQ(last.theme, "ink");
    EXPECT_EQ(last.font, "mono");
    EXPECT_EQ(last.preset, Presets::defaultPreset());  // unknown id renders square
    EXPECT_EQ(model_.presetID(), "no-such-size");      // but is kept as typed
    EXPECT_FALSE(last.wordmark);
    EXPECT_EQ(last.scale, 2.5);

    model_.setLastStatus("x");
    model_.setPreviewImage(nullptr);
    model_.setAvailableUpdate(UpdateInfo{"2", "https://h.example/x.zip", ""});
    model_.setIsUpdating(true);
    model_.setIsCheckingForUpdate(true);
    model_.start();
    model_.start();
    EXPECT_EQ(requests(), 6u);
    EXPECT_EQ(willChange, 11);
}

TEST_F(Model, PreviewFollowsTheLastCompletedRender) {
    model_.rerender();
    model_.setPresetID("story");
    model_.setPresetID("landscape");
    ASSERT_EQ(requests(), 3u);
    renderer_->complete(2);
    renderer_->complete(0);
    ASSERT_TRUE(model_.previewImage());
    EXPECT_EQ(model_.previewImage()->width(), 1080);  // the square one finished last
    const CardImagePtr before = model_.previewImage();
    renderer_->complete(1, false);  // a failed render keeps what is shown
    EXPECT_EQ(model_.previewImage(), before);
    EXPECT_EQ(model_.lastStatus(), "");
}

TEST_F(Model, NoteOverTheLimitIsKeptButNotRendered) {
    const std::string huge(norvo::Card::kMaxMarkdownBytes + 1, 'a');
    model_.setMarkdown(huge);
    model_.exportPNG();
    model_.copyPNG();
    EXPECT_EQ(requests(), 0u);
    EXPECT_EQ(model_.markdown(), huge);
    EXPECT_NE(model_.lastStatus().find("Too long to render"), std::string::npos);
    // Back under the limit, the card renders and the warning goes.
    model_.setMarkdown(huge.substr(1));
    EXPECT_EQ(requests(), 1u);
    EXPECT_EQ(model_.lastStatus(), "");
}
