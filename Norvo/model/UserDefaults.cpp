#include "model/UserDefaults.hpp"

#include <filesystem>

#include <glibmm/keyfile.h>
#include <glibmm/miscutils.h>

namespace norvo::UserDefaults {

namespace {
constexpr const char* kGroup = "defaults";

std::filesystem::path file() { return std::filesystem::path(Glib::get_user_config_dir()) / "norvo" / "defaults.ini"; }

Glib::RefPtr<Glib::KeyFile> load() {
    auto keys = Glib::KeyFile::create();
    try {
        keys->load_from_file(file().string(), Glib::KeyFile::Flags::KEEP_COMMENTS);
    } catch (const Glib::Error&) {
        // No file yet, or an unreadable one: start from nothing.
    }
    return keys;
}
}  // namespace

std::optional<std::string> string(const std::string& key) {
    auto keys = load();
    try {
        return std::string(keys->get_string(kGroup, key));
    } catch (const Glib::Error&) {
        return std::nullopt;
    }
}

void setString(const std::string& key, const std::string& value) {
    auto keys = load();
    keys->set_string(kGroup, key, value);
    std::error_code ec;
    std::filesystem::create_directories(file().parent_path(), ec);
    try {
        keys->save_to_file(file().string());  // written to a temporary file and renamed
    } catch (const Glib::Error&) {
        // Not remembering a declined version only means being asked again.
    }
}

}  // namespace norvo::UserDefaults
