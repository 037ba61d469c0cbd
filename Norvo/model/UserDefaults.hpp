#pragma once
#include <optional>
#include <string>

namespace norvo::UserDefaults {

// The one remembered value: the update version the user answered "Later" to. Kept in
// $XDG_CONFIG_HOME/norvo/defaults.ini, group "defaults".
inline constexpr const char* kPromptedVersionKey = "tazu.norvo.update.promptedVersion";

std::optional<std::string> string(const std::string& key);
void setString(const std::string& key, const std::string& value);

}  // namespace norvo::UserDefaults
