#include <gtest/gtest.h>

#include "norvo/CardRequest.hpp"
#include "norvo/Presets.hpp"

using norvo::CardRequest;
using norvo::Preset;
namespace Presets = norvo::Presets;

TEST(Presets, ByMatchesExactlyAndFallsBackToSquare) {
    EXPECT_EQ(Presets::by("story"), (Preset{"story", "Story", 1080, 1920}));
    for (const char* id : {"Portrait", " portrait", "portrait ", "", "poster", "SQUARE"})
        EXPECT_EQ(Presets::by(id), Presets::defaultPreset()) << '"' << id << '"';
    EXPECT_NE(Presets::by("square"), (Preset{"square", "square", 1080, 1080}));  // names compare exactly
}

// Beyond the four: 3:4, any width and height within the limits, long pictures; the four are
// what they were, and the size picker's list stays four.
TEST(Presets, ParseTakesNamedCustomAndLongSizesWithinTheLimits) {
    EXPECT_EQ(Presets::all().size(), 4u);
    EXPECT_EQ(Presets::parse("story"), Presets::by("story"));
    EXPECT_EQ(Presets::parse("tall"), (Preset{"tall", "3:4", 1080, 1440}));
    const auto custom = Presets::parse("1200x900");
    ASSERT_TRUE(custom);
    EXPECT_EQ(custom->id, "1200x900");
    EXPECT_EQ(custom->width * 1000 + custom->height, 1200900);
    EXPECT_TRUE(Presets::parse("320x1280") && Presets::parse("4096x1024") && Presets::parse("800x2000"));
    const auto long1080 = Presets::parse("long"), long800 = Presets::parse("800xlong");
    ASSERT_TRUE(long1080 && long800);
    EXPECT_TRUE(long1080->grows && long800->grows);
    EXPECT_EQ(long800->width, 800);
    EXPECT_EQ(long800->height, Presets::kLongCap);
    for (const char* bad : {"319x500", "500x4097", "2000x499", "499x2000", "1200X900", "1200x", "x900", "-1x500",
                            "1200x900 ", "99999999999x1", "all", "Long", "1e3x1e3", "1200x900x2"})
        EXPECT_FALSE(Presets::parse(bad)) << bad;
    EXPECT_NE(Presets::whyNotASize("5000x10").find("320 to 4096"), std::string::npos);
    // At twice the density a long picture keeps the pixels' cap.
    const CardRequest twice{.markdown = "", .settings = {.size = *long1080}, .density = 2};
    EXPECT_EQ(twice.drawnSize().height, Presets::kLongCap);
    EXPECT_EQ(twice.drawnSize().width, 2160);
}
