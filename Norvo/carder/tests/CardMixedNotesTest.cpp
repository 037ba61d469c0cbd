// Notes of every kind on every shape: wide cards, sets on photos and gradients, wide tables,
// formulas and scripts of both directions; and the same card however busy the machine.
#include "CardDesignSupport.hpp"
#include "norvo/CardStyle.hpp"

using namespace norvo;
using namespace norvo::design;

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

    render(engine, "> Simplicity is prerequisite for reliability.\n>\n> \u2014 Edsger W. Dijkstra\n", "ink",
           Presets::defaultPreset());
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content blockquote .attribution').length"), "1");
    render(engine, "> The first draft of anything is rough.\n- Ernest, in a letter\n\n> Short.\n> \u2014 Julia\n", "ink",
           Presets::defaultPreset());
    EXPECT_EQ(evaluate(engine.webView(), "document.querySelectorAll('#content .attribution').length"), "2");
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

// What the last round's cards got wrong stays mended: on a wide card the columns start level
// and a tall picture stands beside its text (the card was blank but for the cut cue).
TEST(CardDesign, WideCardsKeepTheirColumnsAndPictures) {
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
    for (const char* size : {"square", "story"}) {
        const Preset preset = Presets::by(size);
        const PageSet set = renderPages(engine, withCorpusPictures({.markdown = notes.at("picture-pages-trip"),
                                                                    .settings = {.size = preset, .pages = true}}));
        ASSERT_EQ(set.images.size(), 5u) << size;
        for (const std::size_t card : {1, 3}) {
            EXPECT_FALSE(set.reports[card]["cut"]) << size << " " << card;
            EXPECT_GE(double(set.reports[card]["bodyPx"]), floorFor(preset)) << size;
        }
        const auto boxes = pictureBoxes(engine);
        ASSERT_EQ(boxes.size(), 2u) << size;
        for (const auto& box : boxes)  // as wide as the column, or most of the card's height
            EXPECT_TRUE(box[2] > 0.75 * double(preset.width) || box[3] > 0.55 * double(preset.height)) << size;
    }
    // Each picture beside its text on a wide shape of its own (every one on every shape, never
    // cut or blank, is the soak tier's sweep).
    for (const auto& [name, size] : {std::pair{"picture-phone-screenshot", "landscape"}, std::pair{"picture-tall-chart", "1600x900"},
                                     std::pair{"picture-wide-photo", "2000x500"}}) {
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

// Every card of a set on a photo or gradient keeps its panel; a set's wide table keeps its
// columns.
TEST(CardDesign, SetsOnPhotosAndOfWideTablesKeepTheirPromises) {
    const auto notes = corpus();
    RenderEngine engine;
    norvo::testing::TempFolder folder;
    writeJpeg(folder.path() / "dusk.jpg", 900, 900, [](int x, int y) {
        return std::uint32_t(0x30 + y / 8) << 16 | std::uint32_t(0x20 + (x * y) % 96) << 8 | 0x70u;
    });
    // A photo's set, and a gradient's with a cover.
    for (const char* json : {R"({"background": {"image": "dusk.jpg"}})",
                             R"({"background": {"gradient": ["#ff7e5f", "#2b1055"], "angle": 160}})"}) {
        const StyleRead style = parseStyle(json, "backdrop", folder.path().string());
        ASSERT_FALSE(style.problem) << json;
        {
            const bool cover = std::string(json).find("gradient") != std::string::npos;
            const PageSet set = renderPages(engine, {.markdown = notes.at("long-essay-sections"),
                                                     .settings = {.size = Presets::by("square"), .pages = true, .cover = cover,
                                                                  .style = style.style}});
            ASSERT_GE(set.reports.size(), 3u) << json;
            for (const auto& r : set.reports)
                EXPECT_GE(double(r["minContrast"]), 4.5) << json << " card " << r["page"] << (cover ? " (cover)" : "");
        }
    }

    std::string table = "# Revenue by region\n\nAll figures in thousands.\n\n"
                        "| Region | Q1 revenue | Q2 revenue | Q3 revenue | Q4 revenue | Year over year |\n"
                        "|---|---:|---:|---:|---:|---:|\n";
    for (int i = 0; i < 40; ++i)
        table += "| Region " + std::to_string(i) + " | $" + std::to_string(100 + i * 7) + ",120 | $" +
                 std::to_string(300 + i) + ",455 | $" + std::to_string(900 - i) + ",310 | $" + std::to_string(500 + i) +
                 ",001 | +" + std::to_string(i) + "% |\n";
    const PageSet set = renderPages(engine, {.markdown = table, .settings = {.size = Presets::by("story"), .pages = true}});
    ASSERT_GE(set.reports.size(), 2u);
    for (const auto& r : set.reports) {
        EXPECT_FALSE(r["overflowX"]) << "card " << r["page"];
        EXPECT_FALSE(r["cut"]) << "card " << r["page"];
    }
}

// Formulas that reach below their line and a list in six scripts are neither cut nor reported cut.
TEST(CardDesign, FormulasAndMixedScriptsAreNeverCut) {
    const auto notes = corpus();
    RenderEngine engine;
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

namespace {

CardRequest corpusNote(const char* name, const char* size, bool pages = true) {
    return withCorpusPictures({.markdown = corpus().at(name), .settings = {.size = Presets::by(size), .pages = pages}});
}

}  // namespace

// A card depends on its note, settings, fonts and pictures, never on how busy the machine is:
// sets of tables, headings and formulas, a style's font file, large pictures alone and two in a
// set, drawn on a quiet machine and again with every core kept busy, are the same to the byte,
// every picture shown.
TEST(CardDesignSoak, EverySetFontFileAndLargePictureIsTheSameHoweverBusyTheMachine) {
    norvo::testing::TempFolder folder;
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", folder.path() / "body.ttf");
    const StyleRead fontStyle = parseStyle(R"({"fonts": {"body": "body.ttf", "heading": "body.ttf"}})", "serif file",
                                           folder.path().string());
    ASSERT_FALSE(fontStyle.problem);
    std::vector<std::pair<std::string, CardRequest>> requests;
    for (const char* name : {"long-essay-sections", "long-tables-and-headings", "long-pipeline-marked", "formulas"})
        for (const char* size : {"square", "landscape"}) requests.push_back({std::string(name) + " " + size, corpusNote(name, size)});
    CardRequest styled = corpusNote("long-2000", "portrait");
    styled.settings.style = fontStyle.style;
    requests.push_back({"style font set", styled});
    for (const char* name : {"picture-wide-photo", "picture-phone-screenshot"})
        for (const char* size : {"landscape", "story"})
            requests.push_back({std::string(name) + " " + size, corpusNote(name, size, false)});
    CardRequest pictures = corpusNote("long-2000", "square");
    pictures.markdown = "# Two views\n\n![A](pictures/photo-4000x3000.png)\n![B](pictures/phone-1170x2532.png)\n\n" + pictures.markdown;
    requests.push_back({"two large pictures in a set", pictures});

    RenderEngine engine;
    auto drawAll = [&] {
        std::vector<PageSet> all;
        for (const auto& [what, request] : requests) all.push_back(renderPages(engine, request));
        return all;
    };
    const auto quiet = drawAll();
    std::vector<PageSet> busy;
    {
        norvo::testing::BusyCores cores;
        busy = drawAll();
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const std::string& what = requests[i].first;
        ASSERT_FALSE(quiet[i].images.empty()) << what;
        ASSERT_EQ(quiet[i].images.size(), busy[i].images.size()) << what;
        for (std::size_t card = 0; card < quiet[i].images.size(); ++card) {
            ASSERT_TRUE(quiet[i].images[card] && busy[i].images[card]) << what << " card " << card + 1;
            EXPECT_EQ(meanDifference(*quiet[i].images[card], *busy[i].images[card]), 0.0) << what << " card " << card + 1;
            EXPECT_FALSE(quiet[i].reports[card].contains("leftOut")) << what;
        }
    }
}
