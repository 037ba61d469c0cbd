#pragma once
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace norvo {

// Writes bytes to `path` through a temporary file made exclusively in the same folder
// (never through a link, never a name someone could guess and prepare), flushed to disk
// and renamed into place: a reader sees the old file or the whole new one. On failure the
// reason is returned and nothing of the attempt is left behind.
std::error_code writeFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);
std::error_code writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text);

}  // namespace norvo
