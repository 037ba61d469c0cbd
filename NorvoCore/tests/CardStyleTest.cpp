#include <gtest/gtest.h>

#include "norvo/CardSettings.hpp"
#include "norvo/CardStyle.hpp"
#include "norvo/FrontMatter.hpp"

using namespace norvo;

TEST(CardStyle, FilesReadBackAsWrittenAndAWrongValueNamesItsKey) {
    const std::string text = R"({"accent": "#1A7F64", "unknown": 1,
        "background": {"gradient": ["#ff7e5f", "#FEB"], "angle": 160},
        "fonts": {"body": "Inter", "heading": "fonts/Head.ttf"},
        "signature": {"name": "Ada", "handle": "@ada", "avatar": "me.png"}})";
    const StyleRead read = parseStyle(text, "launch", "/home/u/.config/norvo/styles");
    ASSERT_FALSE(read.problem) << read.problem->message;
    const CardStyle& s = read.style;
    EXPECT_EQ(s.name, "launch");
    EXPECT_EQ(s.accent, "#1a7f64");
    EXPECT_EQ(s.background, CardStyle::Background::Gradient);
    EXPECT_EQ(s.colors, (std::vector<std::string>{"#ff7e5f", "#ffeebb"}));
    EXPECT_EQ(s.angle, 160);
    EXPECT_EQ(s.bodyFont, "Inter");  // a family stays a name, a file becomes a path beside the style
    EXPECT_EQ(s.headingFont, "/home/u/.config/norvo/styles/fonts/Head.ttf");
    EXPECT_EQ(s.avatar, "/home/u/.config/norvo/styles/me.png");
    // Written and read again: the same style, its files still beside it.
    const std::string written = styleJson(s, "/home/u/.config/norvo/styles");
    EXPECT_NE(written.find("\"fonts/Head.ttf\""), std::string::npos);
    EXPECT_EQ(parseStyle(written, "launch", "/home/u/.config/norvo/styles").style, s);
    EXPECT_TRUE(parseStyle("{}", "plain", "/x").style.empty());

    const std::pair<const char*, const char*> wrong[] = {
        {R"({"accent": "teal"})", "accent"},
        {R"({"background": {"color": 12}})", "background.color"},
        {R"({"background": {"gradient": ["#fff"]}})", "background.gradient"},
        {R"({"background": {"pattern": "dots"}})", "background"},
        {R"({"fonts": {"code": 3}})", "fonts.code"},
        {R"({"signature": "Ada"})", "signature"},
        {R"([1, 2])", ""},
        {R"({"accent": )", ""},
    };
    // A signature is cut at its limit, never inside a character.
    const StyleRead cut = parseStyle(R"({"signature": {"name": ")" + std::string(59, 'a') + R"(éé", "handle": ")" +
                                         std::string(39, 'h') + R"(世"}})",
                                     "cut", "/x");
    ASSERT_FALSE(cut.problem);
    EXPECT_EQ(cut.style.signatureName, std::string(59, 'a'));
    EXPECT_EQ(cut.style.signatureHandle, std::string(39, 'h'));
    for (const auto& [json, key] : wrong) {
        const StyleRead bad = parseStyle(json, "bad", "/x");
        ASSERT_TRUE(bad.problem) << json;
        EXPECT_EQ(bad.problem->key, key) << json;
        EXPECT_TRUE(bad.style.empty()) << json;  // the theme, nothing half-applied
    }
}

TEST(CardStyle, FrontMatterSetsANotesOwnLookAndWarnsOfWrongValues) {
    const NoteSettings s = NoteSettings::of(
        "\xEF\xBB\xBF---\r\ntheme: ink\r\nfont: \"serif\"\nsize: story\nscale: 1.4\nwordmark: no\npages: yes\n"
        "style: launch\naccent: '#F50'\nauthor: me\nsplit: headings\n---\n# Body\n");
    EXPECT_EQ(s.style, "launch");
    EXPECT_TRUE(s.warnings.empty());
    std::vector<std::string> none;
    CardSettings asked{.theme = "ink", .font = "serif", .size = Presets::by("story"), .scale = 1.4, .wordmark = false,
                       .pages = true, .splitAtHeadings = true};
    asked.style.accent = "#ff5500";
    EXPECT_EQ(overlayFrontMatter(CardSettings{}, s, {}, none), asked);

    const NoteSettings bad =
        NoteSettings::of("---\ntheme: neon\nsize: huge\nscale: 9\nwordmark: maybe\naccent: red\nsplit: chapters\n---\nx");
    EXPECT_TRUE(bad.values.empty());
    EXPECT_FALSE(bad.accent);
    ASSERT_EQ(bad.warnings.size(), 6u);
    EXPECT_EQ(bad.warnings[0], "theme: \u201cneon\u201d is not paper, ink or sky; the default is used");
    EXPECT_EQ(bad.warnings[5], "split: \u201cchapters\u201d is not auto or headings; the default is used");
    EXPECT_EQ(bad.warnings[1], "size: \u201chuge\u201d is not a size (square, portrait, landscape, story, tall, WIDTHxHEIGHT or long); "
              "the default is used");
    // A note names saved styles only, never a file; thousands of wrong values warn a few times.
    for (const char* file : {"evil.json", "../evil", "/tmp/x", ".hidden"})
        EXPECT_FALSE(NoteSettings::of(std::string("---\nstyle: ") + file + "\n---\nx").style) << file;
    std::string many = "---\n";
    for (int i = 0; i < 30000; ++i) many += "theme: neon\n";
    EXPECT_EQ(NoteSettings::of(many + "---\nx").warnings.size(), 11u);
    // No closing line, or no front matter at all: nothing is read.
    EXPECT_FALSE(NoteSettings::of("---\ntheme: ink\n# no end").sets("theme"));
    EXPECT_FALSE(NoteSettings::of("theme: ink\n").sets("theme"));
}

TEST(CardSettings, TravelAsJsonAndANotesFrontMatterOverlaysThem) {
    CardSettings s{.theme = "ink", .font = "mono", .size = Presets::by("story"), .scale = 1.4, .wordmark = false, .pages = true,
                   .splitAtHeadings = true};
    s.style.name = "Launch";
    EXPECT_EQ(CardSettings::fromJson(s.toJson(), CardSettings{}), s);
    // A value that is not one of its setting's keeps the fallback's; so does a missing one.
    const CardSettings odd = CardSettings::fromJson(R"({"theme": "neon", "scale": "big", "style": "../x", "size": 3})", s);
    EXPECT_EQ(odd, s);

    // The note's own values win for the note; a style it names is looked up, or named as missing.
    std::vector<std::string> warnings;
    const StyleLookup lookup = [](const std::string& name, std::string& problem) -> std::optional<CardStyle> {
        if (name != "Dark") {
            problem = "no such style file";
            return std::nullopt;
        }
        CardStyle dark;
        dark.name = "Dark";
        dark.accent = "#00ff00";
        return dark;
    };
    const CardSettings note = overlayFrontMatter(
        s, NoteSettings::of("---\nsize: square\nstyle: Dark\naccent: '#f50'\nscale: 9\n---\n# x"), lookup, warnings);
    EXPECT_EQ(note.size, Presets::by("square"));
    EXPECT_EQ(note.theme, "ink");
    EXPECT_EQ(note.style.name, "Dark");
    EXPECT_EQ(note.style.accent, "#ff5500");
    ASSERT_EQ(warnings.size(), 1u);  // the scale
    overlayFrontMatter(s, NoteSettings::of("---\nstyle: Gone\n---\n"), lookup, warnings);
    EXPECT_EQ(warnings.back(), "style: \u201cGone\u201d: no such style file; the default is used");
}

// Shell completions offer a row's words: each must be a value the row takes, and gives back.
TEST(CardSettings, EveryWordACompletionOffersIsTaken) {
    for (const CardSettingRow& row : cardSettingRows()) {
        SCOPED_TRACE(std::string(row.key));
        if (row.kind != CardSettingRow::Kind::Choice) {
            EXPECT_FALSE(row.words) << "a number or a switch offers no words";
            continue;
        }
        ASSERT_TRUE(row.words) << "a choice offers its words";
        const std::vector<std::string> words = row.words();
        ASSERT_GE(words.size(), 2u);
        for (const std::string& word : words) {
            CardSettings s;
            EXPECT_FALSE(row.take(s, word)) << word;
            EXPECT_EQ(row.text(s), word);
        }
    }
}
