#include <gtest/gtest.h>

#include "cli/RenderOptions.hpp"

using namespace norvo;

TEST(RenderOptions, ParsingAndUsageErrors) {
    auto ok = std::get<RenderOptions>(parseRenderOptions(
        {"--theme", "sky", "--font", "mono", "--size", "all", "--scale", "1.5", "--no-wordmark", "-d", "out", "a.md"}));
    EXPECT_EQ(ok.card.theme, "sky");
    EXPECT_EQ(ok.presets.size(), 4u);
    EXPECT_EQ(ok.card.scale, 1.5);
    EXPECT_FALSE(ok.card.wordmark);
    EXPECT_EQ(ok.inputs, std::vector<std::string>{"a.md"});
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({})).inputs, std::vector<std::string>{"-"});

    // The file's ending decides the format: a mismatch, a PDF without --pdf and a set for one
    // file are usage errors.
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({"-o", "x.JPG", "a.md"})).format, CardFormats::Format::Jpeg);
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({"--format", "webp", "-o", "/dev/stdout"})).format,
              CardFormats::Format::WebP);
    const std::vector<std::vector<std::string>> bad = {
        {"--format", "webp", "-o", "x.png"}, {"-o", "x.pdf"}, {"--pages", "-o", "x.png"},
        {"--theme", "neon"}, {"--size", "Square"}, {"--scale", "big"}, {"--scale", "9"}, {"--scale", "nan"},
        {"--font"},          {"--bogus"},          {"-o", "x.png", "-d", "d"},          {"-o", "x.png", "a", "b"},
        {"-o", "x.png", "--size", "all", "a"}, {"-o", ""}, {"-o", "cards/"}, {"-", "a.md", "-"},
    };
    for (const auto& args : bad) EXPECT_TRUE(std::holds_alternative<RenderUsageError>(parseRenderOptions(args)));

    OutputNames names;
    EXPECT_EQ(names.claim("d/a-square.png"), "d/a-square.png");
    EXPECT_EQ(names.claim("d/./a-square.png"), "d/a-square-2.png");
    EXPECT_EQ(names.claim("d/a-square.png"), "d/a-square-3.png");
    // Too long for a file name: shortened before the number and the extension.
    const std::string longStem(300, 'x');
    EXPECT_EQ(names.claim("d/" + longStem + ".png").filename().string(), std::string(251, 'x') + ".png");
    EXPECT_EQ(names.claim("d/" + longStem + ".png").filename().string(), std::string(249, 'x') + "-2.png");
}
