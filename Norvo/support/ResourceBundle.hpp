#pragma once
#include <filesystem>

namespace norvo::ResourceBundle {

// The folder Norvo_Norvo.bundle: beside the running executable, else the one in the
// build tree. Stops the process when neither exists.
const std::filesystem::path& path();

// The executable's own folder (the application folder of an installed Norvo.app).
std::filesystem::path executableFolder();

}  // namespace norvo::ResourceBundle
