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
    CardImagePtr render(const std::string& markdown, bool wordmark = true) {
        CardImagePtr image;
        bool done = false;
        engine_.render(CardRequest{.markdown = markdown, .settings = {.wordmark = wordmark}}, [&](CardImagePtr i) {
            image = std::move(i);
            done = true;
        });
        EXPECT_TRUE(runUntil([&] { return done; }, 30s));
        return image;
    }
    nlohmann::json layout() {
        return nlohmann::json::parse(evaluate(engine_.webView(), R"(JSON.stringify((() => {
            const c = document.getElementById('content');
            return {html: c.innerHTML, text: c.textContent, wordmarkHidden: document.getElementById('wordmark').hidden};
        })()))"));
    }
    RenderEngine engine_;
};

}  // namespace

// The real page with the real Markdown layer: what HTML each kind of note becomes (front matter
// hidden, remote pictures as their description) is the layer's own test, in node; how cards
// fit and look are the card design tests.
TEST_F(HostPage, UntrustedMarkupIsShownAsText) {
    ASSERT_TRUE(render("# Body\n\n<b onclick=x()>bold</b> <script>alert(1)</script>"));
    const auto l = layout();
    const std::string html = l["html"], text = l["text"];
    EXPECT_NE(text.find("<b onclick=x()>bold</b> <script>alert(1)</script>"), std::string::npos) << text;
    EXPECT_EQ(html.find("<b "), std::string::npos) << html;
    EXPECT_EQ(html.find("<script"), std::string::npos) << html;
    EXPECT_FALSE(l["wordmarkHidden"]);
    render("# Plain", false);
    EXPECT_TRUE(layout()["wordmarkHidden"]);
}
