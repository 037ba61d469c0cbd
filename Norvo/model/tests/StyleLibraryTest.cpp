#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/StyleLibrary.hpp"
#include "support/StyleFiles.hpp"

using namespace norvo;
using norvo::testing::FakeRenderer;

namespace {
// A library over an empty styles folder, with its document and choice.
struct Library {
    Library() { std::filesystem::remove_all(StyleFiles::folder()); }
    FakeRenderer renderer;
    CardDocument document{renderer};
    StyleChoice choice{document};
    StyleLibrary library{document, choice};
    std::tuple<CardDocument&, StyleChoice&, StyleLibrary&> parts() { return {document, choice, library}; }
};
}  // namespace

// The saved styles change on a worker and the card follows: a new style is worn, a copy gets
// a free name, a taken name is refused in the status line, a removed style leaves the theme,
// and a style named by a note is read again only when its file changes.
TEST(StyleLibrary, ChangesRunOnAWorkerAndTheCardFollows) {
    Library fixture;
    auto [document, choice, library] = fixture.parts();
    auto has = [&](const std::string& name) {
        const auto names = library.names();
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    library.create("Launch", "#1a7f64");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return choice.chosen() == "Launch"; }));
    EXPECT_EQ(document.style().accent, "#1a7f64");
    library.duplicate(document.style(), "copy");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return choice.chosen() == "Launch copy"; }));
    EXPECT_EQ(library.freeName("Launch"), "Launch 2");

    bool answered = false, renamed = true;
    library.rename(document.style(), "Launch", [&](bool ok) { answered = true, renamed = ok; });
    EXPECT_TRUE(answered);
    EXPECT_FALSE(renamed);  // taken
    EXPECT_NE(document.status().find("a name of its own"), std::string::npos);
    library.rename(document.style(), "Sunday", [&](bool ok) { renamed = ok; });
    ASSERT_TRUE(norvo::testing::runUntil([&] { return choice.chosen() == "Sunday"; }));
    EXPECT_TRUE(renamed);
    EXPECT_FALSE(has("Launch copy"));

    // A note's front matter reads through the library, again only once the file changed.
    document.setStyleLookup(library.lookup());
    document.setMarkdown("---\nstyle: Launch\n---\n# x");
    EXPECT_EQ(document.request().settings.style.name, "Launch");
    CardStyle changed = library.load("Launch").style;
    changed.accent = "#ff5500";
    library.save(changed);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return choice.chosen() == "Launch" && document.style().accent == "#ff5500"; }));
    EXPECT_EQ(document.request().settings.style.accent, "#ff5500");

    // Pictures are kept beside the styles; a removed style leaves the card in the theme.
    norvo::testing::TempFolder elsewhere;
    norvo::testing::writeFile(elsewhere.path() / "sea.jpg", "not really a photo");
    std::optional<std::string> kept;
    library.keep("Launch", elsewhere.path() / "sea.jpg", [&](std::optional<std::string> path) { kept = path; });
    ASSERT_TRUE(norvo::testing::runUntil([&] { return kept.has_value(); }));
    EXPECT_EQ(std::filesystem::path(*kept), StyleFiles::folder() / "Launch-sea.jpg");
    library.remove("Launch");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return !has("Launch"); }));
    ASSERT_TRUE(norvo::testing::runUntil([&] { return choice.chosen().empty(); }));
    EXPECT_TRUE(document.style().empty());
}

// The styles that come with Norvo are listed first and worn like any other, but never
// changed: saving, renaming or removing one only says so, and its duplicate is the user's.
TEST(StyleLibrary, BundledStylesAreListedFirstAndReadOnly) {
    Library fixture;
    auto [document, choice, library] = fixture.parts();
    const auto bundled = StyleFiles::bundledNames();
    ASSERT_GE(bundled.size(), 10u);
    const std::string name = bundled.front();
    ASSERT_TRUE(StyleFiles::isBundled(name));
    choice.choose(name);
    EXPECT_FALSE(document.style().empty());

    CardStyle edited = document.style();
    edited.accent = "#123456";
    library.save(edited);
    library.remove(name);
    EXPECT_NE(document.status().find("comes with Norvo"), std::string::npos) << document.status();
    EXPECT_FALSE(std::filesystem::exists(StyleFiles::folder() / (name + ".json")));
    EXPECT_TRUE(StyleFiles::isBundled(name));

    library.duplicate(document.style(), "copy");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return choice.chosen() == name + " copy"; }));
    const auto names = library.names();
    EXPECT_TRUE(std::equal(bundled.begin(), bundled.end(), names.begin()));
    EXPECT_EQ(names.back(), name + " copy");
    EXPECT_FALSE(StyleFiles::isBundled(name + " copy"));
    EXPECT_FALSE(library.load(name + " copy").problem);
}
