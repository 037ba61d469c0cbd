#include <gtest/gtest.h>

#include "norvo/AltText.hpp"

using norvo::AltText::fromMarkdown;

TEST(AltText, TheNoteWithoutItsMarksAndWithItsLines) {
    const std::string note =
        "---\ntheme: ink\n---\n"
        "# Launch *day* ##\n\n"
        "We did it \xF0\x9F\x9A\x80 \xe2\x80\x94 **thanks** to `ci_build` and [the docs](https://x.org/a_b).\n"
        "A typed line  \nand one more\\\n\n"
        "> Quoted _words_ stay, snake_case stays.\n\n"
        "- [x] first\n- second\n  * nested\n1. one\n2. two\n\n"
        "| Name | Size |\n|---|---:|\n| a | 1 MB |\n\n"
        "---\n\n"
        "```js\nconst *x* = 1;\n```\n"
        "![A red door](door.jpg) and a note[^1] and ~~old~~ \\*literal\\*.\n";
    EXPECT_EQ(fromMarkdown(note),
              "Launch day\n\n"
              "We did it \xF0\x9F\x9A\x80 \xe2\x80\x94 thanks to ci_build and the docs.\n"
              "A typed line\nand one more\n\n"
              "Quoted words stay, snake_case stays.\n\n"
              "first\nsecond\n  nested\n1. one\n2. two\n\n"
              "Name, Size\na, 1 MB\n\n"
              "const *x* = 1;\n"
              "A red door and a note and old *literal*.");

    // Unclosed front matter is text; CRLF lines are lines; nothing left is empty.
    EXPECT_EQ(fromMarkdown("---\nnot: closed\r\n\r\nText"), "not: closed\n\nText");
    EXPECT_EQ(fromMarkdown("  \n\n---\n"), "");

    // A long note is cut between words, under the limit, with an ellipsis.
    std::string words;
    for (int i = 0; i < 600; ++i) words += "w\xC3\xB6rd ";
    const std::string cut = fromMarkdown(words, 2000);
    EXPECT_EQ(cut.substr(cut.size() - 9), " w\xC3\xB6rd\xE2\x80\xA6");  // a whole word, then the ellipsis
    EXPECT_LE(cut.size(), 2000u * 2);
    EXPECT_GT(cut.size(), 1900u);

    // The largest note, one line of emphasis marks: cut, not a crash.
    std::string marks;
    while (marks.size() < 1024 * 1024) marks += "*a";
    const std::string fromMarks = fromMarkdown(marks);
    EXPECT_LE(fromMarks.size(), 2000u + 2);  // ASCII, and the ellipsis's three bytes
    EXPECT_GT(fromMarks.size(), 1000u);
}

// What note apps write: comments never reach the words (code keeps its own), a callout says
// its title, a highlight its words; a note of openers that never close stays quick.
TEST(AltText, CommentsCalloutsAndHighlights) {
    EXPECT_EQ(fromMarkdown("Visible <!-- secret --> text\n\n<!--\nhidden\n\nstill hidden\n-->\nAfter"),
              "Visible  text\n\nAfter");
    EXPECT_EQ(fromMarkdown("```\n<!-- shown -->\n```\n`<!-- too -->` <!-- not -->"), "<!-- shown -->\n<!-- too -->");
    EXPECT_EQ(fromMarkdown("<!-- never closed\nText"), "<!-- never closed\nText");
    EXPECT_EQ(fromMarkdown("> [!NOTE]\n> Drink ==water== daily.\n\n> [!caution]+ Hot surface"),
              "Note\nDrink water daily.\n\nHot surface");
    std::string openers;
    while (openers.size() < 1024 * 1024) openers += "<!--\n";
    EXPECT_EQ(fromMarkdown(openers, 10).substr(0, 4), "<!--");
}
