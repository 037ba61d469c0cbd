#include "updater/BundleSeal.hpp"

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include <sodium.h>
#include <sys/stat.h>

#include "updater/Minisign.hpp"
#include "updater/RelativePath.hpp"

namespace norvo::BundleSeal {

namespace {

constexpr std::uintmax_t kMaxSealBytes = 16 << 20;

bool isHex64(const std::string& s) {
    if (s.size() != 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& p) {
    std::error_code ec;
    const auto st = std::filesystem::symlink_status(p, ec);
    if (ec || st.type() != std::filesystem::file_type::regular) return std::nullopt;
    if (std::filesystem::file_size(p, ec) > kMaxSealBytes || ec) return std::nullopt;
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::optional<Seal> parse(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "norvo-seal 1") return std::nullopt;
    if (!std::getline(in, line) || line.rfind("version ", 0) != 0 || line.size() == 8) return std::nullopt;
    Seal seal;
    seal.version = line.substr(8);
    std::string previous;
    while (std::getline(in, line)) {
        // "file " + 64 hex + " " + mode + " " + path; the path may hold spaces.
        if (line.rfind("file ", 0) != 0 || line.size() < 5 + 64 + 1 + 4 + 2) return std::nullopt;
        Entry e;
        e.sha256 = line.substr(5, 64);
        const std::string mode = line.substr(70, 4);
        if (line[69] != ' ' || line[74] != ' ' || !isHex64(e.sha256)) return std::nullopt;
        if (mode == "0644")
            e.mode = 0644;
        else if (mode == "0755")
            e.mode = 0755;
        else
            return std::nullopt;
        e.path = line.substr(75);
        // Sorted and unique, so a path cannot be sealed twice.
        if (!RelativePath::isClean(e.path) || (!seal.files.empty() && e.path <= previous)) return std::nullopt;
        previous = e.path;
        seal.files.push_back(std::move(e));
    }
    return seal;
}

std::string sha256OfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                  std::size_t(in.gcount()));
    }
    if (in.bad()) return {};
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

std::optional<std::string> verify(const std::filesystem::path& bundle, const std::string& publicKeyBase64) {
    if (sodium_init() < 0) return std::nullopt;
    const auto sealText = readSmallFile(bundle / kSealFile);
    const auto signature = readSmallFile(bundle / kSignatureFile);
    if (!sealText || !signature || !Minisign::verify(*sealText, *signature, publicKeyBase64)) return std::nullopt;
    const auto seal = parse(*sealText);
    if (!seal) return std::nullopt;

    std::set<std::string> sealed;
    for (const Entry& e : seal->files) {
        const auto path = bundle / e.path;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        if ((st.st_mode & 07777) != e.mode) return std::nullopt;
        if (sha256OfFile(path) != e.sha256) return std::nullopt;
        sealed.insert(e.path);
    }
    // Nothing else may be there: no unsealed file, no link, no device or pipe.
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(bundle, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const auto type = it->symlink_status(ec).type();
        if (ec) return std::nullopt;
        if (type == std::filesystem::file_type::directory) continue;
        if (type != std::filesystem::file_type::regular) return std::nullopt;
        const std::string relative = it->path().lexically_relative(bundle).generic_string();
        if (relative == kSealFile || relative == kSignatureFile) continue;
        if (!sealed.count(relative)) return std::nullopt;
    }
    if (ec) return std::nullopt;
    // A bundle that cannot start is no update, however well it is signed.
    if (!sealed.count(kExecutable)) return std::nullopt;
    for (const Entry& e : seal->files)
        if (e.path == kExecutable && e.mode != 0755) return std::nullopt;
    return seal->version;
}

}  // namespace norvo::BundleSeal
