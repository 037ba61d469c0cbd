#pragma once
// The one place that knows how the engine talks to the host page: the scripts it runs and
// the answers it reads back. Headless: it builds and parses text, it never runs it.
//
// The page has two entry points. window.tazuCard(markdown, theme, width, height, wordmark,
// scale) lays out one card. window.tazuCardDraw(options) takes everything as one object:
// the six settings, and beyond them `pages` (lay the note out as a set and show card
// `page`), `showPage` (only show another card of the set laid out last), `report` (measure
// the finished layout) and `plainLayout` (plain line breaking). It returns
// {pages: <cards in the set, 1 for one card>, report: <LayoutReport keys> or null}.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "norvo/CardRequest.hpp"

namespace norvo {

// How one drawing of a card is asked of the page, beyond the card itself.
struct PageDraw {
    bool pages = false;        // the note as a set of cards; the first is shown
    bool report = false;       // measure the finished layout
    bool plainLayout = false;  // plain line breaking: the fallback after a page died
};

// What the page answered for one drawing.
struct PageAnswer {
    std::size_t pages = 1;
    std::optional<LayoutReport> report;
};

namespace PageProtocol {

// The keys of a report, in the order the command line prints them.
inline constexpr const char* kReportKeys = "bodyPx, minPx, cut, overflowX, brokenWords, page, pages";

// A script that sets the card's font, draws `card` and answers with `ticket` and what the
// page measured. Nothing when a text is not valid UTF-8.
std::optional<std::string> drawScript(const CardRequest& card, const PageDraw& how, std::uint64_t ticket);

// A script that shows card `page` of the set the page laid out last and answers likewise.
std::string showPageScript(std::size_t page, bool report, std::uint64_t ticket);

// The page's answer to the script with `ticket`; nothing when the answer is another's, is
// not an answer at all, or tells no card (a page that threw or was replaced answers so).
std::optional<PageAnswer> parseAnswer(std::string_view answer, std::uint64_t ticket);

// A report as one JSON object's members (no braces), keys as kReportKeys; page and pages
// only when `paged`.
std::string reportMembers(const LayoutReport& report, bool paged);

}  // namespace PageProtocol
}  // namespace norvo
