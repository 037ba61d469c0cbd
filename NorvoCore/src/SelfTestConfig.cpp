#include "norvo/SelfTestConfig.hpp"

#include <string_view>

#include "norvo/Numbers.hpp"

namespace norvo {

bool SelfTestConfig::requested(const char* selftestValue) {
    return selftestValue != nullptr && std::string_view(selftestValue) == "1";
}

SelfTestConfig SelfTestConfig::from(const char* scaleValue, const char* fontValue) {
    SelfTestConfig c;
    c.scale = parseStrictDouble(scaleValue ? scaleValue : "1.0").value_or(1.0);
    c.font = fontValue ? fontValue : "sans";
    if (!(c.scale == 1.0)) c.suffix += "-s" + c.scaleText();  // NaN counts as different
    if (c.font != "sans") c.suffix += "-" + c.font;
    return c;
}

std::string SelfTestConfig::scaleText() const { return formatShortest(scale); }

}  // namespace norvo
