#pragma once
#include <filesystem>

namespace norvo::ResourceBundle {

// The resources: Norvo_Norvo.bundle beside the running executable (the self-updating
// Norvo.app, and the build tree's norvo), else ../share/norvo from it (a system install),
// else where useBuildTree() said. Stops the process when none exists.
const std::filesystem::path& path();

// The executable's own folder (the application folder of an installed Norvo.app).
std::filesystem::path executableFolder();

// For programs that run from the build tree without a bundle beside them (tests, tools):
// the bundle the build made. Call before the first path().
void useBuildTree(const std::filesystem::path& bundle);

}  // namespace norvo::ResourceBundle
