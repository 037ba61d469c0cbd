#include <gtest/gtest.h>

#include "FakeRenderer.hpp"
#include "model/CardDocument.hpp"
#include "norvo/Card.hpp"

using namespace norvo;
using norvo::testing::FakeRenderer;

namespace {

class Document : public ::testing::Test {
protected:
    std::size_t requests() const { return renderer_.requests->size(); }

    FakeRenderer renderer_;
    CardDocument document_{renderer_};
};

}  // namespace

TEST_F(Document, EverySettingRendersAndSignalsOnlyItsOwnChange) {
    EXPECT_EQ(requests(), 0u);  // making the document renders nothing
    std::map<std::string, int> changed;
    document_.signalMarkdownChanged().connect([&] { ++changed["markdown"]; });
    document_.signalThemeChanged().connect([&] { ++changed["theme"]; });
    document_.signalPresetChanged().connect([&] { ++changed["preset"]; });
    document_.signalFontChanged().connect([&] { ++changed["font"]; });
    document_.signalWordmarkChanged().connect([&] { ++changed["wordmark"]; });
    document_.signalScaleChanged().connect([&] { ++changed["scale"]; });
    document_.signalStatusChanged().connect([&] { ++changed["status"]; });

    document_.setMarkdown(document_.markdown());  // an equal value renders all the same
    document_.setThemeID("ink");
    document_.setPresetID("no-such-size");
    document_.setFontID("mono");
    document_.setWordmark(false);
    document_.setFontScale(2.5);
    ASSERT_EQ(requests(), 6u);
    const auto& last = renderer_.requests->back();
    EXPECT_EQ(last.card.settings.theme, "ink");
    EXPECT_EQ(last.card.settings.font, "mono");
    EXPECT_EQ(last.card.settings.size, Presets::defaultPreset());  // unknown id renders square
    EXPECT_EQ(document_.presetID(), "no-such-size");  // but is kept as typed
    EXPECT_FALSE(last.card.settings.wordmark);
    EXPECT_EQ(last.card.settings.scale, 2.5);

    document_.setStatus("x");
    EXPECT_EQ(requests(), 6u);  // the status line renders nothing
    for (const char* name : {"markdown", "theme", "preset", "font", "wordmark", "scale", "status"})
        EXPECT_EQ(changed[name], 1) << name;
}

TEST_F(Document, OnlyTheNewestRenderBecomesThePreview) {
    int shown = 0;
    document_.signalPreviewChanged().connect([&] { ++shown; });
    document_.rerender();
    document_.setPresetID("story");
    document_.setPresetID("landscape");
    ASSERT_EQ(requests(), 3u);
    renderer_.complete(1);
    ASSERT_TRUE(document_.preview());
    EXPECT_EQ(document_.preview()->height(), 1920);
    renderer_.complete(0);  // older than what is shown: dropped
    EXPECT_EQ(document_.preview()->height(), 1920);
    renderer_.complete(2, false);  // a failed render keeps what is shown
    EXPECT_EQ(document_.preview()->height(), 1920);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(document_.status(), "");
}

TEST_F(Document, NoteOverTheLimitIsKeptButNotRendered) {
    const std::string huge(norvo::Card::kMaxMarkdownBytes + 1, 'a');
    document_.setMarkdown(huge);
    EXPECT_EQ(requests(), 0u);
    EXPECT_EQ(document_.markdown(), huge);
    EXPECT_NE(document_.status().find("Too long to render"), std::string::npos);
    // Back under the limit, the card renders and the warning goes.
    document_.setMarkdown(huge.substr(1));
    EXPECT_EQ(requests(), 1u);
    EXPECT_EQ(document_.status(), "");
}

TEST_F(Document, PagesPreviewAsASetOnePageShown) {
    document_.setPages(true);
    ASSERT_EQ(requests(), 1u);
    EXPECT_TRUE(renderer_.requests->back().pagesCompletion);  // asked for a set
    renderer_.complete(0, true, 5);
    EXPECT_EQ(document_.previewPages().size(), 5u);
    EXPECT_EQ(document_.preview(), document_.previewPages()[0]);
    document_.showPage(3);
    EXPECT_EQ(document_.preview(), document_.previewPages()[3]);
    document_.showPage(9);  // past the set: stays
    EXPECT_EQ(document_.shownPage(), 3u);

    // Edits keep the page in view as far as the new set reaches.
    document_.setMarkdown("# Shorter");
    renderer_.complete(1, true, 2);
    EXPECT_EQ(document_.shownPage(), 1u);
    document_.setPages(false);
    EXPECT_FALSE(renderer_.requests->back().pagesCompletion);
    renderer_.complete(2);
    EXPECT_EQ(document_.previewPages().size(), 1u);
    EXPECT_EQ(document_.shownPage(), 0u);
}
