#include "updater/UpdateCheck.hpp"

namespace norvo::UpdateCheck {

std::optional<UpdateInfo> run(const std::string& manifestURL, std::string_view currentVersion, HttpSession& session,
                              std::chrono::milliseconds timeout) {
    const std::optional<HttpResponse> response = session.get(manifestURL, timeout, Updater::kMaxManifestBytes);
    if (!response) return std::nullopt;
    return Updater::parseManifest(response->body, currentVersion);
}

}  // namespace norvo::UpdateCheck
