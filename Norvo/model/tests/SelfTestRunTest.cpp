#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.hpp"

using norvo::testing::runProcess;

namespace {

const std::filesystem::path kFolder = "/tmp/norvo-selftest";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// Runs the real program in self-test mode and checks its lines and files.
void expectRun(const std::vector<std::string>& env, const std::string& scaleText, const std::string& suffix) {
    std::error_code ec;
    std::filesystem::remove_all(kFolder, ec);
    const auto result = runProcess({NORVO_TEST_EXECUTABLE}, env);
    SCOPED_TRACE(result.err);
    EXPECT_EQ(result.exitStatus, 0);
    const auto out = lines(result.out);
    ASSERT_EQ(out.size(), 5u) << result.out;
    const std::pair<const char*, std::pair<int, int>> presets[] = {
        {"square", {1080, 1080}}, {"portrait", {1080, 1350}}, {"landscape", {1200, 630}}, {"story", {1080, 1920}}};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& [id, size] = presets[i];
        const auto file = kFolder / (std::string(id) + suffix + ".png");
        const auto bytes = norvo::testing::readFile(file);
        ASSERT_FALSE(bytes.empty()) << file;
        const auto header = norvo::testing::readPngHeader(bytes);
        EXPECT_EQ(header.width, unsigned(size.first));
        EXPECT_EQ(header.height, unsigned(size.second));
        EXPECT_EQ(out[i], "SELFTEST " + std::string(id) + " " + std::to_string(size.first) + "x" +
                              std::to_string(size.second) + " scale=" + scaleText +
                              " bytes=" + std::to_string(bytes.size()));
    }
    EXPECT_EQ(out[4], "SELFTEST DONE");
}

}  // namespace

TEST(SelfTestRun, EnvironmentCases) {
    expectRun({"NORVO_SELFTEST=1"}, "1.0", "");
    expectRun({"NORVO_SELFTEST=1", "NORVO_SELFTEST_SCALE=2", "NORVO_SELFTEST_FONT=mono"}, "2.0", "-s2.0-mono");
    expectRun({"NORVO_SELFTEST=1", "NORVO_SELFTEST_SCALE= 2", "NORVO_SELFTEST_FONT="}, "1.0", "-");
}

TEST(SelfTestRun, OnlyTheExactValueStartsIt) {
    // Without the self-test the app keeps running; it is stopped after a short while.
    const auto result = runProcess({"timeout", "3", NORVO_TEST_EXECUTABLE}, {"NORVO_SELFTEST=true"});
    EXPECT_EQ(result.exitStatus, 124);  // still running when timed out
    EXPECT_EQ(result.out, "");
}

TEST(SelfTestRun, UnwritableFolderStillReportsEveryPreset) {
    std::error_code ec;
    std::filesystem::remove_all(kFolder, ec);
    norvo::testing::writeFile(kFolder, "a file where the folder should be");
    const auto result = runProcess({NORVO_TEST_EXECUTABLE}, {"NORVO_SELFTEST=1"});
    std::filesystem::remove(kFolder, ec);
    EXPECT_EQ(result.exitStatus, 0);
    const auto out = lines(result.out);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_TRUE(out[0].starts_with("SELFTEST square 1080x1080 scale=1.0 bytes=")) << out[0];
    EXPECT_EQ(out[4], "SELFTEST DONE");
}
