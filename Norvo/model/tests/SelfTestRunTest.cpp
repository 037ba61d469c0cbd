// The self-test with a stand-in renderer: lines in preset order, failures said, files written.
// (The program runs it for real in the UI's tests.)
#include <gtest/gtest.h>

#include <sstream>

#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/SelfTestRun.hpp"

using namespace norvo;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string expectedLine(const Preset& p, const std::string& scale, std::size_t bytes) {
    return "SELFTEST " + p.id + " " + std::to_string(p.width) + "x" + std::to_string(p.height) + " scale=" + scale +
           " bytes=" + std::to_string(bytes);
}

}  // namespace

TEST(SelfTestRun, LinesInPresetOrderAFailedCardSaidAndTheRestWritten) {
    norvo::testing::TempFolder tmp;
    norvo::testing::FakeRenderer renderer;
    bool done = false;
    SelfTestRun run(renderer, SelfTestConfig::from("1.5", "serif"), tmp.path() / "out", [&] { done = true; });
    ::testing::internal::CaptureStdout();
    run.start();
    // Each card is asked for when the one before has come back; the second fails.
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(renderer.requests->size(), i + 1);
        const CardRequest& asked = (*renderer.requests)[i].card;
        EXPECT_EQ(asked.settings.size, Presets::all()[i]);
        EXPECT_EQ(asked.settings.font, "serif");
        EXPECT_EQ(asked.settings.scale, 1.5);
        renderer.complete(i, i != 1);
    }
    ASSERT_TRUE(norvo::testing::runUntil([&] { return done; }));
    const auto out = lines(::testing::internal::GetCapturedStdout());
    ASSERT_EQ(out.size(), 5u);
    for (std::size_t i : {0u, 2u, 3u}) {
        const Preset& p = Presets::all()[i];
        const auto bytes = norvo::testing::readFile(tmp.path() / "out" / (p.id + "-s1.5-serif.png"));
        EXPECT_EQ(norvo::testing::readPngHeader(bytes).width, std::uint32_t(p.width));
        EXPECT_EQ(out[i], expectedLine(p, "1.5", bytes.size()));
    }
    EXPECT_EQ(out[1], "SELFTEST portrait FAILED");
    EXPECT_EQ(out[4], "SELFTEST DONE");
}
