#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/CardRenderer.hpp"
#include "norvo/SelfTestConfig.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The unattended self-test: renders the sample card in every size into `folder`, prints
// one line per size ("SELFTEST square 1080x1080 scale=1.0 bytes=…", or "… FAILED"),
// then "SELFTEST DONE", and calls `done`.
class SelfTestRun {
public:
    SelfTestRun(CardRenderer& renderer, SelfTestConfig config, std::filesystem::path folder,
                std::function<void()> done);
    SelfTestRun(const SelfTestRun&) = delete;
    SelfTestRun& operator=(const SelfTestRun&) = delete;

    void start();

private:
    void step(std::size_t index);
    CardRequest cardAt(std::size_t index) const;
    void report(std::size_t index, std::string line);

    CardRenderer& renderer_;
    SelfTestConfig config_;
    std::filesystem::path folder_;
    std::function<void()> done_;
    std::vector<std::string> lines_;
    std::size_t printed_ = 0;
    Lifetime lifetime_;
    BackgroundTasks background_;  // last: joined before the rest goes
};

}  // namespace norvo
