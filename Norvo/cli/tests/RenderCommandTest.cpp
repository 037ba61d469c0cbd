#include <gtest/gtest.h>

#include "TestSupport.hpp"
#include "cli/RenderOptions.hpp"

using namespace norvo;
using norvo::testing::runProcess;

TEST(RenderOptions, ParsingAndUsageErrors) {
    auto ok = std::get<RenderOptions>(parseRenderOptions(
        {"--theme", "sky", "--font", "mono", "--size", "all", "--scale", "1.5", "--no-wordmark", "-d", "out", "a.md"}));
    EXPECT_EQ(ok.theme, "sky");
    EXPECT_EQ(ok.presets.size(), 4u);
    EXPECT_EQ(ok.scale, 1.5);
    EXPECT_FALSE(ok.wordmark);
    EXPECT_EQ(ok.inputs, std::vector<std::string>{"a.md"});
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({})).inputs, std::vector<std::string>{"-"});

    const std::vector<std::vector<std::string>> bad = {
        {"--theme", "neon"}, {"--size", "Square"}, {"--scale", "big"}, {"--scale", "9"}, {"--scale", "nan"},
        {"--font"},          {"--bogus"},          {"-o", "x.png", "-d", "d"},          {"-o", "x.png", "a", "b"},
        {"-o", "x.png", "--size", "all", "a"},
    };
    for (const auto& args : bad) EXPECT_TRUE(std::holds_alternative<RenderUsageError>(parseRenderOptions(args)));

    OutputNames names;
    EXPECT_EQ(names.claim("d/a-square.png"), "d/a-square.png");
    EXPECT_EQ(names.claim("d/./a-square.png"), "d/a-square-2.png");
    EXPECT_EQ(names.claim("d/a-square.png"), "d/a-square-3.png");
}

TEST(RenderCommand, WritesNamedCardsAndReportsFailures) {
    norvo::testing::TempFolder tmp;
    const auto dir = tmp.path();
    norvo::testing::writeFile(dir / "one.md", "# Hello World\n\nFirst.");
    norvo::testing::writeFile(dir / "two.md", "# Hello World\n\nSame title.");
    norvo::testing::writeFile(dir / "bad.md", "# Broken \xff\xfe");
    const auto out = dir / "cards";

    auto r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--size", "all", "-d", out.string(), (dir / "one.md").string(),
                         (dir / "two.md").string(), (dir / "missing.md").string(), (dir / "bad.md").string()});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("missing.md"), std::string::npos);
    EXPECT_NE(r.err.find("bad.md is not UTF-8"), std::string::npos);
    for (const char* name : {"hello-world-square.png", "hello-world-square-2.png", "hello-world-landscape.png",
                             "hello-world-story-2.png"})
        EXPECT_TRUE(std::filesystem::exists(out / name)) << name;
    const auto landscape = norvo::testing::readPngHeader(norvo::testing::readFile(out / "hello-world-landscape.png"));
    EXPECT_EQ(landscape.width, 1200u);
    EXPECT_EQ(landscape.height, 630u);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8);

    // Standard input, one named file.
    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--theme", "ink", "-o", (dir / "mine.png").string()}, {},
                   "## From stdin");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(norvo::testing::readPngHeader(norvo::testing::readFile(dir / "mine.png")).width, 1080u);

    r = runProcess({NORVO_TEST_EXECUTABLE, "render", "--size", "huge"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("unknown size 'huge'"), std::string::npos);

    r = runProcess({NORVO_TEST_EXECUTABLE, "render", (dir / "one.md").string()}, {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
}
