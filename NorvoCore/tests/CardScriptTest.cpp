#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "norvo/CardScript.hpp"
#include "norvo/SelfTestConfig.hpp"

using namespace norvo;

TEST(CardScript, FontStacksMatchExactly) {
    const std::string sans = "-apple-system, 'SF Pro Text', 'Helvetica Neue', Arial, sans-serif";
    EXPECT_EQ(CardScript::fontStack("serif"), "Georgia, 'Times New Roman', serif");
    EXPECT_EQ(CardScript::fontStack("mono"), "'SF Mono', ui-monospace, Menlo, monospace");
    for (const char* id : {"sans", "Serif", "", "MONO", "serif "}) EXPECT_EQ(CardScript::fontStack(id), sans) << id;
}

TEST(CardScript, ExactScriptText) {
    EXPECT_EQ(*CardScript::build("# Hi", "paper", "serif", 1080, 1080, true, 1.0),
              "document.getElementById('card').style.fontFamily=\"Georgia, 'Times New Roman', serif\";"
              "window.tazuCard(\"# Hi\", \"paper\", 1080, 1080, true, 1.0)");
    EXPECT_EQ(*CardScript::build("a\"b\\c\nd</script>é", "ink", "mono", 1200, 630, false, 1.25),
              "document.getElementById('card').style.fontFamily=\"'SF Mono', ui-monospace, Menlo, monospace\";"
              "window.tazuCard(\"a\\\"b\\\\c\\nd</script>é\", \"ink\", 1200, 630, false, 1.25)");
    // Non-finite scales stay valid JavaScript.
    EXPECT_TRUE(CardScript::build("x", "sky", "sans", 1, 1, true, NAN)->ends_with(", NaN)"));
    EXPECT_TRUE(CardScript::build("x", "sky", "sans", 1, 1, true, INFINITY)->ends_with(", Infinity)"));
    EXPECT_EQ(CardScript::build("bad \xff", "paper", "sans", 1, 1, true, 1.0), std::nullopt);
    EXPECT_EQ(CardScript::build("ok", "bad \xc3", "sans", 1, 1, true, 1.0), std::nullopt);
}

TEST(CardScript, ShortestNumbers) {
    EXPECT_EQ(formatShortest(2.0), "2.0");
    EXPECT_EQ(formatShortest(0.75), "0.75");
    EXPECT_EQ(formatShortest(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(formatShortest(1e21), "1e+21");
}

TEST(SelfTestConfig, EnvironmentParsing) {
    EXPECT_TRUE(SelfTestConfig::requested("1"));
    for (const char* v : {"true", "yes", "0", "", " 1", "1 "}) EXPECT_FALSE(SelfTestConfig::requested(v)) << v;
    EXPECT_FALSE(SelfTestConfig::requested(nullptr));

    struct Case {
        const char* scale;
        const char* font;
        double expectedScale;
        const char* suffix;
    };
    const Case cases[] = {
        {nullptr, nullptr, 1.0, ""},     {"2", nullptr, 2.0, "-s2.0"},     {"1", nullptr, 1.0, ""},
        {"1.00", nullptr, 1.0, ""},      {" 2", nullptr, 1.0, ""},         {"2 ", nullptr, 1.0, ""},
        {"2x", nullptr, 1.0, ""},        {"", nullptr, 1.0, ""},           {"1.5", "serif", 1.5, "-s1.5-serif"},
        {nullptr, "sans", 1.0, ""},      {nullptr, "mono", 1.0, "-mono"},  {nullptr, "", 1.0, "-"},
        {"0x1p1", nullptr, 2.0, "-s2.0"}, {"+.5e1", nullptr, 5.0, "-s5.0"}, {"\t2", nullptr, 1.0, ""},
    };
    for (const Case& c : cases) {
        const SelfTestConfig config = SelfTestConfig::from(c.scale, c.font);
        EXPECT_EQ(config.scale, c.expectedScale) << (c.scale ? c.scale : "(absent)");
        EXPECT_EQ(config.suffix, c.suffix) << (c.scale ? c.scale : "(absent)");
    }
    const SelfTestConfig nan = SelfTestConfig::from("nan", nullptr);
    EXPECT_TRUE(std::isnan(nan.scale));
    EXPECT_EQ(nan.suffix, "-snan");
    EXPECT_EQ(SelfTestConfig::from("INF", nullptr).suffix, "-sinf");
}
