#include "model/AppInfo.hpp"

#include "BuildConfig.hpp"

namespace norvo::AppInfo {

std::string version() {
    const std::string configured = NORVO_BUILD_VERSION;
    return configured.empty() ? "1.0" : configured;
}

}  // namespace norvo::AppInfo
