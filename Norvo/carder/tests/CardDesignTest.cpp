// The card's design promises, measured on rendered cards: the layout report of every
// corpus note in every theme and size, and text contrast sampled from pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <nlohmann/json.hpp>

#include "TestSupport.hpp"
#include "WebTestSupport.hpp"
#include "engine/PageProtocol.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/CardStyle.hpp"
#include "norvo/Catalogue.hpp"
#include "support/GPtr.hpp"
#include "support/StyleFiles.hpp"

using namespace norvo;
using namespace std::chrono_literals;
using norvo::testing::evaluate;
using norvo::testing::runUntil;

namespace {

std::map<std::string, std::string> corpus() {
    std::map<std::string, std::string> notes;
    for (const auto& entry : std::filesystem::directory_iterator(NORVO_TEST_CORPUS)) {
        if (entry.path().extension() != ".md") continue;  // the notes' pictures lie beside them
        std::ifstream in(entry.path(), std::ios::binary);
        notes[entry.path().stem().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return notes;
}

nlohmann::json asJson(const LayoutReport& report) {
    return nlohmann::json::parse("{" + PageProtocol::reportMembers(report, true) + "}");
}

struct Rendered {
    CardImagePtr image;
    nlohmann::json report;
};

Rendered render(RenderEngine& engine, const CardRequest& request) {
    Rendered out;
    bool done = false;
    engine.renderWithReport(request, [&](RenderedCard card) {
        out.image = std::move(card.image);
        if (out.image) out.report = asJson(card.report);
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }, 30s));
    return out;
}

Rendered render(RenderEngine& engine, const std::string& markdown, const std::string& theme, const Preset& preset,
                double scale = 1.0) {
    return render(engine, CardRequest{.markdown = markdown, .settings = {.theme = theme, .size = preset, .scale = scale}});
}

double floorFor(const Preset& preset) { return preset.width > preset.height ? 22 : 26; }

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

// WCAG relative luminance of a BGRA pixel (opaque cards).
double luminance(const std::uint8_t* bgra) {
    auto channel = [](std::uint8_t v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(bgra[2]) + 0.7152 * channel(bgra[1]) + 0.0722 * channel(bgra[0]);
}

double contrast(double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); }

}  // namespace

TEST(CardDesign, EveryCorpusNoteKeepsTheLayoutPromises) {
    RenderEngine engine;
    for (const auto& [name, markdown] : corpus()) {
        const bool mayBeCut = name.rfind("long-", 0) == 0;
        for (const char* theme : {"paper", "ink", "sky"}) {
            for (const Preset& preset : Presets::all()) {
                const std::string what = name + " " + theme + " " + preset.id;
                const Rendered r = render(engine, markdown, theme, preset);
                ASSERT_TRUE(r.image) << what;
                ASSERT_TRUE(r.report.is_object()) << what;
                EXPECT_FALSE(r.report["overflowX"]) << what;
                EXPECT_EQ(r.report["brokenWords"], 0) << what;
                EXPECT_EQ(r.report.value("brokenTokens", 0), 0) << what;  // names and options in code stay whole
                if (markdown.empty()) continue;
                // A note that is only a wide table: its words stay whole, the table no smaller
                // than the table minimum; past that, the columns that do not fit are left off
                // (and the card says it is cut).
                if (name.rfind("wide-table-", 0) == 0) {
                    EXPECT_GE(double(r.report["minPx"]), 18) << what;
                    EXPECT_EQ(r.report["cut"], name == "wide-table-17") << what;
                    continue;
                }
                // A note of code (and headings) is set at its code's size, which may be a step
                // under the body's floor: the share code always takes.
                const double floor = floorFor(preset) * (isCodeOnly(markdown) ? 0.86 : 1.0);
                EXPECT_GE(double(r.report["bodyPx"]), floor - 0.01) << what;
                // Only a note longer than the card holds at the smallest size is cut.
                if (mayBeCut && r.report["cut"]) {
                    EXPECT_NEAR(double(r.report["bodyPx"]), floor, 0.01) << what;
                } else {
                    EXPECT_FALSE(r.report["cut"]) << what;
                }
                // Code keeps its box's padding on every side, wrapped or not: how far any line's
                // text reaches into the right padding or past the bottom one.
                if (name == "code") {
                    const double intrusion = std::stod(evaluate(engine.webView(), R"((() => {
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
                      })())"));
                    EXPECT_LE(intrusion, 1.0) << what;
                }
                // A URL breaks at its natural points: it never decides the note's size.
                if (name == "tweet-url") {
                    EXPECT_GE(double(r.report["bodyPx"]), 1.4 * floorFor(preset)) << what;
                }
                // A short formula within a line stays on one line, like a word.
                if (name == "formulas") {
                    EXPECT_EQ(evaluate(engine.webView(), R"(String(Array.from(document.querySelectorAll('.formula-short'))
                        .filter(function (f) {
                          const tops = Array.from(f.getClientRects()).filter(function (r) { return r.width > 0; })
                                           .map(function (r) { return Math.round(r.top); });
                          return new Set(tops).size > 1;
                        }).length))"),
                              "0")
                        << what;
                }
                // A display formula wider than its column breaks into lines at the text's size
                // rather than shrink far under it; punctuation after a formula keeps its line.
                if (name == "formula-taylor-series") {
                    EXPECT_GE(double(r.report["minPx"]), 0.75 * double(r.report["bodyPx"])) << what;
                    EXPECT_EQ(evaluate(engine.webView(), R"(String(Array.from(document.querySelectorAll('.formula-glued'))
                        .filter((g) => new Set(Array.from(g.getClientRects()).filter((r) => r.width > 0)
                                                     .map((r) => Math.round(r.top))).size > 1).length))"),
                              "0")
                        << what;
                }
                // Landscape flows a list that would run long lines into two columns, larger.
                if (name == "nested-lists" && preset.id == "landscape") {
                    EXPECT_GE(double(r.report["bodyPx"]), 36) << what;
                }
            }
        }
    }
}

TEST(CardDesign, ShortNotesAreHeroesAndTheScaleBiasesTheFit) {
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
    // A haiku's three typed lines are its three lines, in every size.
    for (const Preset& preset : Presets::all()) {
        render(engine, notes.at("haiku"), "paper", preset);
        const std::string lines = evaluate(engine.webView(),
            "(()=>{const p=document.querySelector('#content p');"
            "return String(Math.round(p.getBoundingClientRect().height/parseFloat(getComputedStyle(p).lineHeight)))})()");
        EXPECT_EQ(lines, "3") << preset.id;
    }

    // Headlines never leave a short word alone on a line; verse keeps its typed lines.
    const char* linesOfEachParagraph =
        "JSON.stringify(Array.from(document.querySelectorAll('#content p')).map(p=>"
        "Math.round(p.getBoundingClientRect().height/parseFloat(getComputedStyle(p).lineHeight))))";
    const char* loneShortWords = R"((() => {
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
    for (const Preset& preset : Presets::all()) {
        for (const char* font : {"sans", "mono"}) {
            const std::string what = preset.id + " " + font;
            for (const char* name : {"one-liner", "short-paragraph"}) {
                bool done = false;
                engine.render(CardRequest{.markdown = notes.at(name), .settings = {.font = font, .size = preset}}, [&](CardImagePtr) { done = true; });
                ASSERT_TRUE(runUntil([&] { return done; }, 30s));
                EXPECT_EQ(evaluate(engine.webView(), loneShortWords), "0") << name << " " << what;
            }
            // Words longer than a column never run into the next one.
            const auto longWord = render(engine, CardRequest{.markdown = notes.at("long-word"), .settings = {.theme = "ink", .font = font, .size = preset}}).report;
            EXPECT_FALSE(longWord["overflowX"]) << "long-word " << what;
            bool done = false;
            engine.render(CardRequest{.markdown = notes.at("poem-hard-breaks"), .settings = {.font = font, .size = preset}},
                          [&](CardImagePtr) { done = true; });
            ASSERT_TRUE(runUntil([&] { return done; }, 30s));
            EXPECT_EQ(evaluate(engine.webView(), linesOfEachParagraph), "[4,4]") << what;
        }
    }

    // The scale promise, for every note the card holds whole: smaller text at s < 1, never
    // smaller text at s > 1.
    for (const auto& [name, markdown] : notes) {
        if (name.rfind("long-", 0) == 0 || name == "wide-table-17" || markdown.empty()) continue;
        // A note of tables alone may go down to the table minimum before it is cut.
        const bool tablesOnly = name.rfind("wide-table", 0) == 0;
        for (const Preset& preset : Presets::all()) {
            const std::string what = name + " " + preset.id;
            const auto atOne = render(engine, markdown, "ink", preset).report;
            const auto smaller = render(engine, markdown, "ink", preset, 0.7).report;
            const auto larger = render(engine, markdown, "ink", preset, 1.8).report;
            ASSERT_FALSE(atOne["cut"]) << what;
            EXPECT_FALSE(smaller["cut"]) << what;  // what fits at 1.0 fits smaller
            // (Code kept whole at the width's size measures that size again at each text size:
            // a hundredth of a pixel either way is the same size.)
            EXPECT_LE(double(smaller["bodyPx"]), double(atOne["bodyPx"]) + 0.05) << what;
            EXPECT_GE(double(larger["bodyPx"]), double(atOne["bodyPx"])) << what;  // never smaller at s > 1
            if (!larger["cut"]) {
                EXPECT_GE(double(larger["minPx"]), double(atOne["minPx"])) << what;  // no text smaller at all
            }
            // Larger text is cut only when even the smallest larger size does not fit (a
            // code block's text is a little smaller than the body's).
            if (larger["cut"]) {
                EXPECT_LE(double(larger["bodyPx"]), std::ceil(floorFor(preset) * 1.8)) << what;
                EXPECT_GE(double(larger["bodyPx"]), tablesOnly ? 18 * 1.8 : floorFor(preset) * 1.8 * 0.85) << what;
            }
        }
    }
}

TEST(CardDesign, TextContrastMeasuredOnPixels) {
    RenderEngine engine;
    // Every kind of text near the top, in the middle and near the bottom of the card.
    const std::string kindsOfText =
        "###### Muted heading\n\nBody text on the card.\n\n> A quoted line\n\n"
        "[Link text](https://example.org) and ~~struck text~~ and `code text`\n\n"
        "| Name | Size |\n|---|---:|\n| Table text | 1.2 MB |\n\n---\n\n";
    const std::string note = kindsOfText + kindsOfText + kindsOfText + "```{1} ln\nA marked code line\n```\n";
    // What each kind of text is, and the contrast it needs.
    const std::vector<std::tuple<std::string, std::string, double>> kinds = {
        {"body", "p", 4.5},          {"muted heading", "h6", 4.5}, {"quote", "blockquote p", 4.5},
        {"link", "a", 4.5},          {"struck", "s", 4.5},       {"code", "code", 4.5},
        {"table", "td", 4.5},        {"wordmark", ".wordmark-text", 3.0}, {"table rule", "rule", 3.0},
        {"thematic break", "hr", 3.0},   {"marked code", ".code-line.marked", 4.5},
        {"line number", ".line-number", 4.5},
    };
    const std::string rectsScript = R"(JSON.stringify((() => {
        const out = {};
        const range = document.createRange();
        for (const sel of )" + [&] {
        nlohmann::json selectors = nlohmann::json::array();
        for (const auto& k : kinds) selectors.push_back(std::get<1>(k));
        return selectors.dump();
    }() + R"() {
          out[sel] = [];
          if (sel === 'hr') {
            for (const hr of document.querySelectorAll('hr')) {
              const r = hr.getBoundingClientRect();
              out[sel].push([r.left + 4, r.top - 1, r.width - 8, r.height + 2]);
            }
            continue;
          }
          if (sel === 'rule') {
            for (const td of document.querySelectorAll('td')) {
              const r = td.getBoundingClientRect(), w = parseFloat(getComputedStyle(td).borderBottomWidth);
              out[sel].push([r.left + 4, r.bottom - w, r.width - 8, 2 * w]);
            }
            continue;
          }
          for (const el of document.querySelectorAll(sel))
            for (const n of el.childNodes) {
              if (n.nodeType !== 3 || !n.data.trim()) continue;
              range.selectNodeContents(n);
              for (const r of range.getClientRects()) out[sel].push([r.left, r.top, r.width, r.height]);
            }
        }
        return out;
    })()))";
    const std::string hideText =
        "(()=>{const s=document.createElement('style');s.id='hide-text';s.textContent="
        "'#card *{color:transparent!important;-webkit-text-fill-color:transparent!important;"
        "text-shadow:none!important;text-decoration-color:transparent!important}"
        "td,th{border-color:transparent!important}hr{visibility:hidden!important}';"
        "document.head.appendChild(s);return 1})()";

    for (const char* theme : {"paper", "ink", "sky"}) {
        // A story card: the note spans its whole height, bands of the backdrop included.
        const Preset story = Presets::by("story");
        const Rendered card = render(engine, note, theme, story);
        ASSERT_FALSE(card.report["cut"]);
        const CardImagePtr shown = card.image;
        const auto rects = nlohmann::json::parse(evaluate(engine.webView(), rectsScript));
        // A quote is set in the body's ink, not muted.
        EXPECT_EQ(evaluate(engine.webView(), "String(getComputedStyle(document.querySelector('blockquote p')).color === "
                                             "getComputedStyle(document.querySelector('#content > p')).color)"),
                  "true") << theme;
        evaluate(engine.webView(), hideText);
        const CardImagePtr backdrop = render(engine, note, theme, story).image;
        evaluate(engine.webView(), "document.getElementById('hide-text').remove();1");
        ASSERT_TRUE(shown && backdrop);

        std::string figures;
        for (const auto& [kind, selector, needed] : kinds) {
            // The pixels that differ most between the card and its backdrop are the glyphs'
            // cores; their colour against the backdrop behind them is the contrast. Every
            // line is measured on its own; the figure is the weakest line's.
            double ratio = 100;
            int measured = 0;
            for (const auto& r : rects[selector]) {
                const int x0 = std::max(0, int(std::floor(double(r[0])))), y0 = std::max(0, int(std::floor(double(r[1]))));
                const int x1 = std::min(shown->width(), int(std::ceil(double(r[0]) + double(r[2]))));
                const int y1 = std::min(shown->height(), int(std::ceil(double(r[1]) + double(r[3]))));
                std::vector<double> pixels;
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x)
                        pixels.push_back(contrast(luminance(shown->row(y) + 4 * x), luminance(backdrop->row(y) + 4 * x)));
                if (pixels.size() < 160) continue;
                std::sort(pixels.begin(), pixels.end(), std::greater<>());
                const std::size_t cores = pixels.size() / 20;
                ratio = std::min(ratio, pixels[cores / 2]);
                ++measured;
            }
            ASSERT_GE(measured, 1) << theme << " " << kind;
            char line[96];
            std::snprintf(line, sizeof line, "%s %.1f, ", kind.c_str(), ratio);
            figures += line;
            EXPECT_GE(ratio, needed) << theme << " " << kind;
        }
        std::printf("contrast %s: %s\n", theme, figures.c_str());
    }
}

namespace {

struct PageSet {
    std::vector<CardImagePtr> images;
    std::vector<nlohmann::json> reports;
};

PageSet renderPages(RenderEngine& engine, const CardRequest& request) {
    PageSet out;
    bool done = false;
    engine.renderPages(request,
                       [&](std::vector<RenderedCard> cards) {
                           for (RenderedCard& c : cards) {
                               out.images.push_back(std::move(c.image));
                               out.reports.push_back(asJson(c.report));
                           }
                           done = true;
                       });
    EXPECT_TRUE(runUntil([&] { return done; }, 60s));
    return out;
}

PageSet renderPages(RenderEngine& engine, const std::string& markdown, const Preset& preset) {
    return renderPages(engine, CardRequest{.markdown = markdown, .settings = {.theme = "ink", .size = preset}});
}

}  // namespace

TEST(CardDesign, LongNotesBecomeSetsOfWholeCards) {
    RenderEngine engine;
    const auto notes = corpus();
    const std::string essay = notes.at("long-6000");
    for (const Preset& preset : Presets::all()) {
        const PageSet set = renderPages(engine, essay, preset);
        ASSERT_GE(set.images.size(), 2u) << preset.id;
        ASSERT_EQ(set.reports.size(), set.images.size());
        const double single = double(render(engine, essay, "ink", preset).report["bodyPx"]);
        for (std::size_t i = 0; i < set.images.size(); ++i) {
            const auto& r = set.reports[i];
            const std::string what = preset.id + " page " + std::to_string(i + 1);
            EXPECT_EQ(set.images[i]->width(), preset.width) << what;
            EXPECT_EQ(set.images[i]->height(), preset.height) << what;
            EXPECT_EQ(r["page"], i + 1) << what;
            EXPECT_EQ(r["pages"], set.images.size()) << what;
            EXPECT_FALSE(r["cut"]) << what;
            EXPECT_FALSE(r["overflowX"]) << what;
            EXPECT_EQ(r["brokenWords"], 0) << what;
            EXPECT_GE(double(r["bodyPx"]), single) << what;  // never smaller than on one card
        }
    }

    // A thematic break starts a new card; a short note stays one card (with no page mark).
    const Preset square = Presets::by("square");
    for (const Preset& preset : {square, Presets::by("landscape")})
        EXPECT_EQ(renderPages(engine, "First thought.\n\n---\n\nSecond thought.", preset).images.size(), 2u) << preset.id;
    const PageSet one = renderPages(engine, notes.at("sample"), square);
    ASSERT_EQ(one.images.size(), 1u);
    EXPECT_EQ(one.reports[0]["pages"], 1);

    // At most 20 cards: what is left is cut on the last one.
    std::string endless;
    while (endless.size() < 120'000) endless += essay;
    const PageSet capped = renderPages(engine, endless, square);
    ASSERT_EQ(capped.images.size(), 20u);
    EXPECT_FALSE(capped.reports[18]["cut"]);
    EXPECT_TRUE(capped.reports[19]["cut"]);
}

TEST(CardDesign, ATableOnSeveralCardsRepeatsItsHeader) {
    RenderEngine engine;
    std::string table = "## Measurements\n\n| Sample | Length | Weight |\n|---|---:|---:|\n";
    for (int i = 1; i <= 120; ++i)
        table += "| Sample " + std::to_string(i) + " | " + std::to_string(i * 3) + " cm | " + std::to_string(i * 7) +
                 " g |\n";
    const PageSet set = renderPages(engine, table, Presets::by("square"));
    ASSERT_GE(set.images.size(), 2u);
    // The table goes on under its header on every card after the first (the last layout is
    // still in the page).
    const std::string repeated =
        evaluate(engine.webView(), "String(document.querySelectorAll('table.continued thead').length)");
    EXPECT_EQ(repeated, std::to_string(set.images.size() - 1));
    for (const auto& r : set.reports) EXPECT_FALSE(r["cut"]);
}

namespace {

// Reads the laid-out set (every card is in the page side by side; the frame shows one) and
// counts what a typesetter would fix: a card that ends on a heading, a paragraph that leaves
// one line alone at the foot or the head of a card, a short code block split over two cards
// (a longer one keeps three lines on each side), a table piece without its header, and a
// last card with less than a quarter of a card's text.
const char* kBookBreaksProbe = R"(JSON.stringify((() => {
  const frame = document.querySelector('.card-frame'), content = document.getElementById('content');
  content.style.transform = '';
  const area = frame.getBoundingClientRect();
  const step = area.width + parseFloat(getComputedStyle(content).getPropertyValue('--page-gap'));
  const cardOf = (r) => Math.floor((r.left - area.left + 1) / step);
  const blocks = new Map();  // block -> [{card, top, bottom}] one per line
  const range = document.createRange();
  const walker = document.createTreeWalker(content, NodeFilter.SHOW_TEXT);
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    if (!n.data.trim()) continue;
    const block = n.parentElement.closest('p, h1, h2, h3, h4, h5, h6, pre, th, td, li');
    range.selectNodeContents(n);
    for (const r of range.getClientRects()) {
      if (r.height <= 0 || r.width <= 0) continue;
      const lines = blocks.get(block) || [];
      const card = cardOf(r);
      if (!lines.some((l) => l.card === card && Math.abs(l.top - r.top) < r.height / 2)) lines.push({card: card, top: r.top, bottom: r.bottom, left: r.left});
      blocks.set(block, lines);
    }
  }
  const flaws = [];
  const last = new Map();  // card -> the block of its last line in reading order
  let cards = 0, lastCardTop = Infinity, lastCardBottom = -Infinity;
  for (const [block, lines] of blocks) for (const l of lines) cards = Math.max(cards, l.card + 1);
  for (const [block, lines] of blocks) {
    const perCard = new Map();
    for (const l of lines) {
      perCard.set(l.card, (perCard.get(l.card) || 0) + 1);
      last.set(l.card, block);
      if (l.card === cards - 1) { lastCardTop = Math.min(lastCardTop, l.top); lastCardBottom = Math.max(lastCardBottom, l.bottom); }
    }
    if (perCard.size < 2 || block.closest('table')) continue;
    const counts = Array.from(perCard.values());
    const code = block.tagName === 'PRE';
    const what = block.tagName + ' "' + block.textContent.slice(0, 30) + '"';
    if (code && lines.length <= 12) flaws.push('short code split: ' + what);
    else if (Math.min.apply(null, counts) < (code ? 3 : 2)) flaws.push('lone line: ' + what + ' ' + counts.join('/'));
  }
  for (const [card, block] of last)
    if (card < cards - 1 && /^H[1-6]$/.test(block.tagName)) flaws.push('card ' + (card + 1) + ' ends on heading ' + block.textContent);
  // A code box is closed on each card it runs over: never cut by a card's edge.
  for (const pre of content.querySelectorAll('pre')) {
    const on = new Set(Array.from(pre.getClientRects()).filter((r) => r.height > 0).map((r) => cardOf(r)));
    if (on.size > 1) flaws.push('code box cut between cards: ' + pre.textContent.slice(0, 30));
  }
  // A marked range of code lines is read on one card.
  for (const pre of content.querySelectorAll('pre')) {
    const marked = Array.from(pre.querySelectorAll('.code-line.marked'));
    const on = new Set(marked.map((line) => cardOf(line.getBoundingClientRect())));
    if (marked.length && marked.length <= 12 && on.size > 1) flaws.push('marked lines split: ' + marked[0].textContent);
  }
  // A lead-in ("type:") stays with what it introduces.
  for (const [card, block] of last) {
    const next = block.nextElementSibling;
    if (card < cards - 1 && block.tagName === 'P' && /:\s*$/.test(block.textContent) && next &&
        /^(PRE|UL|OL|TABLE)$/.test(next.tagName)) flaws.push('card ' + (card + 1) + ' ends on lead-in ' + block.textContent);
  }
  // No card of a set holds only a line or two (a sign-off after a rule).
  const perCardLines = new Map();
  for (const [block, lines] of blocks) for (const l of lines) perCardLines.set(l.card, (perCardLines.get(l.card) || 0) + 1);
  for (const [card, n] of perCardLines) if (cards > 1 && n <= 2) flaws.push('card ' + (card + 1) + ' holds ' + n + ' lines');
  // A table's rows stand under its header in every column they reach (two columns a card on landscape).
  const columnStep = parseFloat(getComputedStyle(content).getPropertyValue('--page-width')) +
                     parseFloat(getComputedStyle(content).getPropertyValue('--page-gap'));
  const columnOf = (r) => Math.floor((r.left - area.left + 1) / columnStep);
  for (const table of content.querySelectorAll('table')) {
    const withRows = new Set(), withHead = new Set();
    for (const cell of table.querySelectorAll('td')) for (const r of cell.getClientRects()) if (r.height > 0) withRows.add(columnOf(r));
    for (const cell of table.querySelectorAll('th')) for (const r of cell.getClientRects()) if (r.height > 0) withHead.add(columnOf(r));
    for (const column of withRows) if (!withHead.has(column)) flaws.push('table rows without header in column ' + (column + 1));
  }
  if (cards > 1 && lastCardBottom - lastCardTop < 0.25 * area.height) flaws.push('short last card');
  // Whether the first card sets text in its right half (two columns a card).
  let rightHalf = false;
  for (const [block, lines] of blocks) for (const l of lines) if (l.card === 0 && l.left > area.left + area.width / 2) rightHalf = true;
  return {cards: cards, flaws: flaws, rightHalf: rightHalf};
})()))";

}  // namespace

TEST(CardDesign, PagesBreakLikeABook) {
    RenderEngine engine;
    const auto notes = corpus();
    int flawed = 0, sets = 0;
    for (const char* name : {"long-essay-sections", "long-2000", "long-6000", "long-list-100", "headings", "code",
                             "long-howto-steps", "long-pipeline-marked", "long-tables-and-headings"}) {
        for (const Preset& preset : Presets::all()) {
            for (double scale : {1.0, 1.4}) {
                const std::string what = std::string(name) + " " + preset.id + " " + std::to_string(scale);
                bool done = false;
                std::size_t cards = 0;
                engine.renderPages(CardRequest{.markdown = notes.at(name), .settings = {.size = preset, .scale = scale}},
                                   [&](std::vector<RenderedCard> set) {
                                       cards = set.size();
                                       done = true;
                                   });
                ASSERT_TRUE(runUntil([&] { return done; }, 60s)) << what;
                if (cards < 2) continue;
                ++sets;
                const auto probe = nlohmann::json::parse(evaluate(engine.webView(), kBookBreaksProbe));
                EXPECT_EQ(probe["cards"], cards) << what;
                EXPECT_TRUE(probe["flaws"].empty()) << what << ": " << probe["flaws"].dump();
                flawed += probe["flaws"].empty() ? 0 : 1;
                // Landscape sets of prose take two columns a card.
                if (preset.id == "landscape" && std::string(name) == "long-2000") {
                    EXPECT_TRUE(probe["rightHalf"]) << what;
                }
            }
        }
    }
    std::printf("book breaks: %d of %d sets with flaws\n", flawed, sets);
    EXPECT_GE(sets, 20);
}


namespace {

// The mean difference per channel (0-255) between two images of one size.
double meanDifference(const CardImage& a, const CardImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 4; ++x) sum += std::abs(int(a.row(y)[x]) - int(b.row(y)[x]));
    return sum / (double(a.width()) * a.height() * 4);
}

CardImagePtr drawn(RenderEngine& engine, const CardRequest& request) { return render(engine, request).image; }

}  // namespace

// Density 2 is the 1x card drawn at twice the width and height: brought down to 1x it differs
// from the 1x card only by antialiasing, far less than a card of one word more does.
TEST(CardDesign, TwiceTheDensityIsTheSameLayoutAtTwiceTheSize) {
    RenderEngine engine;
    const auto notes = corpus();
    for (const char* name : {"sample", "code", "haiku"}) {
        for (const char* theme : {"paper", "ink"}) {
            const CardRequest one{.markdown = notes.at(name), .settings = {.theme = theme, .size = Presets::by("portrait")}};
            CardRequest two = one;
            two.density = 2;
            CardRequest other = one;
            other.markdown = "# One word more\n\n" + one.markdown;
            const CardImagePtr atOne = drawn(engine, one), atTwo = drawn(engine, two), changed = drawn(engine, other);
            ASSERT_TRUE(atOne && atTwo && changed);
            EXPECT_EQ(atTwo->width(), 2160);
            EXPECT_EQ(atTwo->height(), 2700);
            const double same = meanDifference(atTwo->scaledTo(1080, 1350), *atOne);
            const double different = meanDifference(*changed, *atOne);
            std::printf("density 2 brought down vs 1x, %s %s: mean error %.2f (another layout: %.2f)\n", name, theme,
                        same, different);
            EXPECT_LT(same, 1.5) << name << " " << theme;
            EXPECT_GT(different, 4 * same) << name << " " << theme;
        }
    }
    // The 1x card after a 2x one is exactly as before: the zoom does not stay.
    const CardRequest one{.markdown = notes.at("sample")};
    const CardImagePtr before = drawn(engine, one);
    CardRequest two = one;
    two.density = 2;
    drawn(engine, two);
    const CardImagePtr after = drawn(engine, one);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(meanDifference(*before, *after), 0);
}

namespace {

// A PNG of one colour, `width` x `height`, as a note's picture.
void writeSolidPng(const std::filesystem::path& file, int width, int height, guint32 rgba) {
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    gdk_pixbuf_fill(pixbuf.get(), rgba);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf.get(), file.c_str(), "png", nullptr, nullptr));
}

// The centre and size of each picture on the card the page drew last.
std::vector<std::array<double, 4>> pictureBoxes(RenderEngine& engine) {
    const auto boxes = nlohmann::json::parse(evaluate(engine.webView(), R"(JSON.stringify(
        Array.from(document.querySelectorAll('#content img.picture')).map(function (img) {
          const r = img.getBoundingClientRect();
          return [r.left + r.width / 2, r.top + r.height / 2, r.width, r.height];
        })))"));
    std::vector<std::array<double, 4>> out;
    for (const auto& b : boxes) out.push_back({b[0].get<double>(), b[1].get<double>(), b[2].get<double>(), b[3].get<double>()});
    return out;
}

bool hasColour(const CardImage& card, double x, double y, guint32 rgba) {
    const std::uint8_t* px = card.row(int(y)) + 4 * int(x);  // BGRA
    const int r = int(rgba >> 24), g = int((rgba >> 16) & 0xff), b = int((rgba >> 8) & 0xff);
    return std::abs(px[2] - r) <= 2 && std::abs(px[1] - g) <= 2 && std::abs(px[0] - b) <= 2;
}

}  // namespace

TEST(CardDesign, PicturesAndFormulasFitTheCardAndShowTheirPixels) {
    norvo::testing::TempFolder folder;
    constexpr guint32 green = 0x1eb45aff, blue = 0x2850c8ff;
    writeSolidPng(folder.path() / "photo.png", 1600, 1200, green);
    writeSolidPng(folder.path() / "tall.png", 600, 1800, blue);
    RenderEngine engine;
    auto request = [&](const std::string& markdown, const std::string& theme, const Preset& preset) {
        CardRequest card{.markdown = markdown, .settings = {.theme = theme, .size = preset}};
        card.pictures.noteFolder = folder.path().string();
        return card;
    };

    // A picture gives way before the text: a recipe under its photo is set well above the floor
    // (it was at the floor with the photo at half the card), the photo still a third of it.
    const std::string recipe = "# Lemon pasta\n\n![Lemon pasta](photo.png)\n\n**Serves 2** \u00b7 15 minutes\n\n"
                               "1. Boil 200 g spaghetti in salted water.\n2. Zest and juice one lemon into a warm bowl.\n"
                               "3. Add butter, parmesan and black pepper.\n4. Toss the pasta in, with a splash of its water.\n"
                               "5. Finish with basil and more cheese.\n";
    for (const Preset& preset : Presets::all()) {
        const Rendered r = render(engine, request(recipe, "paper", preset));
        EXPECT_FALSE(r.report["cut"]) << preset.id;
        EXPECT_GE(double(r.report["bodyPx"]), 1.3 * floorFor(preset)) << preset.id;
        const auto boxes = pictureBoxes(engine);
        ASSERT_EQ(boxes.size(), 1u) << preset.id;
        EXPECT_GE(boxes[0][3], 0.2 * double(preset.height)) << preset.id;
    }

    // On a wide card the picture stands beside the text, as tall as its column allows.
    for (const Preset& preset : {Presets::by("landscape"), *Presets::parse("1600x900")}) {
        const Rendered r = render(engine, request(recipe, "paper", preset));
        EXPECT_FALSE(r.report["cut"]) << preset.id;
        EXPECT_FALSE(r.report["overflowX"]) << preset.id;
        const auto boxes = pictureBoxes(engine);
        ASSERT_EQ(boxes.size(), 1u);
        const double textLeft = std::stod(evaluate(engine.webView(),
            "String(document.querySelector('#content h1').getBoundingClientRect().left - "
            "document.querySelector('.card').getBoundingClientRect().left)"));
        EXPECT_LT(boxes[0][0] + boxes[0][2] / 2, textLeft) << preset.id;  // the picture ends before the text begins
        EXPECT_GT(boxes[0][3], 0.4 * double(preset.height)) << preset.id;
    }

    // A formula alone (under its heading) is the card's hero, its heading a step back.
    const Rendered euler = render(engine, request("# Euler\n\n$$e^{i\\pi} + 1 = 0$$\n", "paper", Presets::defaultPreset()));
    EXPECT_GE(double(euler.report["bodyPx"]), 120);
    EXPECT_FALSE(euler.report["overflowX"]);
    EXPECT_EQ(evaluate(engine.webView(),
                       "parseFloat(getComputedStyle(document.querySelector('#content .katex')).fontSize) > "
                       "parseFloat(getComputedStyle(document.querySelector('#content h1')).fontSize)"),
              "true");

    // A formula that is the whole card stays one line on a narrow card, smaller.
    const Rendered alone = render(engine, request("$$e^{i\\pi} + 1 = 0$$\n", "paper", *Presets::parse("800x2000")));
    EXPECT_FALSE(alone.report["overflowX"]);
    EXPECT_EQ(evaluate(engine.webView(), "String(document.querySelectorAll('#content .formula-display.in-lines').length)"), "0");

    // Pictures on consecutive lines stand side by side at one size (the second was a thumbnail).
    for (const Preset& preset : Presets::all()) {
        render(engine, request("# Two views\n\n![A](photo.png)\n![B](photo.png)\n\nThe bay in the morning and at night.\n",
                               "ink", preset));
        const auto boxes = pictureBoxes(engine);
        ASSERT_EQ(boxes.size(), 2u) << preset.id;
        EXPECT_NEAR(boxes[0][3], boxes[1][3], 1.0) << preset.id;
        EXPECT_NEAR(boxes[0][1], boxes[1][1], 1.0) << preset.id;  // one row
        EXPECT_GT(boxes[0][3], 0.15 * double(preset.height)) << preset.id;
    }
    // Three on one line are a row of equal tiles; pictures of different shapes share one height.
    for (const Preset& preset : Presets::all()) {
        render(engine, request("# Trip\n\n![A](photo.png) ![B](photo.png) ![C](photo.png)\n\n![T](tall.png) ![W](photo.png)\n",
                               "paper", preset));
        const auto boxes = pictureBoxes(engine);
        ASSERT_EQ(boxes.size(), 5u) << preset.id;
        for (const std::size_t i : {1, 2}) {
            EXPECT_NEAR(boxes[i][2], boxes[0][2], 1.0) << preset.id;
            EXPECT_NEAR(boxes[i][1], boxes[0][1], 1.0) << preset.id;
        }
        EXPECT_GT(boxes[0][3], 0.1 * double(preset.height)) << preset.id;  // tiles, not icons
        EXPECT_NEAR(boxes[3][3], boxes[4][3], 1.0) << preset.id;
        EXPECT_NEAR(boxes[3][1], boxes[4][1], 1.0) << preset.id;
    }

    // Pictures with text: each shows its own pixels, the text stays readable and whole.
    const std::string note =
        "## Harbour\n\n![A photo](photo.png)\n\nWe walked along the water until only the gulls were left, "
        "and $e^{i\\pi} + 1 = 0$ still held.\n\n![Tall](tall.png)\n";
    for (const char* theme : {"paper", "ink", "sky"}) {
        for (const Preset& preset : Presets::all()) {
            const std::string what = std::string(theme) + " " + preset.id;
            const Rendered r = render(engine, request(note, theme, preset));
            ASSERT_TRUE(r.image) << what;
            EXPECT_EQ(r.image->width(), preset.width) << what;
            EXPECT_FALSE(r.report["overflowX"]) << what;
            EXPECT_FALSE(r.report["cut"]) << what;
            EXPECT_GE(double(r.report["bodyPx"]), floorFor(preset)) << what;
            const auto boxes = pictureBoxes(engine);
            ASSERT_EQ(boxes.size(), 2u) << what;
            EXPECT_TRUE(hasColour(*r.image, boxes[0][0], boxes[0][1], green)) << what;
            EXPECT_TRUE(hasColour(*r.image, boxes[1][0], boxes[1][1], blue)) << what;
            EXPECT_NEAR(boxes[0][2] / boxes[0][3], 4.0 / 3.0, 0.02) << what;  // the aspect ratio kept
            // Together the pictures leave the text at least half of the card's height.
            EXPECT_LE(boxes[0][3] + boxes[1][3], 0.56 * double(preset.height)) << what;
        }
    }

    // A picture with a caption line is the whole card: as wide or as tall as the text area.
    for (const Preset& preset : Presets::all()) {
        const Rendered r = render(engine, request("![A photo](photo.png)\nThe harbour at dawn", "ink", preset));
        ASSERT_TRUE(r.image) << preset.id;
        const auto box = pictureBoxes(engine).at(0);
        const double areaWidth = std::stod(evaluate(engine.webView(), "String(document.getElementById('content').clientWidth)"));
        const double areaHeight = std::stod(evaluate(engine.webView(), "String(document.querySelector('.card-frame').clientHeight)"));
        EXPECT_TRUE(box[2] >= areaWidth - 1 || box[3] >= 0.8 * areaHeight) << preset.id;
        EXPECT_TRUE(hasColour(*r.image, box[0], box[1], green)) << preset.id;
        EXPECT_FALSE(r.report["cut"]) << preset.id;
    }

    // The preview and the export of a note with pictures are the same pixels.
    const CardRequest card = request(note, "sky", Presets::by("portrait"));
    CardImagePtr preview;
    engine.renderPreview(card, [&](CardImagePtr image) { preview = std::move(image); });
    ASSERT_TRUE(runUntil([&] { return bool(preview); }, 30s));
    const Rendered exported = render(engine, card);
    ASSERT_TRUE(exported.image);
    EXPECT_EQ(meanDifference(*preview, *exported.image), 0.0);

    // A long note of pictures and formulas: no picture or display formula is split between
    // cards, and no card is cut.
    std::string long_note;
    for (int day = 1; day <= 5; ++day)
        long_note += "## Day " + std::to_string(day) +
                     "\n\nWe walked for hours along the water and the town got quieter the further we went.\n\n"
                     "![Photo](photo.png)\n\n$$\\sum_{k=1}^{n} k = \\frac{n(n+1)}{2}$$\n\n";
    for (const Preset& preset : {Presets::by("square"), Presets::by("story")}) {
        bool done = false;
        std::vector<RenderedCard> cards;
        engine.renderPages(request(long_note, "paper", preset), [&](std::vector<RenderedCard> drawn) {
            cards = std::move(drawn);
            done = true;
        });
        ASSERT_TRUE(runUntil([&] { return done; }, 60s)) << preset.id;
        ASSERT_GE(cards.size(), 2u) << preset.id;
        for (const RenderedCard& c : cards) EXPECT_FALSE(c.report.cut) << preset.id;
        const std::string split = evaluate(engine.webView(), R"((() => {
            const content = document.getElementById('content'), frame = document.querySelector('.card-frame');
            const top = frame.getBoundingClientRect().top, bottom = frame.getBoundingClientRect().bottom;
            let split = 0;
            for (const el of content.querySelectorAll('img.picture, .formula-display')) {
              const rects = Array.from(el.getClientRects()).filter(function (r) { return r.height > 0; });
              if (rects.length !== 1 || rects[0].top < top - 1 || rects[0].bottom > bottom + 1) split++;
            }
            return String(split);
          })())");
        EXPECT_EQ(split, "0") << preset.id;
    }
}

namespace {

// The view as it is now, without drawing anything again.
CardImagePtr snapshotNow(WebKitWebView* view) {
    GObjectPtr<GdkTexture> texture;
    bool done = false;
    struct Wait {
        GObjectPtr<GdkTexture>* texture;
        bool* done;
    } wait{&texture, &done};
    webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
                                 +[](GObject* source, GAsyncResult* result, gpointer data) {
                                     auto* w = static_cast<Wait*>(data);
                                     w->texture->reset(webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr));
                                     *w->done = true;
                                 },
                                 &wait);
    EXPECT_TRUE(runUntil([&] { return done; }, 10s));
    if (!texture) return nullptr;
    auto image = std::make_shared<CardImage>(gdk_texture_get_width(texture.get()), gdk_texture_get_height(texture.get()));
    gdk_texture_download(texture.get(), image->data(), std::size_t(image->stride()));
    return image;
}

// A JPEG of `width` x `height` whose colour at (x, y) is `color(x, y)` (0xRRGGBB).
template <typename Color>
void writeJpeg(const std::filesystem::path& file, int width, int height, Color color) {
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    guchar* px = gdk_pixbuf_get_pixels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = color(x, y);
            guchar* p = px + y * stride + 3 * x;
            p[0] = guchar(c >> 16), p[1] = guchar(c >> 8), p[2] = guchar(c);
        }
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf.get(), file.c_str(), "jpeg", nullptr, "quality", "92", nullptr));
}

}  // namespace

TEST(CardDesign, StylesKeepEveryTextReadableWhateverTheUserPicks) {
    norvo::testing::TempFolder folder;
    const auto dir = folder.path();
    std::uint32_t seed = 7;
    auto noise = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    // A busy photo: blocks of random colour from black to white.
    std::vector<std::uint32_t> blocks(64 * 64);
    for (auto& b : blocks) b = noise() >> 8;
    writeJpeg(dir / "busy.jpg", 800, 600, [&](int x, int y) { return blocks[std::size_t((y / 24) * 64 + x / 24)]; });
    // Foliage in sun: round leaves of a few greens, light and dark, over a mid green; text
    // reads on it by number long before it reads to the eye.
    std::vector<std::uint32_t> foliage(800 * 800, 0x5a6e46u);
    for (int leaf = 0; leaf < 1600; ++leaf) {
        static const std::uint32_t colours[] = {0x142814, 0xc8dc96, 0xf0f0d2, 0x3c5a28, 0xa0783c, 0xfafafa, 0x0a140a};
        const int cx = int(noise() % 800), cy = int(noise() % 800), r = 5 + int(noise() % 16);
        const std::uint32_t colour = colours[noise() % 7];
        for (int y = std::max(0, cy - r); y < std::min(800, cy + r); ++y)
            for (int x = std::max(0, cx - r); x < std::min(800, cx + r); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r) foliage[std::size_t(y) * 800 + std::size_t(x)] = colour;
    }
    writeJpeg(dir / "leaves.jpg", 800, 800, [&](int x, int y) { return foliage[std::size_t(y) * 800 + std::size_t(x)]; });
    writeJpeg(dir / "light.jpg", 600, 600, [](int x, int y) { return 0xf0f0e8u - std::uint32_t(((x ^ y) & 7) * 0x010101); });
    writeJpeg(dir / "dark.jpg", 600, 600, [](int x, int y) { return 0x141822u + std::uint32_t(((x + y) & 7) * 0x010101); });
    writeJpeg(dir / "avatar.jpg", 96, 96, [](int x, int) { return x < 48 ? 0xd06030u : 0x3060d0u; });
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf", dir / "heading.ttf");

    auto style = [&](const std::string& json) {
        const StyleRead read = parseStyle(json, "test", dir.string());
        EXPECT_FALSE(read.problem) << json;
        return read.style;
    };
    const std::vector<std::tuple<std::string, std::string, CardStyle>> styles = {
        {"accent paper", "paper", style(R"({"accent": "#1a7f64"})")},
        {"accent ink", "ink", style(R"({"accent": "#1a7f64"})")},
        {"accent sky", "sky", style(R"({"accent": "#1a7f64"})")},
        {"yellow on paper", "paper", style(R"({"accent": "#ffd400"})")},
        {"solid dark", "paper", style(R"({"background": {"color": "#0f2a2e"}, "accent": "#ff6b9a"})")},
        {"solid light", "ink", style(R"({"background": {"color": "#fdf6e3"}})")},
        {"solid grey", "sky", style(R"({"background": {"color": "#808080"}})")},
        {"gradient", "paper", style(R"({"background": {"gradient": ["#ff7e5f", "#2b1055"], "angle": 160}})")},
        {"busy photo", "paper", style(R"({"background": {"image": "busy.jpg"}, "accent": "#ffd400",
                                          "signature": {"name": "Ada Lovelace", "handle": "@ada", "avatar": "avatar.jpg"}})")},
        {"light photo", "ink", style(R"({"background": {"image": "light.jpg"}, "signature": {"name": "Grace"}})")},
        {"busy light photo", "paper", style(R"({"background": {"image": "leaves.jpg"}})")},
        {"dark photo", "paper", style(R"({"background": {"image": "dark.jpg"}, "signature": {"handle": "@night"}})")},
        {"font family", "paper", style(R"({"fonts": {"body": "DejaVu Serif", "code": "Liberation Mono"}})")},
        {"font file", "ink", style(R"({"fonts": {"heading": "heading.ttf"}})")},
    };
    const std::string note =
        "# Launch day\n\nWe shipped the [new editor](https://x.example) at nine.\n\n- Faster start\n- Styles\n\n"
        "> Worth the wait.\n\n```py {2}\ndef ship():\n    return True\n```\n\n| Part | Time |\n|---|---:|\n| Build | 4 min |\n";
    RenderEngine engine;
    for (const auto& [name, theme, cardStyle] : styles) {
        double lowest = 21;
        for (const Preset& preset : Presets::all()) {
            const std::string what = name + " " + preset.id;
            CardRequest card{.markdown = note, .settings = {.theme = theme, .size = preset}};
            card.settings.style = cardStyle;
            const Rendered r = render(engine, card);
            ASSERT_TRUE(r.image) << what;
            EXPECT_EQ(r.image->width(), preset.width) << what;
            EXPECT_EQ(r.image->height(), preset.height) << what;
            EXPECT_GE(double(r.report["minContrast"]), 4.5) << what;
            EXPECT_FALSE(r.report["overflowX"]) << what;
            EXPECT_FALSE(r.report["cut"]) << what;
            // Behind the text a photo shows through calm, whatever it is; a photo is the only
            // backdrop that reports how busy it is.
            EXPECT_LE(r.report.value("busyness", 0.0), 0.06) << what;
            EXPECT_EQ(r.report.contains("busyness"), name.find("photo") != std::string::npos) << what;
            lowest = std::min(lowest, double(r.report["minContrast"]));
        }
        std::printf("minContrast, %s: %.2f (lowest of the four sizes)\n", name.c_str(), lowest);
        if (name == "font family") {
            EXPECT_EQ(evaluate(engine.webView(), "getComputedStyle(document.querySelector('#content p')).fontFamily.split(',')[0]"),
                      "\"DejaVu Serif\"");
        }
        if (name == "font file") {
            EXPECT_EQ(evaluate(engine.webView(), "String(Array.from(document.fonts).some(function (f) {"
                                                 "return /^NorvoStyleFont/.test(f.family) && f.status === 'loaded'; }))"),
                      "true");
        }
    }

    // Plain text needs little scrim by number even on foliage; it gets a calm one all the same.
    for (const Preset& preset : Presets::all()) {
        CardRequest card{.markdown = "# Weekend hike\n\nWe climbed to the ridge before sunrise and watched the valley "
                                     "fill with light.",
                         .settings = {.size = preset}};
        card.settings.style = style(R"({"background": {"image": "leaves.jpg"}})");
        const Rendered r = render(engine, card);
        EXPECT_LE(r.report.value("busyness", 1.0), 0.06) << preset.id << " " << r.report.dump();
        EXPECT_GE(double(r.report["minContrast"]), 4.5) << preset.id;
    }

    // A signature as long as a style allows keeps clear of the wordmark on every size.
    for (const Preset& preset : Presets::all()) {
        CardRequest card{.markdown = note, .settings = {.size = preset}};
        card.settings.style = style(R"({"signature": {"name": "Ada Lovelace, Countess of Lovelace, who wrote the first",
                                                      "handle": "@ada.lovelace.analytical.engine"}})");
        ASSERT_TRUE(render(engine, card).image) << preset.id;
        EXPECT_EQ(evaluate(engine.webView(), "String(document.getElementById('signature').getBoundingClientRect().right <"
                                             " document.getElementById('wordmark').getBoundingClientRect().left)"),
                  "true")
            << preset.id;
    }

    // Measured again on the pixels: the glyphs' cores against what is behind them once the
    // text is gone, line by line, on the hardest backgrounds.
    const std::string lines = R"(JSON.stringify((() => {
        const out = [];
        const range = document.createRange();
        const walker = document.createTreeWalker(document.getElementById('card'), NodeFilter.SHOW_TEXT);
        for (let n = walker.nextNode(); n; n = walker.nextNode()) {
          if (!n.data.trim() || !n.parentElement.closest('#content, #signature')) continue;
          range.selectNodeContents(n);
          for (const r of range.getClientRects()) if (r.width > 20 && r.height > 10) out.push([r.left, r.top, r.width, r.height]);
        }
        return out;
      })()))";
    const std::string hideText =
        "(()=>{const s=document.createElement('style');s.id='hide-text';s.textContent="
        "'#card *{color:transparent!important;-webkit-text-fill-color:transparent!important;"
        "text-decoration-color:transparent!important}';document.head.appendChild(s);return 1})()";
    for (const auto& [name, theme, cardStyle] : styles) {
        if (name != "busy photo" && name != "yellow on paper" && name != "gradient") continue;
        CardRequest card{.markdown = note, .settings = {.theme = theme, .size = Presets::by("portrait")}};
        card.settings.style = cardStyle;
        const Rendered r = render(engine, card);
        ASSERT_TRUE(r.image) << name;
        const auto rects = nlohmann::json::parse(evaluate(engine.webView(), lines));
        evaluate(engine.webView(), hideText);
        const CardImagePtr behind = snapshotNow(engine.webView());
        evaluate(engine.webView(), "document.getElementById('hide-text').remove();1");
        ASSERT_TRUE(behind) << name;
        double weakest = 100;
        for (const auto& rect : rects) {
            const int x0 = std::max(0, int(rect[0].get<double>())), y0 = std::max(0, int(rect[1].get<double>()));
            const int x1 = std::min(r.image->width(), int(rect[0].get<double>() + rect[2].get<double>()));
            const int y1 = std::min(r.image->height(), int(rect[1].get<double>() + rect[3].get<double>()));
            std::vector<double> pixels;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    pixels.push_back(contrast(luminance(r.image->row(y) + 4 * x), luminance(behind->row(y) + 4 * x)));
            if (pixels.size() < 160) continue;
            std::sort(pixels.begin(), pixels.end(), std::greater<>());
            weakest = std::min(weakest, pixels[pixels.size() / 40]);
        }
        std::printf("contrast on pixels, %s: weakest line %.2f, reported %.2f\n", name.c_str(), weakest,
                    double(r.report["minContrast"]));
        EXPECT_GE(weakest, 4.5) << name;
    }

    // A style whose photo is gone: the theme's backdrop, and the report says which file.
    CardRequest missing{.markdown = note};
    missing.settings.style = style(R"({"background": {"image": "gone.jpg"}})");
    bool done = false;
    engine.renderWithReport(missing, [&](RenderedCard c) {
        EXPECT_TRUE(c.image);
        ASSERT_EQ(c.report.refusedPictures.size(), 1u);
        EXPECT_EQ(c.report.refusedPictures[0].target, (dir / "gone.jpg").string());
        EXPECT_GE(c.report.minContrast, 4.5);
        done = true;
    });
    ASSERT_TRUE(runUntil([&] { return done; }, 30s));
}

// The app paints each theme's backdrop on a thread of its own and serves it; the page keeps
// its own painter for when none was served. Both must give the same pixels, bit for bit.
TEST(CardDesign, TheServedBackdropIsThePagesOwnToTheBit) {
    RenderEngine engine;
    const char* const paintInstead = R"((() => {
      const card = document.getElementById('card');
      const shown = card.querySelector('.card-backdrop');
      if (shown.tagName !== 'IMG') return 'not served';
      const width = parseFloat(shown.style.width), height = parseFloat(shown.style.height);
      const canvas = window.tazuBackdrop.paint(shown.dataset.theme, width, height, shown.naturalWidth / width);
      canvas.className = 'card-backdrop';
      card.replaceChild(canvas, shown);
      return 'painted';
    })())";
    for (const char* theme : {"paper", "ink", "sky"})
        for (const Preset& preset : Presets::all())
            for (int density : {1, 2}) {
                if (density == 2 && preset.id != "portrait") continue;
                CardRequest card{.markdown = "A line.", .settings = {.theme = theme, .size = preset}};
                card.density = density;
                // Without a report nothing on the page needs the backdrop's pixels early.
                CardImagePtr served;
                engine.render(card, [&](CardImagePtr image) { served = std::move(image); });
                ASSERT_TRUE(runUntil([&] { return served != nullptr; }, 30s));
                ASSERT_EQ(evaluate(engine.webView(), paintInstead), "painted") << theme << " " << preset.id;
                const CardImagePtr own = snapshotNow(engine.webView());
                ASSERT_TRUE(own && own->width() == served->width() && own->height() == served->height());
                EXPECT_EQ(std::memcmp(own->data(), served->data(), std::size_t(served->stride()) * std::size_t(served->height())), 0)
                    << theme << " " << preset.id << " @" << density;
                // Measuring contrast reads the backdrop's pixels, which a served picture cannot give.
                const Rendered measured = render(engine, card);
                ASSERT_TRUE(measured.image);
                EXPECT_GT(measured.report["minContrast"].get<double>(), 4.5) << theme << " " << preset.id;
            }
}

// What note apps write, and the looks Norvo ships: callouts of every kind and highlights keep
// their contrast in every theme and every bundled style, on every size, without a cut or a
// split word; a comment is never drawn; a highlight shows as a band of its own colour.
TEST(CardDesign, BundledStylesCalloutsAndHighlightsStayReadable) {
    const std::string note =
        "# Release notes\n\n<!-- secret: not for the card -->\nWe shipped ==the new editor== today.\n\n"
        "> [!NOTE]\n> Drafts are kept.\n\n> [!TIP] Faster\n> Start is quicker.\n\n> [!IMPORTANT]\n> Read this.\n\n"
        "> [!WARNING]\n> Back up first.\n\n> [!CAUTION]\n> Old files go.\n";
    RenderEngine engine;
    std::vector<std::pair<std::string, CardRequest>> cards;
    for (const Theme& theme : Themes::all())
        cards.push_back({theme.id, CardRequest{.markdown = note, .settings = {.theme = theme.id}}});
    const auto bundled = StyleFiles::bundledNames();
    EXPECT_GE(bundled.size(), 10u);
    for (const std::string& name : bundled) {
        const StyleRead read = StyleFiles::loadSaved(name);
        ASSERT_FALSE(read.problem) << name;
        cards.push_back({name, CardRequest{.markdown = note, .settings = {.style = read.style}}});
    }
    for (auto& [name, card] : cards) {
        for (const Preset& preset : Presets::all()) {
            card.settings.size = preset;
            const std::string what = name + " " + preset.id;
            const Rendered r = render(engine, card);
            ASSERT_TRUE(r.image) << what;
            EXPECT_GE(double(r.report["minContrast"]), 4.5) << what;
            EXPECT_FALSE(r.report["cut"]) << what;
            EXPECT_FALSE(r.report["overflowX"]) << what;
            EXPECT_EQ(int(r.report["brokenWords"]), 0) << what;
        }
        EXPECT_EQ(evaluate(engine.webView(), "document.getElementById('content').textContent.includes('secret')"), "false");
        EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content .callout .callout-svg').length"), "5");
    }
    // The band on the pixels: inside the highlight's padding, the card differs from the
    // background just above it.
    const Rendered r = render(engine, note, "paper", Presets::defaultPreset());
    const auto box = nlohmann::json::parse(evaluate(engine.webView(),
        "(() => { const m = document.querySelector('mark.highlight').getBoundingClientRect();"
        " const c = document.querySelector('.card').getBoundingClientRect();"
        " return JSON.stringify([m.left - c.left, m.top - c.top, m.height]); })()"));
    const auto pixel = [&](double x, double y) {
        return r.image->data() + std::size_t(y) * std::size_t(r.image->stride()) + std::size_t(x) * 4;
    };
    const double x = double(box[0]) + 2, y = double(box[1]);
    EXPECT_GT(contrast(luminance(pixel(x, y + double(box[2]) / 2)), luminance(pixel(x, y - 6))), 1.15);
}

// A cover opens a set: card 1 is the note's first heading as a hero (with the front matter's
// subtitle and tags), counted in the set and its marks; the heading leaves the cards that
// follow; the marks may read "01 / 12" or be left off.
TEST(CardDesign, ACoverOpensTheSetAndCountsInItsMarks) {
    std::string note = "---\nsubtitle: What a week of small changes taught us\ntags: teams, shipping\n---\n"
                       "# Ship small, ship often\n\n";
    for (int i = 0; i < 14; ++i)
        note += "## Habit " + std::to_string(i + 1) + "\n\nA short paragraph that says why this habit helps a team.\n\n";
    RenderEngine engine;
    auto set = [&](bool cover, const std::string& marks, const Preset& preset) {
        return renderPages(engine, CardRequest{.markdown = note,
                                               .settings = {.size = preset, .pages = true, .cover = cover, .pageMarks = marks}});
    };
    for (const Preset& preset : {Presets::by("square"), Presets::by("story"), *Presets::parse("1080x1440")}) {
        const PageSet plain = set(false, "n/N", preset);
        const PageSet covered = set(true, "01 / 12", preset);
        ASSERT_GE(plain.images.size(), 2u) << preset.id;
        // (The cards after it may be set a little larger than without it: the heading left them.)
        ASSERT_GT(covered.images.size(), plain.images.size()) << preset.id;
        const auto& first = covered.reports.front();
        EXPECT_TRUE(first.value("cover", false)) << preset.id;
        EXPECT_EQ(first["page"], 1);
        EXPECT_EQ(first["pages"], covered.images.size());
        EXPECT_FALSE(covered.reports[1].value("cover", false));
        EXPECT_GE(double(first["minContrast"]), 4.5) << preset.id;
        EXPECT_EQ(int(first["brokenWords"]), 0) << preset.id;
        // The cover's text (the subtitle, measured as its body) is larger than the cards' body.
        EXPECT_GT(double(first["bodyPx"]), double(covered.reports[1]["bodyPx"])) << preset.id;
        const std::string last = std::to_string(covered.images.size());
        const std::string padded = (last.size() < 2 ? "0" : "") + last;
        EXPECT_EQ(evaluate(engine.webView(), "document.getElementById('pagemark').textContent"),
                  padded + " / " + padded);
        EXPECT_EQ(evaluate(engine.webView(), "document.getElementById('content').textContent.includes('Ship small')"),
                  "false");
    }
    set(true, "none", Presets::defaultPreset());
    EXPECT_EQ(evaluate(engine.webView(), "document.getElementById('pagemark').hidden"), "true");
    // A tag too long for the cover is cut with "…": the cover's title keeps its size.
    note.replace(note.find("teams,"), 6, std::string(300, 'x') + ",");
    const PageSet longTag = set(true, "n/N", Presets::defaultPreset());
    EXPECT_FALSE(longTag.reports.front()["overflowX"]);
    EXPECT_GT(std::stod(evaluate(engine.webView(), "String(parseFloat(getComputedStyle(document.querySelector('#cover h1, "
                                                   "#cover .cover-title') || document.body).fontSize))")),
              60.0);

    // A landscape set whose code is wider than a column goes back to one column a card: its
    // cards are still numbered (the set's numbering once went with the first arrangement).
    std::string code = "```\n";
    for (int i = 0; i < 30; ++i) code += "delay = base * 2 ** attempt + jitter(random_source, spread=" + std::to_string(i) + ")\n";
    const PageSet wide = renderPages(engine, CardRequest{.markdown = code + "```\n",
                                                         .settings = {.size = Presets::by("landscape"), .pages = true}});
    ASSERT_GE(wide.images.size(), 2u);
    EXPECT_EQ(wide.reports.back()["page"], wide.images.size());
    // A table wider than a column but shorter than a card spans a card of its own, its lead-in
    // above it; the prose keeps its two columns.
    std::string prose;
    for (int i = 0; i < 6; ++i) prose += "Most teams moved over in a week; two needed help with their custom fields. ";
    const std::string table = "| Workspace size | Median import | 95th percentile | Failures | Retried | Notes from support |\n"
                              "|---|---:|---:|---:|---:|---|\n| Small (under 50 users) | 12 s | 40 s | 0.2% | 0.1% | none |\n"
                              "| Large (over 500) | 6 min | 22 min | 1.9% | 1.1% | reporting job |\n";
    const PageSet spanned = renderPages(
        engine, CardRequest{.markdown = prose + "\n\n" + prose + "\n\nThe numbers:\n\n" + table + "\n" + prose + "\n",
                            .settings = {.size = Presets::by("landscape"), .pages = true}});
    EXPECT_EQ(evaluate(engine.webView(), R"((function () {
        const content = document.getElementById('content'), t = content.querySelector('table');
        const p = window.CarderFit.state.paged, left = content.getBoundingClientRect().left;
        const column = function (el) { return Math.round((el.getBoundingClientRect().left - left) / (p.columnWidth + p.gap)); };
        return [content.classList.contains('two-up'), t.offsetWidth > p.columnWidth * 1.5,
                column(t) % 2 === 0, column(t.previousElementSibling) === column(t)].join(' ');
      })())"),
              "true true true true");
    for (const auto& r : spanned.reports) {
        EXPECT_FALSE(r["cut"]);
        EXPECT_FALSE(r["overflowX"]);
    }
}

// Split at headings, every section starts a card of its own (a card's first column on
// landscape) and a long one runs on over the next; a heading's own subheading stays with it.
TEST(CardDesign, ASetSplitAtHeadingsGivesEverySectionItsOwnCards) {
    std::string note = "# Launch week\n\nOne card a day.\n\n## Monday\n\nFreeze the branch.\n\n## Tuesday\n\n### Morning\n\n";
    for (int i = 0; i < 40; ++i) note += "Run step " + std::to_string(i + 1) + " of the migration and watch the dashboards.\n\n";
    note += "## Wednesday\n\nShip.\n\n## Thursday\n\n- write the post\n- answer the mail\n";
    RenderEngine engine;
    // For each heading that starts a section: the card it is on and whether it heads its card.
    const std::string where = R"((function () {
        const p = window.CarderFit.state.paged, content = document.getElementById('content');
        const left = content.getBoundingClientRect().left;
        return JSON.stringify(Array.from(content.querySelectorAll('h1, h2')).map(function (h) {
          const column = Math.round((h.getBoundingClientRect().left - left) / (p.columnWidth + p.gap));
          const before = h.previousElementSibling;
          const top = !before || before.classList.contains('column-filler') ||
                      Math.round((before.getBoundingClientRect().left - left) / (p.columnWidth + p.gap)) !== column;
          return [Math.floor(column / p.perCard), column % p.perCard === 0 && top];
        }));
      })())";
    for (const Preset& preset : {Presets::by("square"), Presets::by("landscape")}) {
        const auto set = [&](bool split) {
            return renderPages(engine, CardRequest{.markdown = note,
                                                   .settings = {.size = preset, .pages = true, .splitAtHeadings = split}});
        };
        const PageSet split = set(true);
        const auto heads = nlohmann::json::parse(evaluate(engine.webView(), where));
        ASSERT_EQ(heads.size(), 5u) << preset.id;
        for (std::size_t i = 0; i < heads.size(); ++i) {
            EXPECT_TRUE(heads[i][1].get<bool>()) << preset.id << " heading " << i;
            if (i > 0) {
                EXPECT_GT(heads[i][0].get<int>(), heads[i - 1][0].get<int>()) << preset.id << " heading " << i;
            }
        }
        // Tuesday's forty steps run on over a card more: the set has more cards than sections.
        EXPECT_GT(split.images.size(), heads.size()) << preset.id;
        EXPECT_EQ(split.reports.back()["page"], split.images.size());
        EXPECT_EQ(evaluate(engine.webView(), "String(document.querySelector('#content h3').previousElementSibling.tagName)"),
                  "H2");
        for (const auto& r : split.reports) {
            EXPECT_FALSE(r["cut"]) << preset.id;
            EXPECT_FALSE(r["overflowX"]) << preset.id;
            EXPECT_EQ(r["bodyPx"], split.reports.front()["bodyPx"]) << preset.id;  // one text size
        }
        EXPECT_LT(set(false).images.size(), split.images.size()) << preset.id;
    }
}

// Lists in right-to-left text read right to left (bullets on the right, set large, not cut);
// a quote's source is a quiet byline; a task's wrapped lines hang under its text; a long typed
// line wraps like prose.
TEST(CardDesign, RightToLeftListsBylinesAndTaskIndents) {
    RenderEngine engine;
    Rendered r = render(engine, "# \u05e8\u05e9\u05d9\u05de\u05ea \u05e7\u05e0\u05d9\u05d5\u05ea\n\n"
                                "- \u05d7\u05dc\u05d1 \u05d5\u05dc\u05d7\u05dd\n- \u05d1\u05d9\u05e6\u05d9\u05dd\n"
                                "- \u05e4\u05d9\u05e8\u05d5\u05ea\n- \u05e7\u05e4\u05d4 \u05d5\u05ea\u05d4\n",
                        "paper", Presets::defaultPreset());
    EXPECT_FALSE(r.report["cut"]);
    EXPECT_FALSE(r.report["overflowX"]);
    EXPECT_GT(double(r.report["bodyPx"]), 40);
    EXPECT_EQ(evaluate(engine.webView(), "getComputedStyle(document.querySelector('#content ul')).direction"), "rtl");

    render(engine, "> The first draft of anything is rough.\n- Ernest, in a letter\n\n> Short.\n> \u2014 Julia\n", "ink",
           Presets::defaultPreset());
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content .attribution').length"), "2");
    render(engine, "> Simplicity is prerequisite for reliability.\n>\n> \u2014 Edsger W. Dijkstra\n", "ink",
           Presets::defaultPreset());
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content blockquote .attribution').length"), "1");
    render(engine, "> The first draft of anything is rough.\n- Ernest, in a letter\n\n> Short.\n> \u2014 Julia\n", "ink",
           Presets::defaultPreset());
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelector('#content ul') === null"), "true");
    EXPECT_EQ(evaluate(engine.webView(),
                       "parseFloat(getComputedStyle(document.querySelector('.attribution')).fontSize) < "
                       "parseFloat(getComputedStyle(document.querySelector('blockquote p')).fontSize)"),
              "true");

    render(engine, "- [ ] Check the migration on a copy of the production database, twice, with the old backups\n- [x] Done\n",
           "paper", Presets::defaultPreset());
    const auto lines = nlohmann::json::parse(evaluate(engine.webView(),
        "(() => { const li = document.querySelector('li.task'); const r = document.createRange();"
        " const t = Array.from(li.childNodes).find(n => n.nodeType === 3 && n.data.trim());"
        " r.selectNodeContents(t); return JSON.stringify(Array.from(r.getClientRects()).map(x => x.left)); })()"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NEAR(double(lines[1]), double(lines[0]), 2.0);  // the second line starts where the text does

    // A long typed line among short ones is a sentence: it wraps (hanging under its start)
    // rather than keep the card at a third of its size.
    r = render(engine, "Coffee at nine\nThe release goes out at noon, after the last review of the notes\nLunch after\n",
               "paper", Presets::defaultPreset());
    EXPECT_GT(double(r.report["bodyPx"]), 80);
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content .typed-line').length"), "3");

    // A link on its own line steps down instead of setting the whole note's size.
    const std::string tweet = "Shipping the new importer today, and it is fast. Read why:";
    const double without = render(engine, tweet, "paper", Presets::defaultPreset()).report["bodyPx"];
    r = render(engine, tweet + "\nhttps://norvo.example/blog/2026/12/the-new-importer-and-what-it-means", "paper",
               Presets::defaultPreset());
    EXPECT_GE(double(r.report["bodyPx"]), 0.75 * without);
    EXPECT_FALSE(r.report["overflowX"]);
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content .url-line').length"), "1");
}

namespace {

bool sameBytes(const CardImage& a, const CardImage& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.row(y), b.row(y), std::size_t(a.width()) * 4) != 0) return false;
    return true;
}

// A set's cards (one card for a note that fits one), with their reports.
std::vector<RenderedCard> drawSet(RenderEngine& engine, const CardRequest& request) {
    std::vector<RenderedCard> cards;
    bool done = false;
    engine.renderPages(request, [&](std::vector<RenderedCard> set) {
        cards = std::move(set);
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }, 180s));
    return cards;
}

CardRequest withCorpusPictures(CardRequest request) {
    request.pictures.noteFolder = NORVO_TEST_CORPUS;
    return request;
}

}  // namespace

// A card depends on its note, settings, fonts and pictures, never on how busy the machine is:
// sets, a style's font file and large pictures, drawn on a quiet machine and again with every
// core kept busy, are the same to the byte.
TEST(CardDesign, TheSameNoteGivesTheSameCardHoweverBusyTheMachine) {
    norvo::testing::TempFolder folder;
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", folder.path() / "body.ttf");
    const StyleRead fontStyle = parseStyle(R"({"fonts": {"body": "body.ttf", "heading": "body.ttf"}})", "serif file",
                                           folder.path().string());
    ASSERT_FALSE(fontStyle.problem);
    const auto notes = corpus();
    std::vector<std::pair<std::string, CardRequest>> requests;
    for (const char* name : {"long-essay-sections", "long-tables-and-headings", "long-pipeline-marked", "formulas"})
        for (const char* size : {"square", "landscape"})
            requests.push_back({std::string(name) + " " + size,
                                CardRequest{.markdown = notes.at(name), .settings = {.size = Presets::by(size), .pages = true}}});
    requests.push_back({"style font set", CardRequest{.markdown = notes.at("long-2000"),
                                                      .settings = {.size = Presets::by("portrait"), .pages = true,
                                                                   .style = fontStyle.style}}});
    for (const char* name : {"picture-wide-photo", "picture-phone-screenshot"})
        for (const char* size : {"landscape", "story"})
            requests.push_back({std::string(name) + " " + size,
                                withCorpusPictures({.markdown = notes.at(name), .settings = {.size = Presets::by(size)}})});
    requests.push_back({"two large pictures in a set",
                        withCorpusPictures({.markdown = "# Two views\n\n![A](pictures/photo-4000x3000.png)\n"
                                                        "![B](pictures/phone-1170x2532.png)\n\n" + notes.at("long-2000"),
                                            .settings = {.size = Presets::by("square"), .pages = true}})});

    RenderEngine engine;
    auto drawAll = [&] {
        std::vector<std::vector<RenderedCard>> all;
        for (const auto& [what, request] : requests) all.push_back(drawSet(engine, request));
        return all;
    };
    const auto quiet = drawAll();
    std::vector<std::vector<RenderedCard>> busy;
    {
        norvo::testing::BusyCores cores;
        busy = drawAll();
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const std::string& what = requests[i].first;
        ASSERT_FALSE(quiet[i].empty()) << what;
        ASSERT_EQ(quiet[i].size(), busy[i].size()) << what;
        for (std::size_t card = 0; card < quiet[i].size(); ++card) {
            ASSERT_TRUE(quiet[i][card].image && busy[i][card].image) << what << " card " << card + 1;
            EXPECT_TRUE(sameBytes(*quiet[i][card].image, *busy[i][card].image)) << what << " card " << card + 1;
            EXPECT_TRUE(quiet[i][card].report.refusedPictures.empty()) << what;
        }
    }
}

// What the last round's cards got wrong stays mended: a tall picture on a wide card stands
// beside its text (the card was blank but for the cut cue); every card of a set on a photo or
// gradient keeps its panel; a set's wide table keeps its columns; formulas that reach below
// their line and a list in six scripts are neither cut nor reported cut.
TEST(CardDesign, WideCardsSetsAndMixedNotesKeepTheirPromises) {
    const auto notes = corpus();
    RenderEngine engine;
    // On a wide card the second column starts level with the first (no margin carried over
    // the break) and an address in typed lines stays in one column.
    render(engine, "## Visiting\n\nWe are in the old print works by the canal, a short walk from the station. Ring the "
                   "bell by the green door; the lift is at the back of the yard.\n\nNorthwind Design\\\nUnit 4, The Print "
                   "Works\\\n12 Canal Street\\\nLeeds LS1 4AB\n\n> [!NOTE]\n> Parking is on the street only, free after "
                   "six.\n\nTrains arrive every twenty minutes; follow the canal east to the second bridge.\n",
           "paper", *Presets::parse("2000x500"));
    EXPECT_EQ(evaluate(engine.webView(), R"((function () {
        const content = document.getElementById('content'), box = content.getBoundingClientRect();
        const second = Array.from(content.children).find(function (el) { return el.getBoundingClientRect().left > box.left + box.width / 3; });
        const address = Array.from(content.querySelectorAll('p')).find(function (p) { return p.querySelector('br'); });
        const rects = Array.from(address.getClientRects());
        return [content.classList.contains('columns'), Boolean(second) && Math.abs(second.getBoundingClientRect().top - box.top) < 1.5,
                rects.every(function (r) { return Math.abs(r.left - rects[0].left) < 1; })].join(' ');
      })())"),
              "true true true");
    // In a set, a paragraph that is a picture (and its caption) is a card of its own, the
    // picture as large as the card allows.
    for (const char* size : {"square", "portrait", "story"}) {
        const Preset preset = Presets::by(size);
        const PageSet set = renderPages(engine, withCorpusPictures({.markdown = notes.at("picture-pages-trip"),
                                                                    .settings = {.size = preset, .pages = true}}));
        ASSERT_EQ(set.images.size(), 5u) << size;
        for (const std::size_t card : {1, 3}) {
            EXPECT_FALSE(set.reports[card]["cut"]) << size << " " << card;
            EXPECT_GE(double(set.reports[card]["bodyPx"]), floorFor(preset)) << size;
        }
        renderPages(engine, withCorpusPictures({.markdown = notes.at("picture-pages-trip"),
                                                .settings = {.size = preset, .pages = true}}));
        const auto boxes = pictureBoxes(engine);
        ASSERT_EQ(boxes.size(), 2u) << size;
        for (const auto& box : boxes)  // as wide as the column, or most of the card's height
            EXPECT_TRUE(box[2] > 0.75 * double(preset.width) || box[3] > 0.55 * double(preset.height)) << size;
    }
    for (const char* name : {"picture-phone-screenshot", "picture-tall-chart", "picture-wide-photo"}) {
        for (const char* size : {"landscape", "1600x900", "2000x500"}) {
            const Preset preset = *Presets::parse(size);
            const std::string what = std::string(name) + " " + size;
            const Rendered r = render(engine, withCorpusPictures({.markdown = notes.at(name), .settings = {.size = preset}}));
            EXPECT_FALSE(r.report["cut"]) << what;
            EXPECT_GE(double(r.report["bodyPx"]), 1.5 * floorFor(preset)) << what;
            const auto boxes = pictureBoxes(engine);
            ASSERT_EQ(boxes.size(), 1u) << what;
            // As large as its column lets it be: most of the card's height, or a third of its width.
            EXPECT_TRUE(boxes[0][3] >= 0.6 * double(preset.height) || boxes[0][2] >= 0.3 * double(preset.width))
                << what << ": " << boxes[0][2] << "x" << boxes[0][3];
        }
    }

    norvo::testing::TempFolder folder;
    writeJpeg(folder.path() / "dusk.jpg", 900, 900, [](int x, int y) {
        return std::uint32_t(0x30 + y / 8) << 16 | std::uint32_t(0x20 + (x * y) % 96) << 8 | 0x70u;
    });
    for (const char* json : {R"({"background": {"image": "dusk.jpg"}})",
                             R"({"background": {"gradient": ["#ff7e5f", "#2b1055"], "angle": 160}})"}) {
        const StyleRead style = parseStyle(json, "backdrop", folder.path().string());
        ASSERT_FALSE(style.problem) << json;
        for (const bool cover : {false, true}) {
            const auto set = drawSet(engine, {.markdown = notes.at("long-essay-sections"),
                                              .settings = {.size = Presets::by("square"), .pages = true, .cover = cover,
                                                           .style = style.style}});
            ASSERT_GE(set.size(), 3u) << json;
            for (const RenderedCard& card : set)
                EXPECT_GE(card.report.minContrast, 4.5) << json << " card " << card.report.page << (cover ? " (cover)" : "");
        }
    }

    std::string table = "# Revenue by region\n\nAll figures in thousands.\n\n"
                        "| Region | Q1 revenue | Q2 revenue | Q3 revenue | Q4 revenue | Year over year |\n"
                        "|---|---:|---:|---:|---:|---:|\n";
    for (int i = 0; i < 40; ++i)
        table += "| Region " + std::to_string(i) + " | $" + std::to_string(100 + i * 7) + ",120 | $" +
                 std::to_string(300 + i) + ",455 | $" + std::to_string(900 - i) + ",310 | $" + std::to_string(500 + i) +
                 ",001 | +" + std::to_string(i) + "% |\n";
    for (const char* size : {"portrait", "story", "square"}) {
        const auto set = drawSet(engine, {.markdown = table, .settings = {.size = Presets::by(size), .pages = true}});
        ASSERT_GE(set.size(), 2u) << size;
        for (const RenderedCard& card : set) {
            EXPECT_FALSE(card.report.overflowX) << size << " card " << card.report.page;
            EXPECT_FALSE(card.report.cut) << size << " card " << card.report.page;
        }
    }

    for (const char* name : {"formulas-and-money", "list-mixed-directions"}) {
        for (const Preset& preset : {Presets::by("square"), Presets::by("landscape"), *Presets::parse("1600x900"),
                                     *Presets::parse("long")}) {
            const std::string what = std::string(name) + " " + preset.id;
            const Rendered r = render(engine, notes.at(name), "paper", preset);
            EXPECT_FALSE(r.report["cut"]) << what;
            EXPECT_FALSE(r.report["overflowX"]) << what;
            EXPECT_GE(double(r.report["bodyPx"]), 1.4 * floorFor(preset)) << what;
        }
    }
    // Every item of the mixed list has its bullet on the list's side, on the card.
    render(engine, notes.at("list-mixed-directions"), "paper", Presets::by("square"));
    EXPECT_EQ(evaluate(engine.webView(), R"(String(Array.from(document.querySelectorAll('#content li')).every((li) => {
        const text = li.getBoundingClientRect(), list = li.parentElement.getBoundingClientRect();
        return getComputedStyle(li).direction === 'ltr' && text.left >= list.left && text.right <= list.right + 0.5;
      })))"),
              "true");
}
