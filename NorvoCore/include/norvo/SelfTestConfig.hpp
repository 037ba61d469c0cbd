#pragma once
#include <string>

namespace norvo {

// How an unattended self-test run is set up, from its environment values
// (nullptr for an absent variable).
struct SelfTestConfig {
    double scale = 1.0;
    std::string font = "sans";
    std::string suffix;  // goes between the preset id and ".png"

    static bool requested(const char* selftestValue);
    static SelfTestConfig from(const char* scaleValue, const char* fontValue);
    std::string scaleText() const;
};

}  // namespace norvo
