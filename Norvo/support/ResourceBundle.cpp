#include "support/ResourceBundle.hpp"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "BuildConfig.hpp"

namespace norvo::ResourceBundle {

std::filesystem::path executableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : exe.parent_path();
}

const std::filesystem::path& path() {
    static const std::filesystem::path found = [] {
        const std::filesystem::path beside = executableFolder() / "Norvo_Norvo.bundle";
        const std::filesystem::path built = NORVO_BUILD_BUNDLE_DIR;
        std::error_code ec;
        if (std::filesystem::is_directory(beside, ec)) return beside;
        if (std::filesystem::is_directory(built, ec)) return built;
        std::fprintf(stderr, "could not load resource bundle: from %s or %s\n", beside.c_str(), built.c_str());
        std::abort();
    }();
    return found;
}

}  // namespace norvo::ResourceBundle
