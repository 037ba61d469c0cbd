// The layout report's promises for every corpus note, one theme and size a case (the cases
// run side by side; all but the representative ones are the soak tier's), the scale's bias,
// and what short notes look like.
#include <set>
#include <sstream>

#include "CardDesignSupport.hpp"

using namespace norvo;
using namespace norvo::design;

namespace {

// Whether a note holds nothing but fenced code and headings.
bool isCodeOnly(const std::string& markdown) {
    std::istringstream lines(markdown);
    bool inFence = false, code = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("```", 0) == 0) {
            inFence = !inFence;
            code = true;
        } else if (!inFence && !line.empty() && line[0] != '#') {
            return false;
        }
    }
    return code;
}

// How far any line of a code box's text reaches into its right padding or past its bottom one.
const char* const kCodeIntrusion = R"((() => {
    let worst = 0;
    const range = document.createRange();
    for (const pre of document.querySelectorAll('#content pre')) {
      const box = pre.getBoundingClientRect(), s = getComputedStyle(pre);
      const right = box.right - parseFloat(s.paddingRight), bottom = box.bottom - parseFloat(s.paddingBottom);
      const walker = document.createTreeWalker(pre, NodeFilter.SHOW_TEXT);
      for (let n = walker.nextNode(); n; n = walker.nextNode())
        for (const m of n.data.matchAll(/\S+/g)) {  // a wrapped line's trailing space is not drawn
          range.setStart(n, m.index);
          range.setEnd(n, m.index + m[0].length);
          for (const r of range.getClientRects())
            if (r.width > 0) worst = Math.max(worst, r.right - right, r.bottom - bottom - 0.2 * r.height);
        }
    }
    return String(worst);
  })())";

// How many of the elements `selector` names are set on more than one line.
std::string onSeveralLines(const std::string& selector) {
    return "String(Array.from(document.querySelectorAll('" + selector + "')).filter((f) => new Set(Array.from("
           "f.getClientRects()).filter((r) => r.width > 0).map((r) => Math.round(r.top))).size > 1).length)";
}

// What only some notes promise, on the card the page drew last.
void expectTheNotesOwnPromises(RenderEngine& engine, const std::string& name, const Preset& preset, const nlohmann::json& report,
                               const std::string& what) {
    // Code keeps its box's padding on every side, wrapped or not.
    if (name == "code") {
        EXPECT_LE(std::stod(evaluate(engine.webView(), kCodeIntrusion)), 1.0) << what;
    }
    // A URL breaks at its natural points: it never decides the note's size.
    if (name == "tweet-url") {
        EXPECT_GE(double(report["bodyPx"]), 1.4 * floorFor(preset)) << what;
    }
    // A short formula within a line stays on one line, like a word.
    if (name == "formulas") {
        EXPECT_EQ(evaluate(engine.webView(), onSeveralLines(".formula-short")), "0") << what;
    }
    // A display formula wider than its column breaks into lines at the text's size rather
    // than shrink far under it; punctuation after a formula keeps its line.
    if (name == "formula-taylor-series") {
        EXPECT_GE(double(report["minPx"]), 0.75 * double(report["bodyPx"])) << what;
        EXPECT_EQ(evaluate(engine.webView(), onSeveralLines(".formula-glued")), "0") << what;
    }
    // Landscape flows a list that would run long lines into two columns, larger.
    if (name == "nested-lists" && preset.id == "landscape") {
        EXPECT_GE(double(report["bodyPx"]), 36) << what;
    }
}

// A case is a theme and a size: "paper portrait".
class EveryCorpusNote : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(EveryCorpusNote, KeepsTheLayoutPromises) {
    const std::string param = GetParam(), theme = param.substr(0, param.find(' ')), size = param.substr(theme.size() + 1);
    const Preset preset = Presets::by(size);
    RenderEngine engine;
    for (const auto& [name, markdown] : corpus()) {
        const std::string what = name + " " + theme + " " + size;
        const Rendered r = render(engine, markdown, theme, preset);
        ASSERT_TRUE(r.image) << what;
        ASSERT_TRUE(r.report.is_object()) << what;
        EXPECT_FALSE(r.report["overflowX"]) << what;
        EXPECT_EQ(r.report["brokenWords"], 0) << what;
        EXPECT_EQ(r.report.value("brokenTokens", 0), 0) << what;  // names and options in code stay whole
        if (markdown.empty()) continue;
        // A note that is only a wide table: its words stay whole, the table no smaller than the
        // table minimum; past that, the columns that do not fit are left off (and the card says
        // it is cut).
        if (name.rfind("wide-table-", 0) == 0) {
            EXPECT_GE(double(r.report["minPx"]), 18) << what;
            EXPECT_EQ(r.report["cut"], name == "wide-table-17") << what;
            continue;
        }
        // A note of code (and headings) is set at its code's size, which may be a step under
        // the body's floor: the share code always takes.
        const double floor = floorFor(preset) * (isCodeOnly(markdown) ? 0.86 : 1.0);
        EXPECT_GE(double(r.report["bodyPx"]), floor - 0.01) << what;
        // Only a note longer than the card holds at the smallest size is cut.
        if (name.rfind("long-", 0) == 0 && r.report["cut"]) {
            EXPECT_NEAR(double(r.report["bodyPx"]), floor, 0.01) << what;
        } else {
            EXPECT_FALSE(r.report["cut"]) << what;
        }
        expectTheNotesOwnPromises(engine, name, preset, r.report, what);
    }
}

INSTANTIATE_TEST_SUITE_P(Representative, EveryCorpusNote, ::testing::Values("ink landscape"), caseName);
INSTANTIATE_TEST_SUITE_P(Soak, EveryCorpusNote,
                         ::testing::Values("paper portrait", "paper square", "paper story", "paper landscape", "ink square", "ink portrait",
                                           "ink story", "sky square", "sky portrait", "sky story", "sky landscape"),
                         caseName);

namespace {
class TheScale : public ::testing::TestWithParam<const char*> {};
}  // namespace

// The scale promise, for every note the card holds whole: smaller text at s < 1, never
// smaller text at s > 1. By default on a note of each kind that measures its own size (code,
// tables, formulas, lists); on every note in the soak tier.
TEST_P(TheScale, BiasesTheFitOfEveryNote) {
    const Preset preset = Presets::by(GetParam());
    const std::set<std::string> kinds{"sample", "code-long-names", "table", "wide-table", "formulas", "nested-lists", "tweet-url"};
    RenderEngine engine;
    for (const auto& [name, markdown] : corpus()) {
        if (name.rfind("long-", 0) == 0 || name == "wide-table-17" || markdown.empty()) continue;
        if (!soakCase() && !kinds.count(name)) continue;
        // A note of tables alone may go down to the table minimum before it is cut.
        const bool tablesOnly = name.rfind("wide-table", 0) == 0;
        const std::string what = name + " " + preset.id;
        const auto atOne = render(engine, markdown, "ink", preset).report;
        const auto smaller = render(engine, markdown, "ink", preset, 0.7).report;
        const auto larger = render(engine, markdown, "ink", preset, 1.8).report;
        ASSERT_FALSE(atOne["cut"]) << what;
        EXPECT_FALSE(smaller["cut"]) << what;  // what fits at 1.0 fits smaller
        // (Code kept whole at the width's size measures that size again at each text size: a
        // hundredth of a pixel either way is the same size.)
        EXPECT_LE(double(smaller["bodyPx"]), double(atOne["bodyPx"]) + 0.05) << what;
        EXPECT_GE(double(larger["bodyPx"]), double(atOne["bodyPx"])) << what;  // never smaller at s > 1
        if (!larger["cut"]) {
            EXPECT_GE(double(larger["minPx"]), double(atOne["minPx"])) << what;  // no text smaller at all
        } else {
            // Larger text is cut only when even the smallest larger size does not fit (a code
            // block's text is a little smaller than the body's).
            EXPECT_LE(double(larger["bodyPx"]), std::ceil(floorFor(preset) * 1.8)) << what;
            EXPECT_GE(double(larger["bodyPx"]), tablesOnly ? 18 * 1.8 : floorFor(preset) * 1.8 * 0.85) << what;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Representative, TheScale, ::testing::Values("square"), caseName);
INSTANTIATE_TEST_SUITE_P(Soak, TheScale, ::testing::Values("square", "portrait", "story", "landscape"), caseName);

namespace {

// How many lines each paragraph takes.
const char* const kLinesOfEachParagraph =
    "JSON.stringify(Array.from(document.querySelectorAll('#content p')).map(p=>"
    "Math.round(p.getBoundingClientRect().height/parseFloat(getComputedStyle(p).lineHeight))))";

// How many lines hold a single short word (0 for a note on one line).
const char* const kLoneShortWords = R"((() => {
    const lines = new Map(), range = document.createRange();
    const walker = document.createTreeWalker(document.getElementById('content'), NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode())
      for (const m of n.data.matchAll(/[\p{L}\p{N}']+/gu)) {
        range.setStart(n, m.index);
        range.setEnd(n, m.index + m[0].length);
        const top = Math.round(range.getClientRects()[0].top / 8);
        lines.set(top, (lines.get(top) || []).concat([m[0]]));
      }
    return String(lines.size > 1 ? Array.from(lines.values()).filter(w => w.length === 1 && w[0].length < 8).length : 0);
  })())";

}  // namespace

TEST(CardDesign, ShortNotesAreHeroes) {
    RenderEngine engine;
    const auto notes = corpus();
    const Preset square = Presets::by("square");
    EXPECT_GE(double(render(engine, notes.at("one-liner"), "paper", square).report["bodyPx"]), 100);
    // A single emoji or word is the picture: large, and centred.
    EXPECT_GE(double(render(engine, "\xF0\x9F\x9A\x80", "paper", square).report["bodyPx"]), 400);
    ASSERT_GE(double(render(engine, "Ship", "paper", square).report["bodyPx"]), 300);
    const double middle = std::stod(evaluate(engine.webView(),
        "(()=>{const r=document.createRange();r.selectNodeContents(document.getElementById('content'));"
        "const b=r.getBoundingClientRect(),f=document.querySelector('.card-frame').getBoundingClientRect();"
        "return String((b.left+b.right)/2-(f.left+f.right)/2)})()"));
    EXPECT_LT(std::abs(middle), 3.0);
    for (std::size_t p = 0; p < Presets::all().size(); ++p) {
        const Preset& preset = Presets::all()[p];
        // A haiku's three typed lines are its three lines, in every size.
        render(engine, notes.at("haiku"), "paper", preset);
        EXPECT_EQ(evaluate(engine.webView(), kLinesOfEachParagraph), "[3]") << preset.id;
        // Headlines never leave a short word alone on a line; verse keeps its typed lines;
        // words longer than a column never run into the next one: in every size, in a
        // proportional or a monospaced font in turn.
        const char* font = p % 2 ? "mono" : "sans";
        const std::string what = preset.id + " " + font;
        auto request = [&](const char* name, const char* theme = "paper") {
            return CardRequest{.markdown = notes.at(name), .settings = {.theme = theme, .font = font, .size = preset}};
        };
        for (const char* name : {"one-liner", "short-paragraph"}) {
            draw(engine, request(name));
            EXPECT_EQ(evaluate(engine.webView(), kLoneShortWords), "0") << name << " " << what;
        }
        EXPECT_FALSE(render(engine, request("long-word", "ink")).report["overflowX"]) << "long-word " << what;
        draw(engine, request("poem-hard-breaks"));
        EXPECT_EQ(evaluate(engine.webView(), kLinesOfEachParagraph), "[4,4]") << what;
    }
}
