#pragma once
#include <cstdint>
#include <filesystem>

namespace norvo::ZipExtractor {

struct Limits {
    std::uint64_t maxTotalBytes = 1ull << 30;
    std::uint64_t maxEntries = 100'000;
};

// Extracts a zip archive into `folder` (made here, and empty). Only regular files and
// folders with clean relative paths are accepted; links, devices, absolute paths, "..",
// duplicate names and anything over the limits fail the whole extraction.
// Returns false on any failure.
bool extract(const std::filesystem::path& archive, const std::filesystem::path& folder, Limits limits = {});

}  // namespace norvo::ZipExtractor
