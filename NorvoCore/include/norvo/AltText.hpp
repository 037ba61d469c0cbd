#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace norvo::AltText {

// What a card says, as plain text to go with its picture (the clipboard's text, a PNG's
// description): the note without front matter and without Markdown's marks (heading and
// quote marks, bullets, emphasis, code fences, link targets, table rules), its line breaks
// kept, at most `maxChars` characters (cut between words, with "…").
// HTML comments are left out, a callout's marker gives its title, highlights and display
// formulas keep their words and TeX.
std::string fromMarkdown(std::string_view markdown, std::size_t maxChars = 2000);

// The first line of what the card says, as plain text: the note's title.
inline constexpr std::size_t kMaxTitleChars = 300;
std::string firstLine(std::string_view markdown);

}  // namespace norvo::AltText
