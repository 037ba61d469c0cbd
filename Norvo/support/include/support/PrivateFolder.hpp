#pragma once
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

namespace norvo::PrivateFolder {

// The user's own folder for Norvo's working files, which no other user can read or prepare:
// $XDG_RUNTIME_DIR/norvo (mode 0700, owned by this user), or where there is no such folder,
// one made for this process with mkdtemp in the temporary folder (removed at exit).
const std::filesystem::path& root();

// A new folder under root() named "<prefix>-<pid>-XXXXXX" (this process's id), mode 0700;
// empty with `error` set when it cannot be made.
std::filesystem::path make(const std::string& prefix, std::error_code& error);

// Removes the folders make() made under root() with `prefix`: those of processes that no
// longer run (what earlier runs left behind) and unchanged for `olderThan`, and with `ownToo`
// this process's as well.
void removeLeftovers(const std::string& prefix, bool ownToo = false,
                     std::chrono::seconds olderThan = std::chrono::seconds(0));

// Whether `folder` is one that make() made with `prefix` (in this process or another of this
// user's): under root(), so named, a folder and not a link, private to this user.
bool isMadeHere(const std::filesystem::path& folder, const std::string& prefix);

}  // namespace norvo::PrivateFolder
