#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "norvo/Updater.hpp"
#include "updater/HttpSession.hpp"

namespace norvo::UpdateCheck {

// Fetches the manifest (status ignored) and parses it. Every failure gives nothing.
// Blocking: run it on a worker thread.
std::optional<UpdateInfo> run(const std::string& manifestURL, std::string_view currentVersion, HttpSession& session,
                              std::chrono::milliseconds timeout = Updater::kCheckTimeout);

}  // namespace norvo::UpdateCheck
