#include <gtest/gtest.h>

#include "norvo/Presets.hpp"

using norvo::Preset;
namespace Presets = norvo::Presets;

TEST(Presets, ByMatchesExactlyAndFallsBackToSquare) {
    EXPECT_EQ(Presets::by("story"), (Preset{"story", "Story", 1080, 1920}));
    for (const char* id : {"Portrait", " portrait", "portrait ", "", "poster", "SQUARE"})
        EXPECT_EQ(Presets::by(id), Presets::defaultPreset()) << '"' << id << '"';
    EXPECT_NE(Presets::by("square"), (Preset{"square", "square", 1080, 1080}));  // names compare exactly
}
