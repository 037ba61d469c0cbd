// The application's self-test mode, as a script runs it: the real program, every size, quits.
#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.hpp"
#include "norvo/Presets.hpp"

using namespace norvo;

TEST(SelfTestMode, TheProgramRendersEverySizeAndQuits) {
    const std::filesystem::path folder = "/tmp/norvo-selftest";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    const auto result = norvo::testing::runProcess({NORVO_TEST_EXECUTABLE}, {"NORVO_SELFTEST=1", "NORVO_SELFTEST_FONT=mono"});
    SCOPED_TRACE(result.err);
    EXPECT_EQ(result.exitStatus, 0);
    std::vector<std::string> out;
    std::istringstream in(result.out);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    ASSERT_EQ(out.size(), 5u) << result.out;
    for (std::size_t i = 0; i < 4; ++i) {
        const Preset& p = Presets::all()[i];
        const auto header = norvo::testing::readPngHeader(norvo::testing::readFile(folder / (p.id + "-mono.png")));
        EXPECT_EQ(header.width, std::uint32_t(p.width));
        EXPECT_EQ(header.height, std::uint32_t(p.height));
        EXPECT_EQ(out[i].rfind("SELFTEST " + p.id + " ", 0), 0u) << out[i];  // the line's words: SelfTestRun's test
    }
    EXPECT_EQ(out[4], "SELFTEST DONE");
}
