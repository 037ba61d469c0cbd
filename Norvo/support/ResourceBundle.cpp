#include "support/ResourceBundle.hpp"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace norvo::ResourceBundle {

namespace {
std::filesystem::path& buildTreeBundle() {
    static std::filesystem::path bundle;
    return bundle;
}
}  // namespace

std::filesystem::path executableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : exe.parent_path();
}

void useBuildTree(const std::filesystem::path& bundle) { buildTreeBundle() = bundle; }

const std::filesystem::path& path() {
    static const std::filesystem::path found = [] {
        const std::filesystem::path exe = executableFolder();
        // Beside the program (the bundle layout), a system install's share/norvo, an older
        // install's share/norvo/Norvo_Norvo.bundle, the build tree's.
        const std::filesystem::path candidates[] = {exe / "Norvo_Norvo.bundle", exe.parent_path() / "share" / "norvo",
                                                    exe.parent_path() / "share" / "norvo" / "Norvo_Norvo.bundle",
                                                    buildTreeBundle()};
        for (const auto& candidate : candidates) {
            std::error_code ec;
            if (!candidate.empty() && std::filesystem::is_directory(candidate / "carder", ec)) return candidate;
        }
        std::fprintf(stderr, "could not load resource bundle: none beside %s or in %s\n", candidates[0].c_str(),
                     candidates[1].parent_path().c_str());
        std::abort();
    }();
    return found;
}

}  // namespace norvo::ResourceBundle
