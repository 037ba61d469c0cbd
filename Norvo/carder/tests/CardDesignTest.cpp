// The card's design promises, measured on rendered cards: the layout report of every
// corpus note in every theme and size, and text contrast sampled from pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include <nlohmann/json.hpp>

#include "TestSupport.hpp"
#include "WebTestSupport.hpp"
#include "engine/PageProtocol.hpp"
#include "engine/RenderEngine.hpp"

using namespace norvo;
using namespace std::chrono_literals;
using norvo::testing::evaluate;
using norvo::testing::runUntil;

namespace {

std::map<std::string, std::string> corpus() {
    std::map<std::string, std::string> notes;
    for (const auto& entry : std::filesystem::directory_iterator(NORVO_TEST_CORPUS)) {
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

Rendered render(RenderEngine& engine, const std::string& markdown, const std::string& theme, const Preset& preset,
                double scale = 1.0) {
    Rendered out;
    bool done = false;
    engine.renderWithReport(CardRequest{markdown, theme, "sans", preset, true, scale}, [&](RenderedCard card) {
        out.image = std::move(card.image);
        if (out.image) out.report = asJson(card.report);
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }, 30s));
    return out;
}

double floorFor(const Preset& preset) { return preset.width > preset.height ? 22 : 26; }

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
                if (markdown.empty()) continue;
                EXPECT_GE(double(r.report["bodyPx"]), floorFor(preset)) << what;
                // Only a note longer than the card holds at the smallest size is cut.
                if (mayBeCut && r.report["cut"]) {
                    EXPECT_EQ(double(r.report["bodyPx"]), floorFor(preset)) << what;
                } else {
                    EXPECT_FALSE(r.report["cut"]) << what;
                }
                // A URL breaks at its natural points: it never decides the note's size.
                if (name == "tweet-url") {
                    EXPECT_GE(double(r.report["bodyPx"]), 1.4 * floorFor(preset)) << what;
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

    // The scale promise, for every note the card holds whole: smaller text at s < 1, never
    // smaller text at s > 1.
    for (const auto& [name, markdown] : notes) {
        if (name.rfind("long-", 0) == 0 || markdown.empty()) continue;
        for (const Preset& preset : Presets::all()) {
            const std::string what = name + " " + preset.id;
            const auto atOne = render(engine, markdown, "ink", preset).report;
            const auto smaller = render(engine, markdown, "ink", preset, 0.7).report;
            const auto larger = render(engine, markdown, "ink", preset, 1.8).report;
            ASSERT_FALSE(atOne["cut"]) << what;
            EXPECT_FALSE(smaller["cut"]) << what;  // what fits at 1.0 fits smaller
            EXPECT_LE(double(smaller["bodyPx"]), double(atOne["bodyPx"])) << what;
            EXPECT_GE(double(larger["bodyPx"]), double(atOne["bodyPx"])) << what;  // never smaller at s > 1
            if (!larger["cut"]) {
                EXPECT_GE(double(larger["minPx"]), double(atOne["minPx"])) << what;  // no text smaller at all
            }
            // Larger text is cut only when even the smallest larger size does not fit (a
            // code block's text is a little smaller than the body's).
            if (larger["cut"]) {
                EXPECT_LE(double(larger["bodyPx"]), std::ceil(floorFor(preset) * 1.8)) << what;
                EXPECT_GE(double(larger["bodyPx"]), floorFor(preset) * 1.8 * 0.85) << what;
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
    const std::string note = kindsOfText + kindsOfText + kindsOfText;
    // What each kind of text is, and the contrast it needs.
    const std::vector<std::tuple<std::string, std::string, double>> kinds = {
        {"body", "p", 4.5},          {"muted heading", "h6", 4.5}, {"quote", "blockquote p", 4.5},
        {"link", "a", 4.5},          {"struck", "s", 4.5},       {"code", "code", 4.5},
        {"table", "td", 4.5},        {"wordmark", ".wordmark-text", 3.0}, {"table rule", "rule", 3.0},
        {"thematic break", "hr", 3.0},
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

PageSet renderPages(RenderEngine& engine, const std::string& markdown, const Preset& preset) {
    PageSet out;
    bool done = false;
    engine.renderPages(CardRequest{markdown, "ink", "sans", preset, true, 1.0},
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
    EXPECT_EQ(renderPages(engine, "First thought.\n\n---\n\nSecond thought.", square).images.size(), 2u);
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
