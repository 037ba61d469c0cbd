#include <gtest/gtest.h>

#include "norvo/Presets.hpp"

using norvo::Preset;
namespace Presets = norvo::Presets;

TEST(Presets, CatalogueInPickerOrder) {
    const std::vector<Preset> expected{
        {"square", "Square", 1080, 1080},
        {"portrait", "Portrait", 1080, 1350},
        {"landscape", "Landscape", 1200, 630},
        {"story", "Story", 1080, 1920},
    };
    EXPECT_EQ(Presets::all(), expected);
    EXPECT_EQ(Presets::defaultPreset(), Presets::all()[0]);
    EXPECT_DOUBLE_EQ(Presets::by("landscape").aspect(), 1200.0 / 630.0);
    EXPECT_DOUBLE_EQ(Presets::by("portrait").aspect(), 0.8);
}

TEST(Presets, ByMatchesExactlyAndFallsBackToSquare) {
    EXPECT_EQ(Presets::by("story"), (Preset{"story", "Story", 1080, 1920}));
    for (const char* id : {"Portrait", " portrait", "portrait ", "", "poster", "SQUARE"})
        EXPECT_EQ(Presets::by(id), Presets::defaultPreset()) << '"' << id << '"';
    EXPECT_NE(Presets::by("square"), (Preset{"square", "square", 1080, 1080}));  // names compare exactly
}
