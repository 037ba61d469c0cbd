#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "norvo/Numbers.hpp"
#include "norvo/SelfTestConfig.hpp"

using namespace norvo;

TEST(Numbers, ShortestText) {
    EXPECT_EQ(formatShortest(2.0), "2.0");
    EXPECT_EQ(formatShortest(0.75), "0.75");
    EXPECT_EQ(formatShortest(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(formatShortest(1e21), "1e+21");
}

TEST(SelfTestConfig, EnvironmentParsing) {
    EXPECT_TRUE(SelfTestConfig::requested("1"));
    for (const char* v : {"true", "yes", "0", "", " 1", "1 "}) EXPECT_FALSE(SelfTestConfig::requested(v)) << v;
    EXPECT_FALSE(SelfTestConfig::requested(nullptr));

    const std::tuple<const char*, const char*, double, const char*> cases[] = {
        {nullptr, nullptr, 1.0, ""},     {"2", nullptr, 2.0, "-s2.0"},     {"1", nullptr, 1.0, ""},
        {"1.00", nullptr, 1.0, ""},      {" 2", nullptr, 1.0, ""},         {"2 ", nullptr, 1.0, ""},
        {"2x", nullptr, 1.0, ""},        {"", nullptr, 1.0, ""},           {"1.5", "serif", 1.5, "-s1.5-serif"},
        {nullptr, "sans", 1.0, ""},      {nullptr, "mono", 1.0, "-mono"},  {nullptr, "", 1.0, "-"},
        {"0x1p1", nullptr, 2.0, "-s2.0"}, {"+.5e1", nullptr, 5.0, "-s5.0"}, {"\t2", nullptr, 1.0, ""},
    };
    for (const auto& [scale, font, expectedScale, suffix] : cases) {
        const SelfTestConfig config = SelfTestConfig::from(scale, font);
        EXPECT_EQ(config.scale, expectedScale) << (scale ? scale : "(absent)");
        EXPECT_EQ(config.suffix, suffix) << (scale ? scale : "(absent)");
    }
    const SelfTestConfig nan = SelfTestConfig::from("nan", nullptr);
    EXPECT_TRUE(std::isnan(nan.scale));
    EXPECT_EQ(nan.suffix, "-snan");
    EXPECT_EQ(SelfTestConfig::from("INF", nullptr).suffix, "-sinf");
}
