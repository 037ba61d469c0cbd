#include "model/AppInfo.hpp"

#include <cstdlib>

#include "BuildConfig.hpp"

namespace norvo::AppInfo {

namespace {
std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
}  // namespace

std::string version() {
    const std::string configured = NORVO_BUILD_VERSION;
    return configured.empty() ? "1.0" : configured;
}

std::string applicationId() { return NORVO_APP_ID; }
std::string makerURL() { return NORVO_MAKER_URL; }
std::string feedbackURL() { return NORVO_FEEDBACK_URL; }
std::string websiteAddress() { return std::string(NORVO_UPDATE_HOST) + "/norvo"; }
std::string websiteURL() { return "https://" + websiteAddress(); }

std::string manifestURL() {
    const std::string overridden = environment("NORVO_UPDATE_MANIFEST_URL");
    return overridden.empty() ? "https://" + std::string(NORVO_UPDATE_HOST) + "/norvo/latest.json" : overridden;
}

std::string updateCaFile() { return environment("NORVO_UPDATE_CA_FILE"); }

}  // namespace norvo::AppInfo
