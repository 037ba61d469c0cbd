#include <gtest/gtest.h>

#include <string>

#include "norvo/Card.hpp"

using norvo::Card::slug;
using norvo::Card::title;

namespace {
struct SlugCase {
    const char* name;
    std::string text;
    std::string expected;
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}
}  // namespace

TEST(CardSlug, Table) {
    const std::vector<SlugCase> cases{
        {"heading", "# Hello World", "hello-world"},
        {"spaces and punctuation", "  ## Hello,   World!  ", "hello-world"},
        {"hashtag", "#hashtag", "hashtag"},
        {"inner hash", "#Hello#", "hello"},
        {"only leading marks stripped", "## Notes #3", "notes-3"},
        {"ampersand", "Salt & Pepper", "salt-pepper"},
        {"digits", "2024 Q1 Review", "2024-q1-review"},
        {"list item", "- item one", "item-one"},
        {"front matter", "---\ntitle: Plan\n---\n\n## Weekly Notes", "weekly-notes"},
        {"unclosed front matter", "---\ntitle: x", "title-x"},
        {"front matter only on line one", "\n---\na: b\n---\nBody", "a-b"},
        {"front matter with padded rules", " --- \nx: y\n\t---\nReal", "real"},
        {"later lines when first blank", "\n\n   \n\tTitle here", "title-here"},
        // A carriage return and a line feed are one character, which divides no lines.
        {"CR LF is one separator", "# Hello\r\nWorld", "hello-world"},
        {"CR LF inside a line", "title\r\n\n# Other", "title"},
        {"byte-order mark", "\xEF\xBB\xBF---\ntitle: Hidden\n---\n\n# Visible title\n", "visible-title"},
        {"empty front matter", "---\n---\n# Shown", "shown"},
        {"accents", "Café Crème", "café-crème"},
        {"combining marks stay", "Cafe\u0301 au lait", "cafe\u0301-au-lait"},
        {"upper-case non-ASCII", "ÉCOLE Über", "école-über"},
        {"full lower-casing", "İstanbul", "i\u0307stanbul"},
        {"CJK", "# 東京の夜", "東京の夜"},
        {"fullwidth space separates", "東京\u3000大阪", "東京-大阪"},
        {"other numbers", "Ⅻ ½ ③", "ⅻ-½-③"},
        {"emoji separate", "Hello 👋🏽 World", "hello-world"},
        {"ZWJ sequence is one separator", "a👩‍👩‍👧b", "a-b"},
        {"flag", "🇫🇷France", "france"},
        {"no-break space is whitespace", "\u00a0Title\u00a0", "title"},
    };
    for (const SlugCase& c : cases) EXPECT_EQ(slug(c.text, "card"), c.expected) << c.name;
}

TEST(CardSlug, FallbackCases) {
    for (const std::string& text :
         {std::string("---"), std::string(""), std::string("  \t\n\n \t"), std::string("!!!"),
          std::string("🎉🎉 🚀"), std::string("#\n<!-- Hello -->"), std::string("#\nHello"), std::string("## \t\n## Real"), std::string("---\n---\n---"),
          std::string("\r\n"), std::string("   ###   ")})
        EXPECT_EQ(slug(text, "card"), "card") << text;
    EXPECT_EQ(slug("", "My Card"), "My Card");  // returned as given, not slugged
}

// The title a card's file carries is its first line as the card shows it: no Markdown, no
// comment, a picture by its description, a formula by its TeX, a callout by its title. The
// file's name keeps the slug's own rule, line as written.
TEST(CardSlug, TitlesAreWhatTheCardShows) {
    EXPECT_EQ(title("![Orbit logo](img/logo-transparent.png)\n\nText"), "Orbit logo");
    EXPECT_EQ(slug("![Orbit logo](img/logo-transparent.png)\n\nText", "card"), "orbit-logo-img-logo-transparent-png");
    EXPECT_EQ(title("#\nHello"), "Hello");
    EXPECT_EQ(title("<!-- draft: do not post -->\n**Launch** day, [see](https://x.example) ==today==\n"),
              "Launch day, see today");
    EXPECT_EQ(title("$$E = mc^2$$"), "E = mc^2");
    EXPECT_EQ(title("> [!TIP] Keep it short\n> body"), "Keep it short");
    EXPECT_EQ(title("> [!WARNING]\n> body"), "Warning");
}

TEST(CardSlug, FiftyCharacterStop) {
    const std::string sixty = repeat("a", 60);
    EXPECT_EQ(slug(sixty, "card"), repeat("a", 50));
    EXPECT_EQ(slug(repeat("b", 49) + " more", "card"), repeat("b", 49));
    EXPECT_EQ(slug(repeat("c", 48) + " d more", "card"), repeat("c", 48) + "-d");
    // The limit counts characters, not bytes: 60 two-scalar clusters keep 50.
    const std::string accented = "e\u0301";
    EXPECT_EQ(slug(repeat(accented, 60), "card"), repeat(accented, 50));
    EXPECT_EQ(slug(repeat("東", 55), "card"), repeat("東", 50));
}

TEST(CardSlug, InvalidUtf8IsReadAsReplacementCharacters) {
    // U+FFFD is a symbol, so each bad byte acts as a separator.
    EXPECT_EQ(slug("abc\xff\xfe" "def", "card"), "abc-def");
    EXPECT_EQ(slug("\xc3", "card"), "card");
    EXPECT_EQ(slug("\xed\xa0\x80x", "card"), "x");  // an encoded surrogate is ill-formed
    EXPECT_EQ(slug(std::string("a\0b", 3), "card"), "a-b");
}

TEST(CardSlug, LongNamesAreShortenedBeforeTheirEnding) {
    // Fifty clusters of many combining marks each: far over a file name's 255 bytes.
    const std::string heavy = repeat("a" + repeat("\u0301", 10), 50);
    const std::string name = norvo::Card::fileName(heavy, "portrait");
    EXPECT_LE(name.size(), norvo::Card::kMaxFileNameBytes);
    EXPECT_EQ(name.substr(name.size() - 13), "-portrait.png");
    EXPECT_EQ(norvo::Card::fileName("", "story"), "card-story.png");
    EXPECT_EQ((name.size() - 13) % 21, 0u) << "cut inside a character";
    EXPECT_EQ(norvo::Card::fitName(repeat("ab-", 100), "-2.png", 20), "ab-ab-ab-ab-ab-2.png");
    EXPECT_EQ(norvo::Card::fitName("short", ".png"), "short.png");
}
