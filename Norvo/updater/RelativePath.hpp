#pragma once
#include <string_view>

namespace norvo::RelativePath {

// A path that stays inside the folder it is read against: relative, no empty, "." or
// ".." parts, no backslash, no control characters. A single trailing "/" (a folder, as
// archives write them) is allowed only when `folderSlashAllowed`.
bool isClean(std::string_view path, bool folderSlashAllowed = false);

}  // namespace norvo::RelativePath
