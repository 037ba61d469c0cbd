// Every text readable: the contrast of each kind of text measured on pixels, the user's own
// styles (photos, gradients, fonts, signatures), the served backdrops and the bundled looks.
#include <cstdio>
#include <cstring>

#include "CardDesignSupport.hpp"
#include "norvo/CardStyle.hpp"
#include "support/StyleFiles.hpp"

using namespace norvo;
using namespace norvo::design;

namespace {

// What each kind of text is, its selector, and the contrast it needs.
const std::vector<std::tuple<std::string, std::string, double>> kKindsOfText = {
    {"body", "p", 4.5},          {"muted heading", "h6", 4.5}, {"quote", "blockquote p", 4.5},
    {"link", "a", 4.5},          {"struck", "s", 4.5},       {"code", "code", 4.5},
    {"table", "td", 4.5},        {"wordmark", ".wordmark-text", 3.0}, {"table rule", "rule", 3.0},
    {"thematic break", "hr", 3.0},   {"marked code", ".code-line.marked", 4.5},
    {"line number", ".line-number", 4.5},
};

// The boxes of each kind's lines (a rule's own box for the table's rules and a thematic
// break), by selector.
std::string boxesOfEachKind() {
    nlohmann::json selectors = nlohmann::json::array();
    for (const auto& kind : kKindsOfText) selectors.push_back(std::get<1>(kind));
    return R"(JSON.stringify((() => {
        const out = {};
        const range = document.createRange();
        for (const sel of )" + selectors.dump() + R"() {
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
}

}  // namespace

TEST(CardDesign, TextContrastMeasuredOnPixels) {
    RenderEngine engine;
    // Every kind of text near the top, in the middle and near the bottom of the card.
    const std::string kindsOfText =
        "###### Muted heading\n\nBody text on the card.\n\n> A quoted line\n\n"
        "[Link text](https://example.org) and ~~struck text~~ and `code text`\n\n"
        "| Name | Size |\n|---|---:|\n| Table text | 1.2 MB |\n\n---\n\n";
    const std::string note = kindsOfText + kindsOfText + kindsOfText + "```{1} ln\nA marked code line\n```\n";
    const std::string hideText = hideTextScript("#card *{text-shadow:none!important}td,th{border-color:transparent!important}"
                                                "hr{visibility:hidden!important}");
    for (const char* theme : {"paper", "ink", "sky"}) {
        // A story card: the note spans its whole height, bands of the backdrop included.
        const Preset story = Presets::by("story");
        const Rendered card = render(engine, note, theme, story);
        ASSERT_FALSE(card.report["cut"]);
        const auto boxes = nlohmann::json::parse(evaluate(engine.webView(), boxesOfEachKind()));
        // A quote is set in the body's ink, not muted.
        EXPECT_EQ(evaluate(engine.webView(), "String(getComputedStyle(document.querySelector('blockquote p')).color === "
                                             "getComputedStyle(document.querySelector('#content > p')).color)"),
                  "true") << theme;
        evaluate(engine.webView(), hideText);
        const CardImagePtr backdrop = render(engine, note, theme, story).image;
        evaluate(engine.webView(), kShowText);
        ASSERT_TRUE(card.image && backdrop);
        std::string figures;
        for (const auto& [kind, selector, needed] : kKindsOfText) {
            // Every line is measured on its own; the figure is the weakest line's.
            const double ratio = weakestGlyphContrast(*card.image, *backdrop, boxes[selector]);
            ASSERT_LT(ratio, 100) << theme << " " << kind << ": no line to measure";
            figures += kind + " " + std::to_string(ratio).substr(0, 4) + ", ";
            EXPECT_GE(ratio, needed) << theme << " " << kind;
        }
        std::printf("contrast %s: %s\n", theme, figures.c_str());
    }
}

namespace {

// The backgrounds, fonts and signatures a user may pick, with the pictures and fonts they
// name, in a folder of their own.
class UserStyles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto dir = folder_.path();
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
    }

    CardStyle style(const std::string& json) const {
        const StyleRead read = parseStyle(json, "test", folder_.path().string());
        EXPECT_FALSE(read.problem) << json;
        return read.style;
    }

    // A name, the theme under it, and the style.
    std::vector<std::tuple<std::string, std::string, CardStyle>> styles() const {
        return {
            {"accent", "paper", style(R"({"accent": "#1a7f64"})")},  // (an accent on a dark card: "solid dark")
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
    }

    CardRequest card(const CardStyle& style, const std::string& theme = "paper", const Preset& preset = Presets::defaultPreset(),
                     const std::string& markdown = kNote) const {
        CardRequest request{.markdown = markdown, .settings = {.theme = theme, .size = preset}};
        request.settings.style = style;
        return request;
    }

    void expectEveryTextReadable(bool everySize);

    static inline const std::string kNote =
        "# Launch day\n\nWe shipped the [new editor](https://x.example) at nine.\n\n- Faster start\n- Styles\n\n"
        "> Worth the wait.\n\n```py {2}\ndef ship():\n    return True\n```\n\n| Part | Time |\n|---|---:|\n| Build | 4 min |\n";
    norvo::testing::TempFolder folder_;
    RenderEngine engine_;
};

}  // namespace

// Every style in every size: each text readable, nothing cut or across the edge, a photo
// calm behind the text; every style once on each size in turn, or (soak) on all four.
void UserStyles::expectEveryTextReadable(bool everySize) {
    const auto all = styles();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto& [name, theme, cardStyle] = all[i];
        double lowest = 21;
        for (std::size_t p = 0; p < Presets::all().size(); ++p) {
            if (!everySize && p != i % Presets::all().size()) continue;
            const Preset& preset = Presets::all()[p];
            const std::string what = name + " " + preset.id;
            const Rendered r = render(engine_, card(cardStyle, theme, preset));
            ASSERT_TRUE(r.image) << what;
            EXPECT_GE(double(r.report["minContrast"]), 4.5) << what;
            EXPECT_FALSE(r.report["overflowX"]) << what;
            EXPECT_FALSE(r.report["cut"]) << what;
            // Behind the text a photo shows through calm, whatever it is; a photo is the only
            // backdrop that reports how busy it is.
            EXPECT_LE(r.report.value("busyness", 0.0), 0.06) << what;
            EXPECT_EQ(r.report.contains("busyness"), name.find("photo") != std::string::npos) << what;
            lowest = std::min(lowest, double(r.report["minContrast"]));
        }
        std::printf("minContrast, %s: %.2f\n", name.c_str(), lowest);
        if (name == "font family") {
            EXPECT_EQ(evaluate(engine_.webView(), "getComputedStyle(document.querySelector('#content p')).fontFamily.split(',')[0]"),
                      "\"DejaVu Serif\"");
        }
        if (name == "font file") {
            EXPECT_EQ(evaluate(engine_.webView(), "String(Array.from(document.fonts).some(function (f) {"
                                                  "return /^NorvoStyleFont/.test(f.family) && f.status === 'loaded'; }))"),
                      "true");
        }
    }
}

TEST_F(UserStyles, KeepEveryTextReadableWhateverTheUserPicks) { expectEveryTextReadable(false); }

namespace {
class UserStylesSoak : public UserStyles {};
}  // namespace

TEST_F(UserStylesSoak, KeepEveryTextReadableInEverySize) { expectEveryTextReadable(true); }

// Measured again on the pixels: the glyphs' cores against what is behind them once the text
// is gone, line by line, on the hardest backgrounds.
TEST_F(UserStyles, HardestBackgroundsKeepTheirContrastOnThePixels) {
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
    for (const auto& [name, theme, cardStyle] : styles()) {
        if (name != "busy photo" && name != "yellow on paper" && name != "gradient") continue;
        const Rendered r = render(engine_, card(cardStyle, theme, Presets::by("portrait")));
        ASSERT_TRUE(r.image) << name;
        const auto boxes = nlohmann::json::parse(evaluate(engine_.webView(), lines));
        evaluate(engine_.webView(), hideTextScript());
        const CardImagePtr behind = snapshotNow(engine_.webView());
        evaluate(engine_.webView(), kShowText);
        ASSERT_TRUE(behind) << name;
        const double weakest = weakestGlyphContrast(*r.image, *behind, boxes);
        std::printf("contrast on pixels, %s: weakest line %.2f, reported %.2f\n", name.c_str(), weakest,
                    double(r.report["minContrast"]));
        EXPECT_GE(weakest, 4.5) << name;
    }
}

// Plain text on foliage, a signature as long as a style allows, and a photo that is gone.
TEST_F(UserStyles, FoliageLongSignaturesAndMissingPhotos) {
    // Plain text needs little scrim by number even on foliage; it gets a calm one all the same.
    const CardStyle leaves = style(R"({"background": {"image": "leaves.jpg"}})");
    const CardStyle longSignature = style(R"({"signature": {"name": "Ada Lovelace, Countess of Lovelace, who wrote the first",
                                                      "handle": "@ada.lovelace.analytical.engine"}})");
    for (const Preset& preset : Presets::all()) {
        if (preset.width > preset.height || preset.height > 1.5 * preset.width) {  // the widest and the tallest
            const Rendered r = render(engine_, card(leaves, "paper", preset, "# Weekend hike\n\nWe climbed to the ridge "
                                                                             "before sunrise and watched the valley fill with light."));
            EXPECT_LE(r.report.value("busyness", 1.0), 0.06) << preset.id << " " << r.report.dump();
            EXPECT_GE(double(r.report["minContrast"]), 4.5) << preset.id;
        }
        // The long signature keeps clear of the wordmark on every size.
        ASSERT_TRUE(draw(engine_, card(longSignature, "paper", preset))) << preset.id;
        EXPECT_EQ(evaluate(engine_.webView(), "String(document.getElementById('signature').getBoundingClientRect().right <"
                                              " document.getElementById('wordmark').getBoundingClientRect().left)"),
                  "true")
            << preset.id;
    }
    // A style whose photo is gone: the theme's backdrop, and the report says which file.
    bool done = false;
    engine_.renderWithReport(card(style(R"({"background": {"image": "gone.jpg"}})")), [&](RenderedCard c) {
        EXPECT_TRUE(c.image);
        ASSERT_EQ(c.report.refusedPictures.size(), 1u);
        EXPECT_EQ(c.report.refusedPictures[0].target, (folder_.path() / "gone.jpg").string());
        EXPECT_GE(c.report.minContrast, 4.5);
        done = true;
    });
    ASSERT_TRUE(runUntil([&] { return done; }, 30s));
}

// The app paints each theme's backdrop on a thread of its own and serves it; the page keeps
// its own painter for when none was served. Both must give the same pixels, bit for bit.
// Each theme on one size (a different one each) and one card at twice the density; every
// theme on every size in the soak tier.
void expectTheServedBackdropIsThePagesOwn(bool everySize) {
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
    const std::vector<std::string> themes{"paper", "ink", "sky"};
    for (std::size_t t = 0; t < themes.size(); ++t)
        for (std::size_t p = 0; p < Presets::all().size(); ++p)
            for (int density : {1, 2}) {
                const Preset& preset = Presets::all()[p];
                const std::string& theme = themes[t];
                if (density == 2 && preset.id != "portrait") continue;
                if (!everySize && p != (t + std::size_t(density == 2)) % Presets::all().size()) continue;
                CardRequest card{.markdown = "A line.", .settings = {.theme = theme, .size = preset}};
                card.density = density;
                // Without a report nothing on the page needs the backdrop's pixels early.
                const CardImagePtr served = draw(engine, card);
                ASSERT_TRUE(served);
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

TEST(CardDesign, TheServedBackdropIsThePagesOwnToTheBit) { expectTheServedBackdropIsThePagesOwn(false); }
TEST(CardDesignSoak, TheServedBackdropIsThePagesOwnToTheBitInEverySize) { expectTheServedBackdropIsThePagesOwn(true); }

// What note apps write, and the looks Norvo ships: callouts of every kind and highlights keep
// their contrast in every theme and every bundled style, each on a size in turn (the soak
// tier: on every size), without a cut or a split word; a highlight shows as a band of its own
// colour.
void expectBundledLooksReadable(bool everySize) {
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
    for (std::size_t c = 0; c < cards.size(); ++c) {
        auto& [name, card] = cards[c];
        for (std::size_t p = 0; p < Presets::all().size(); ++p) {
            if (!everySize && p != c % Presets::all().size()) continue;
            const Preset& preset = Presets::all()[p];
            card.settings.size = preset;
            const std::string what = name + " " + preset.id;
            const Rendered r = render(engine, card);
            ASSERT_TRUE(r.image) << what;
            EXPECT_GE(double(r.report["minContrast"]), 4.5) << what;
            EXPECT_FALSE(r.report["cut"]) << what;
            EXPECT_FALSE(r.report["overflowX"]) << what;
            EXPECT_EQ(int(r.report["brokenWords"]), 0) << what;
        }
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

TEST(CardDesign, BundledStylesCalloutsAndHighlightsStayReadable) { expectBundledLooksReadable(false); }
TEST(CardDesignSoak, BundledStylesCalloutsAndHighlightsStayReadableInEverySize) { expectBundledLooksReadable(true); }
