#pragma once
#include <string>

namespace norvo::AppInfo {

// The version the build was configured with, "1.0" when it names none.
std::string version();
std::string applicationId();
std::string makerURL();
std::string feedbackURL();
// The product page, https://<update host>/norvo, and the same without its scheme.
std::string websiteURL();
std::string websiteAddress();
// The update manifest: NORVO_UPDATE_MANIFEST_URL when set, else the build's address.
std::string manifestURL();
// An extra trusted CA for the update server (NORVO_UPDATE_CA_FILE), or "".
std::string updateCaFile();

}  // namespace norvo::AppInfo
