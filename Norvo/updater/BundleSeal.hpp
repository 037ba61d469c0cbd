#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace norvo::BundleSeal {

// _CodeSignature/CodeResources of a Norvo.app: "norvo-seal 1", "version <v>", then
// "file <sha256 hex> <0644|0755> <relative path>" per regular file, sorted by path.
// CodeResources.minisig beside it is a minisign signature of that text.
inline constexpr const char* kSealFile = "_CodeSignature/CodeResources";
inline constexpr const char* kSignatureFile = "_CodeSignature/CodeResources.minisig";
// The program a bundle starts; a seal must list it, executable.
inline constexpr const char* kExecutable = "norvo";

struct Entry {
    std::string sha256;
    unsigned mode = 0;
    std::string path;
    bool operator==(const Entry&) const = default;
};

struct Seal {
    std::string version;
    std::vector<Entry> files;
};

std::optional<Seal> parse(const std::string& text);
std::string sha256OfFile(const std::filesystem::path& file);

// Checks a bundle against the compiled-in maker key: a valid signature, every sealed file
// present with its hash and mode, nothing unsealed, only regular files and folders, and
// the executable among them.
// Returns the sealed version, or nothing when any of it fails.
std::optional<std::string> verify(const std::filesystem::path& bundle, const std::string& publicKeyBase64);

}  // namespace norvo::BundleSeal
