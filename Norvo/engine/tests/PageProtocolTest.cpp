// The page protocol by meaning: what a script asks of the page is read back out of it, and
// answers are parsed (or refused) as the page would give them.
#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "engine/PageProtocol.hpp"

using namespace norvo;
using nlohmann::json;

namespace {

// The options object a draw script hands to window.tazuCardDraw.
json optionsIn(const std::string& script) {
    const std::string call = "window.tazuCardDraw(";
    const auto start = script.find(call) + call.size();
    const auto end = script.find(");return JSON.stringify(", start);
    return json::parse(script.substr(start, end - start), nullptr, false);
}

// The font stack a script sets on the card.
std::string fontIn(const std::string& script) {
    const std::string set = ".style.fontFamily=";
    const auto start = script.find(set) + set.size();
    return json::parse(script.substr(start, script.find(";var a=", start) - start));
}

}  // namespace

TEST(PageProtocol, DrawScriptCarriesTheCardWhole) {
    CardRequest card{.markdown = "a\"b\\c\nd</script>é 東京 \u2028",
                     .settings = {.theme = "ink", .font = "mono", .size = Presets::by("landscape"), .scale = 1.25, .wordmark = false}};
    const auto script = PageProtocol::drawScript(card, PageDraw{true, true, true}, 42);
    ASSERT_TRUE(script);
    const json o = optionsIn(*script);
    EXPECT_EQ(o["markdown"], card.markdown);
    EXPECT_EQ(o["theme"], "ink");
    EXPECT_EQ(o["width"], 1200);
    EXPECT_EQ(o["height"], 630);
    EXPECT_EQ(o["wordmark"], false);
    EXPECT_EQ(o["scale"], 1.25);
    EXPECT_EQ(o["pages"], true);
    EXPECT_EQ(o["report"], true);
    EXPECT_EQ(o["plainLayout"], true);
    EXPECT_EQ(fontIn(*script), "'SF Mono', ui-monospace, Menlo, monospace");

    // A single card asks for no set; unknown fonts fall back to sans; a scale that is not a
    // number reaches the page as null (which it draws at normal size).
    card.settings.font = "Serif";
    card.settings.scale = NAN;
    const auto plain = PageProtocol::drawScript(card, PageDraw{}, 1);
    EXPECT_FALSE(optionsIn(*plain).contains("pages"));
    EXPECT_TRUE(optionsIn(*plain)["scale"].is_null());
    EXPECT_EQ(fontIn(*plain).rfind("-apple-system", 0), 0u);

    card.markdown = "bad \xff";
    EXPECT_FALSE(PageProtocol::drawScript(card, PageDraw{}, 1));
}

TEST(PageProtocol, AnswersAreTheirTicketsOrNothing) {
    const LayoutReport measured{62.5, 31, true, false, 2, 3, 5};
    const json report = {{"bodyPx", 62.5}, {"minPx", 31}, {"cut", true}, {"overflowX", false},
                         {"brokenWords", 2}, {"minContrast", 4.87}, {"page", 3}, {"pages", 5}, {"brokenTokens", 1}};
    const auto answer = PageProtocol::parseAnswer(json{{"ticket", "7"}, {"pages", 5}, {"report", report}}.dump(), 7);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->pages, 5u);
    ASSERT_TRUE(answer->report);
    EXPECT_EQ(answer->report->bodyPx, measured.bodyPx);
    EXPECT_EQ(answer->report->brokenWords, 2);
    EXPECT_EQ(answer->report->brokenTokens, 1);
    EXPECT_EQ(answer->report->page, 3u);

    // Round trip: what the command line prints reads back as the same report.
    const json printed = json::parse("{" + PageProtocol::reportMembers(*answer->report, true) + "}");
    EXPECT_EQ(printed, report);
    EXPECT_EQ(PageProtocol::reportMembers(LayoutReport{63, 63, false, false, 0, 1, 1}, false),
              "\"bodyPx\":63,\"minPx\":63,\"cut\":false,\"overflowX\":false,\"brokenWords\":0,\"minContrast\":0");

    EXPECT_FALSE(PageProtocol::parseAnswer(json{{"ticket", "7"}, {"pages", 1}, {"report", nullptr}}.dump(), 8));
    EXPECT_FALSE(PageProtocol::parseAnswer(json{{"ticket", "7"}, {"pages", 0}, {"report", nullptr}}.dump(), 7));
    EXPECT_FALSE(PageProtocol::parseAnswer(json{{"ticket", "7"}, {"pages", 1}, {"report", {{"bodyPx", 1}}}}.dump(), 7));
    EXPECT_FALSE(PageProtocol::parseAnswer("7", 7));
    EXPECT_FALSE(PageProtocol::parseAnswer("", 7));
    EXPECT_FALSE(PageProtocol::parseAnswer(R"({"ticket":"18446744073709551615","pages":1})", 18446744073709551614u));
    EXPECT_TRUE(PageProtocol::parseAnswer(R"({"ticket":"18446744073709551615","pages":1,"report":null})",
                                          18446744073709551615u));
}
