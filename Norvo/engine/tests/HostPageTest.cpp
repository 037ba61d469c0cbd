#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestSupport.hpp"
#include "WebTestSupport.hpp"
#include "engine/RenderEngine.hpp"

using namespace norvo;
using namespace std::chrono_literals;
using norvo::testing::evaluate;
using norvo::testing::runUntil;

namespace {

class HostPage : public ::testing::Test {
protected:
    CardImagePtr render(const std::string& markdown, const std::string& theme = "paper",
                        const std::string& preset = "square", bool wordmark = true, double scale = 1.0) {
        CardImagePtr image;
        bool done = false;
        engine_.render(CardRequest{.markdown = markdown, .settings = {.theme = theme, .size = Presets::by(preset), .scale = scale, .wordmark = wordmark}}, [&](CardImagePtr i) {
            image = std::move(i);
            done = true;
        });
        EXPECT_TRUE(runUntil([&] { return done; }, 30s));
        return image;
    }
    nlohmann::json layout() {
        return nlohmann::json::parse(evaluate(engine_.webView(), R"(JSON.stringify((() => {
            const c = document.getElementById('content'), f = document.querySelector('.card-frame');
            const cr = c.getBoundingClientRect(), fr = f.getBoundingClientRect();
            return {html: c.innerHTML, text: c.textContent, fontSize: parseFloat(c.style.fontSize),
                    overflowing: c.classList.contains('cut'), top: cr.top, bottom: cr.bottom,
                    frameTop: fr.top, frameBottom: fr.bottom, wordmarkHidden: document.getElementById('wordmark').hidden};
        })()))"));
    }
    static double luminance(const CardImage& image, int x, int y) {
        const std::uint8_t* p = image.row(y) + 4 * x;
        return 0.0722 * p[0] + 0.7152 * p[1] + 0.2126 * p[2];
    }

    RenderEngine engine_;
};

}  // namespace

TEST_F(HostPage, UntrustedMarkupIsShownAsTextAndFrontMatterIsHidden) {
    // (What HTML each kind of note becomes is the Markdown layer's own test, in node.)
    ASSERT_TRUE(render("---\ntitle: secret\n---\n# Body\n\n<b onclick=x()>bold</b> <script>alert(1)</script>\n\n"
                       "![a cat](https://example.invalid/cat.png)"));
    const auto l = layout();
    const std::string html = l["html"], text = l["text"];
    EXPECT_EQ(text.find("secret"), std::string::npos);
    EXPECT_NE(text.find("<b onclick=x()>bold</b> <script>alert(1)</script>"), std::string::npos) << text;
    EXPECT_EQ(html.find("<b "), std::string::npos) << html;
    EXPECT_EQ(html.find("<script"), std::string::npos) << html;
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_FALSE(l["wordmarkHidden"]);
    render("# Plain", "paper", "square", false);
    EXPECT_TRUE(layout()["wordmarkHidden"]);
}

TEST_F(HostPage, TextFitsTheCardAtEverySize) {
    ASSERT_TRUE(render("# A short note"));
    const auto shortNote = layout();
    EXPECT_FALSE(shortNote["overflowing"]);
    EXPECT_GT(double(shortNote["top"]), double(shortNote["frameTop"]) + 100);  // centred, not at the top

    std::string longNote = "# A long note\n\n";
    for (int i = 0; i < 40; ++i) longNote += "A sentence that goes on for a while, number " + std::to_string(i) + ".\n\n";
    for (const char* preset : {"square", "landscape", "story"}) {
        ASSERT_TRUE(render(longNote, "paper", preset));
        const auto l = layout();
        EXPECT_TRUE(l["overflowing"]) << preset;
        EXPECT_LE(double(l["bottom"]), double(l["frameBottom"]) + 0.5) << preset;  // cut at the padding
        EXPECT_LT(double(l["fontSize"]), double(shortNote["fontSize"])) << preset;
    }
    // The scale moves the range the fitter searches: a short note takes its top.
    render("# A short note", "paper", "square", true, 0.75);
    EXPECT_NEAR(double(layout()["fontSize"]), double(shortNote["fontSize"]) * 0.75, 1.0);
}

TEST_F(HostPage, ThemesLookDistinct) {
    const CardImagePtr paper = render("x", "paper"), ink = render("x", "ink"), sky = render("x", "sky");
    const CardImagePtr unknown = render("x", "neon");
    ASSERT_TRUE(paper && ink && sky && unknown);
    EXPECT_GT(luminance(*paper, 540, 20), 200);
    EXPECT_LT(luminance(*ink, 540, 20), 40);
    const std::uint8_t* blue = sky->row(540) + 4 * 20;
    EXPECT_GT(blue[0], blue[2] + 60);  // B well above R
    EXPECT_EQ(luminance(*unknown, 540, 20), luminance(*paper, 540, 20));  // falls back to paper
}
