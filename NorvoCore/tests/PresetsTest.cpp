#include <gtest/gtest.h>

#include "norvo/Catalogue.hpp"
#include "norvo/Presets.hpp"

using norvo::Preset;
namespace Presets = norvo::Presets;

TEST(Presets, ByMatchesExactlyAndFallsBackToSquare) {
    EXPECT_EQ(Presets::by("story"), (Preset{"story", "Story", 1080, 1920}));
    for (const char* id : {"Portrait", " portrait", "portrait ", "", "poster", "SQUARE"})
        EXPECT_EQ(Presets::by(id), Presets::defaultPreset()) << '"' << id << '"';
    EXPECT_NE(Presets::by("square"), (Preset{"square", "square", 1080, 1080}));  // names compare exactly
}

// The themes come from the page's own table; their labels are the ones the translation
// template marks beside the catalogue.
TEST(Themes, TheTableGivesTheCatalogue) {
    std::vector<std::string> ids, labels;
    for (const norvo::Theme& t : norvo::Themes::all()) {
        ids.push_back(t.id);
        labels.push_back(t.label);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"paper", "ink", "sky"}));
    EXPECT_EQ(labels, (std::vector<std::string>{"Paper", "Ink", "Sky"}));
    EXPECT_EQ(norvo::Themes::idList(), "paper, ink or sky");
}
