#include "updater/Minisign.hpp"

#include <array>
#include <mutex>
#include <vector>

#include <sodium.h>

namespace norvo::Minisign {
namespace {

constexpr std::size_t kKeyIdBytes = 8, kSignatureBytes = 64, kPublicKeyBytes = 32;
constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::size_t kMaxTrustedComment = 8192;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::vector<unsigned char> base64(std::string_view text) {
    if (text.empty()) return {};  // libsodium must never see a null buffer
    std::vector<unsigned char> out(text.size());
    std::size_t length = 0;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return {};
    out.resize(length);
    return out;
}

// Splits at "\n", dropping a "\r" before it.
std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

}  // namespace

bool verify(std::string_view message, std::string_view signatureFile, std::string_view publicKeyBase64) {
    if (!sodiumReady()) return false;
    const auto key = base64(publicKeyBase64);
    if (key.size() != 2 + kKeyIdBytes + kPublicKeyBytes || key[0] != 'E' || key[1] != 'd') return false;

    const auto l = lines(signatureFile);
    // Exactly four lines (a final line feed is fine): nothing may ride along unsigned.
    if (l.size() != 4 || l[0].substr(0, kUntrustedPrefix.size()) != kUntrustedPrefix ||
        l[2].substr(0, kTrustedPrefix.size()) != kTrustedPrefix)
        return false;
    const auto signature = base64(l[1]);
    const auto global = base64(l[3]);
    const std::string_view trusted = l[2].substr(kTrustedPrefix.size());
    if (signature.size() != 2 + kKeyIdBytes + kSignatureBytes || global.size() != kSignatureBytes ||
        trusted.size() > kMaxTrustedComment)
        return false;
    // Only the prehashed form: the legacy one signs the raw file.
    if (signature[0] != 'E' || signature[1] != 'D') return false;
    if (!std::equal(signature.begin() + 2, signature.begin() + 2 + kKeyIdBytes, key.begin() + 2)) return false;

    const unsigned char* publicKey = key.data() + 2 + kKeyIdBytes;
    const unsigned char* sig = signature.data() + 2 + kKeyIdBytes;
    std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
    crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const unsigned char*>(message.data()),
                       message.size(), nullptr, 0);
    if (crypto_sign_verify_detached(sig, hash.data(), hash.size(), publicKey) != 0) return false;

    std::vector<unsigned char> signedComment(sig, sig + kSignatureBytes);
    signedComment.insert(signedComment.end(), trusted.begin(), trusted.end());
    return crypto_sign_verify_detached(global.data(), signedComment.data(), signedComment.size(), publicKey) == 0;
}

}  // namespace norvo::Minisign
