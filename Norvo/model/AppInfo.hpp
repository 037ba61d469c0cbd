#pragma once
#include <string>

namespace norvo::AppInfo {

// The version the build was configured with, "1.0" when it names none.
std::string version();

}  // namespace norvo::AppInfo
