#include "engine/SandboxLeftovers.hpp"

#include <filesystem>
#include <string>

#include <glib.h>
#include <unistd.h>

namespace norvo::SandboxLeftovers {

void removeOurs() {
    const std::filesystem::path folder = std::filesystem::path(g_get_user_runtime_dir()) / ".flatpak";
    const std::string ours = "webkit-" + std::to_string(::getpid()) + "-";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(ours, 0) != 0 || name.find_first_not_of("0123456789", ours.size()) != std::string::npos ||
            !entry.is_directory(ec) || entry.is_symlink(ec))
            continue;
        // Only a folder as WebKit left it: its one file, nothing anyone added.
        std::size_t files = 0;
        bool onlyTheNote = true;
        for (const auto& inside : std::filesystem::directory_iterator(entry.path(), ec)) {
            ++files;
            onlyTheNote = onlyTheNote && inside.path().filename() == "bwrapinfo.json" && inside.is_regular_file(ec) &&
                          !inside.is_symlink(ec);
        }
        if (ec || files > 1 || !onlyTheNote) continue;
        std::filesystem::remove(entry.path() / "bwrapinfo.json", ec);
        std::filesystem::remove(entry.path(), ec);
    }
}

}  // namespace norvo::SandboxLeftovers
