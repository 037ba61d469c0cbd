#include <gtest/gtest.h>

#include "cli/RenderOptions.hpp"
#include "cli/RunOptionRows.hpp"
#include "cli/StreamRequest.hpp"

#include <map>

using namespace norvo;

TEST(RenderOptions, ParsingAndUsageErrors) {
    // (Each card setting's flag is EverySettingIsTakenAlikeWhereverItIsTyped's.)
    auto ok = std::get<RenderOptions>(parseRenderOptions({"--size", "all", "-d", "out", "a.md"}));
    EXPECT_EQ(ok.presets.size(), 4u);
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
    // What a usage error says names the value and what would do.
    for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--format", "gif"}, "unknown format 'gif' (png, jpeg or webp)"}, {{"--size", "huge"}, "unknown size 'huge'"}}) {
        const auto error = std::get<RenderUsageError>(parseRenderOptions(args));
        EXPECT_NE(error.message.find(says), std::string::npos) << error.message;
    }

    OutputNames names;
    EXPECT_EQ(names.claim("d/a-square.png"), "d/a-square.png");
    EXPECT_EQ(names.claim("d/./a-square.png"), "d/a-square-2.png");
    EXPECT_EQ(names.claim("d/a-square.png"), "d/a-square-3.png");
    // Too long for a file name: shortened before the number and the extension.
    const std::string longStem(300, 'x');
    EXPECT_EQ(names.claim("d/" + longStem + ".png").filename().string(), std::string(251, 'x') + ".png");
    EXPECT_EQ(names.claim("d/" + longStem + ".png").filename().string(), std::string(249, 'x') + "-2.png");
}

// A stream's request line: its settings checked as the options are, its id echoed as it came
// (else its line number), and what is wrong named.
TEST(StreamRequest, ParsedOverTheRunsDefaults) {
    const RenderOptions defaults = std::get<RenderOptions>(parseRenderOptions({"--stream", "--theme", "ink", "-d", "out"}));
    StreamRequest r;
    // (Each card setting a request takes is EverySettingIsTakenAlikeWhereverItIsTyped's.)
    ASSERT_FALSE(parseStreamRequest(R"({"id": {"job": 7}, "markdown": "# Hi", "size": "story", "format": "webp",
                                        "output": "x.webp"})", 3, defaults, r));
    EXPECT_EQ(r.id, R"({"job":7})");
    EXPECT_EQ(r.markdown, "# Hi");
    EXPECT_EQ(r.options.card.theme, "ink");  // the run's default
    EXPECT_EQ(r.options.presets.front().id, "story");  // the size is the one card drawn
    EXPECT_EQ(r.options.format, CardFormats::Format::WebP);
    EXPECT_EQ(r.options.outputFile, std::filesystem::path("x.webp"));
    const std::pair<const char*, const char*> wrong[] = {
        {"[1]", "not a JSON object"},           {R"({"markdown": "x", "colour": "red"})", "unknown key \"colour\""},
        {R"({"theme": "ink"})", "one of them"}, {R"({"markdown": "x", "file": "y"})", "one of them"},
        {R"({"markdown": 3})", "is not text"},  {R"({"markdown": "x", "scale": 9})", "0.5 to 3"},
        {R"({"markdown": "x", "size": "huge"})", "unknown size"},
        {R"({"file": "/nonexistent/note.md"})", "No such file"},
    };
    for (const auto& [line, why] : wrong) {
        StreamRequest bad;
        const auto error = parseStreamRequest(line, 9, defaults, bad);
        ASSERT_TRUE(error) << line;
        EXPECT_NE(error->find(why), std::string::npos) << line << ": " << *error;
        EXPECT_EQ(bad.id, "9");
    }
    // Shards: K of N, each input in exactly one of them.
    const auto two = std::get<RenderOptions>(parseRenderOptions({"--shard", "2/3", "a", "b", "c", "d"}));
    EXPECT_FALSE(two.mine(0));
    EXPECT_TRUE(two.mine(1));
    EXPECT_TRUE(two.mine(4));
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({"--jobs", "2", "a"})).jobs, 2u);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--shard", "0/2", "a"}, {"--shard", "3/2", "a"}, {"--shard", "1.5/2", "a"}, {"--shard", "2", "a"},
             {"--shard", "1/2", "-"}, {"--shard", "1/2", "--watch", "a"}, {"--jobs", "0"}, {"--jobs", "two"}})
        EXPECT_TRUE(std::holds_alternative<RenderUsageError>(parseRenderOptions(args))) << args[1];
    // Requests come on standard input only.
    for (const auto& args : std::vector<std::vector<std::string>>{{"--stream", "a.md"}, {"--stream", "-o", "x.png"}})
        EXPECT_TRUE(std::holds_alternative<RenderUsageError>(parseRenderOptions(args)));
}

// Every card setting is one row: its flag, a note's front matter, a stream request and a draft
// all take the same value to the same card, and each says what a wrong value should be.
TEST(RenderOptions, EverySettingIsTakenAlikeWhereverItIsTyped) {
    const std::map<std::string, std::string> sample = {{"theme", "ink"},     {"font", "mono"},        {"size", "story"},
                                                       {"scale", "1.5"},     {"wordmark", "false"},   {"pages", "true"},
                                                       {"cover", "true"},    {"pageMarks", "none"},   {"split", "headings"}};
    for (const CardSettingRow& row : cardSettingRows()) {
        const std::string key(row.key);
        ASSERT_TRUE(sample.count(key)) << key << ": a setting this test does not know yet";
        const std::string value = sample.at(key);
        CardSettings wanted;
        ASSERT_FALSE(row.take(wanted, value)) << key;
        ASSERT_NE(wanted, CardSettings{}) << key << ": the sample is the default";

        std::vector<std::string> args{std::string(row.flag)};
        if (row.kind != CardSettingRow::Kind::Switch) args.push_back(value);
        const auto flagged = std::get<RenderOptions>(parseRenderOptions(args));
        EXPECT_EQ(row.text(flagged.card), value) << row.flag;

        std::vector<std::string> warnings;
        const NoteSettings note = NoteSettings::of("---\n" + std::string(row.frontMatter) + ": " + value + "\n---\n# x");
        EXPECT_EQ(row.text(overlayFrontMatter(CardSettings{}, note, {}, warnings)), value) << row.frontMatter;
        EXPECT_TRUE(warnings.empty()) << row.frontMatter;

        StreamRequest request;
        const std::string json = row.kind == CardSettingRow::Kind::Choice ? "\"" + value + "\"" : value;
        ASSERT_FALSE(parseStreamRequest("{\"markdown\": \"x\", \"" + key + "\": " + json + "}", 1, RenderOptions{}, request))
            << key;
        EXPECT_EQ(row.text(request.options.card), value) << key;

        EXPECT_EQ(CardSettings::fromJson(wanted.toJson(), CardSettings{}), wanted) << key;

        CardSettings untouched;
        const auto expected = row.take(untouched, "neon");
        ASSERT_TRUE(expected) << key;
        EXPECT_EQ(untouched, CardSettings{}) << key << ": a wrong value changed the settings";
        EXPECT_NE(whyNotASetting(row, "neon", *expected).find("neon"), std::string::npos) << key;
    }
}

// The run's options as their table names them (for --help and the completions) are the ones the
// parser takes: a row's flag and alias, its value, each of its words; --help wins over any
// other answer.
TEST(RenderOptions, EveryOptionOfTheTableIsParsed) {
    for (const RunOptionRow& row : runOptionRows()) {
        for (const std::string_view flag : {row.flag, row.alias}) {
            if (flag.empty()) continue;
            const std::string name(flag);
            const auto alone = parseRenderOptions({name});
            const auto* error = std::get_if<RenderUsageError>(&alone);
            const bool needsValue = error && error->message == "option " + name + " needs a value";
            EXPECT_EQ(needsValue, row.value != OptionValue::None) << name;
            EXPECT_FALSE(error && error->message.find("unknown option") != std::string::npos) << name;
            for (const std::string_view word : row.words)
                EXPECT_TRUE(std::holds_alternative<RenderOptions>(parseRenderOptions({name, std::string(word), "a.md"})))
                    << name << " " << word;
        }
    }
    using A = RenderOptions::Answer;
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({"--list-sizes", "--version", "--help"})).answer, A::Help);
    EXPECT_EQ(std::get<RenderOptions>(parseRenderOptions({"--list-themes", "--list-fonts"})).answer, A::Themes);
    const auto completion = std::get<RenderOptions>(parseRenderOptions({"--completion", "fish"}));
    EXPECT_EQ(completion.answer, A::Completion);
    EXPECT_EQ(completion.shell, "fish");
    EXPECT_TRUE(std::holds_alternative<RenderUsageError>(parseRenderOptions({"--completion", "tcsh"})));
}
