#include "norvo/Updater.hpp"

#include <charconv>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

namespace norvo {

const char* UpdateFailure::what() const noexcept {
    switch (error_) {
        case UpdateError::download: return "update download failed";
        case UpdateError::unpack: return "update archive could not be unpacked";
        case UpdateError::notFound: return "update archive holds no application";
        case UpdateError::badSignature: return "update is not signed by the maker";
        case UpdateError::readOnlyLocation: return "the application cannot be replaced where it is";
    }
    return "update failed";
}

}  // namespace norvo

namespace norvo::Updater {
namespace {

// A piece is [+-]?digits and fits in int64; anything else counts as 0.
std::int64_t pieceValue(std::string_view piece) {
    std::string_view digits = piece;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return 0;
    for (char c : digits)
        if (c < '0' || c > '9') return 0;
    // Parse with the sign attached so that INT64_MIN still fits.
    std::string signedText = negative ? "-" : "";
    signedText += digits;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
    if (ec != std::errc() || end != signedText.data() + signedText.size()) return 0;
    return value;
}

std::vector<std::int64_t> pieces(std::string_view version) {
    std::vector<std::int64_t> out;
    while (true) {
        const std::size_t dot = version.find('.');
        const std::string_view piece = version.substr(0, dot);
        if (!piece.empty()) out.push_back(pieceValue(piece));
        if (dot == std::string_view::npos) break;
        version.remove_prefix(dot + 1);
    }
    return out;
}

bool isUrlChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(char(c)) != std::string_view::npos;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool isNewer(std::string_view candidate, std::string_view than) {
    const std::vector<std::int64_t> a = pieces(candidate), b = pieces(than);
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t x = i < a.size() ? a[i] : 0;
        const std::int64_t y = i < b.size() ? b[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

bool isHttpsURL(std::string_view url) {
    constexpr std::string_view prefix = "https://";
    if (url.substr(0, prefix.size()) != prefix) return false;  // exact, case-sensitive scheme
    for (std::size_t i = 0; i < url.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (!isUrlChar(c)) return false;
        if (c == '%' && (i + 2 >= url.size() || !isHex(url[i + 1]) || !isHex(url[i + 2]))) return false;
    }
    std::string_view authority = url.substr(prefix.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {  // IPv6 literal
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        authority = host.substr(close + 1);
        host = host.substr(0, close + 1);
        if (!authority.empty() && authority.front() != ':') return false;
    } else {
        const std::size_t colon = host.find(':');
        authority = colon == std::string_view::npos ? std::string_view() : host.substr(colon);
        host = host.substr(0, colon);
    }
    if (host.empty()) return false;
    if (host.front() != '[' && host.find_first_of("[]") != std::string_view::npos) return false;
    if (!authority.empty()) {  // ":port"
        for (char c : authority.substr(1))
            if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<UpdateInfo> parseManifest(std::string_view body, std::string_view currentVersion) {
    const nlohmann::json doc = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;

    const auto version = doc.find("version");
    if (version == doc.end() || !version->is_string()) return std::nullopt;
    const auto url = doc.find("url");
    if (url == doc.end() || !url->is_string()) return std::nullopt;
    const std::string& urlText = url->get_ref<const std::string&>();
    if (!isHttpsURL(urlText)) return std::nullopt;

    const std::string& versionText = version->get_ref<const std::string&>();
    if (!isNewer(versionText, currentVersion)) return std::nullopt;

    const auto notes = doc.find("notes");
    std::string notesText = notes != doc.end() && notes->is_string() ? notes->get<std::string>() : "";
    return UpdateInfo{versionText, urlText, std::move(notesText)};
}

}  // namespace norvo::Updater
