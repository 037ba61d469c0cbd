#pragma once
// The one place that knows how the engine talks to the host page: the scripts it runs and
// the answers it reads back. Headless: it builds and parses text, it never runs it.
//
// The page's own entry point for the engine is window.tazuCardDraw(options): the card's
// values (markdown, theme, width, height, wordmark, scale), the set's (`pages`, `cover`,
// `pageMarks`, `split`), `grows` for a long picture, the pictures, style and backdrop it is
// served, `showPage` (only show another card of the set laid out last), `report` (measure the
// finished layout) and `plainLayout` (plain line breaking); host.js lists them all. It returns
// {pages: <cards in the set, 1 for one card>, report: <LayoutReport keys> or null, pending,
// height}. window.tazuCard(markdown, theme, width, height, wordmark, scale) stays for callers
// of the page's first form.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "norvo/CardRequest.hpp"
#include "norvo/CardStyle.hpp"

namespace norvo {

// A picture the app serves to the page: its address there and its own size, upright.
struct ServedPicture {
    std::string uri;
    int width = 0, height = 0;
};

// The card's style as the page gets it: its pictures and font files served by the app.
struct ServedStyle {
    CardStyle style;  // what could not be served is left out (a background falls back to the theme)
    ServedPicture image;  // the background picture, with its luminance grid
    int gridWidth = 0, gridHeight = 0;
    std::vector<std::uint8_t> darkest, lightest;
    std::string avatarUri;
    std::map<std::string, std::string> fontUris;  // by role (body, heading, code): font files
};

// How one drawing of a card is asked of the page, beyond the card itself.
struct PageDraw {
    bool pages = false;        // the note as a set of cards; the first is shown
    bool report = false;       // measure the finished layout
    bool plainLayout = false;  // plain line breaking: the fallback after a page died
    std::map<std::string, ServedPicture> pictures{};  // by the target the note names
    std::optional<ServedStyle> style{};
    std::optional<std::string> backdrop{};  // the address of the backdrop the app painted
};

// What the page answered for one drawing.
struct PageAnswer {
    std::size_t pages = 1;
    std::optional<LayoutReport> report;
    bool pending = false;  // a picture is still on its way: wait for it before the snapshot
    double height = 0;     // the card's height in CSS pixels (a long picture's, as laid out)
};

namespace PageProtocol {

// The keys of a report, in the order the command line prints them.
inline constexpr const char* kReportKeys = "bodyPx, minPx, cut, overflowX, brokenWords, minContrast, page, pages";

// A script that sets the card's font, draws `card` and answers with `ticket` and what the
// page measured. Nothing when a text is not valid UTF-8.
std::optional<std::string> drawScript(const CardRequest& card, const PageDraw& how, std::uint64_t ticket);

// Whether a note needs the page's preparing before it is drawn: it may hold a formula (the
// page loads KaTeX first) or name pictures (the app serves them first).
bool needsPreparing(const std::string& markdown, const std::optional<ServedStyle>& style = std::nullopt);
// The body of an async function that prepares the page for `card` (and the fonts of its
// style) and answers with the pictures it names; nothing when a text is not valid UTF-8.
std::optional<std::string> prepareScript(const CardRequest& card, const std::optional<ServedStyle>& style = std::nullopt);
// What the page's preparing answered: the pictures the note names, in order, and the roles
// (body, heading, code) whose font file the page could not load.
struct Prepared {
    std::vector<std::string> pictures;
    std::vector<std::string> failedFonts;
};
// Nothing when it is not such an answer.
std::optional<Prepared> parsePrepared(std::string_view answer);
// The body of an async function that answers once every picture on the card is decoded.
// With `viewHeight`, also waits (a second at most) for the view to be that tall: a long
// picture's view grows once it is laid out.
std::string picturesReadyScript(std::int64_t viewHeight = 0);

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
