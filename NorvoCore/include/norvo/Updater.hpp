#pragma once
#include <chrono>
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>


namespace norvo {

// An offered release; made only from a valid manifest.
struct UpdateInfo {
    std::string version;
    std::string downloadURL;  // absolute, scheme always "https"
    std::string notes;
    bool operator==(const UpdateInfo&) const = default;
};

enum class UpdateError { download, unpack, notFound, badSignature, readOnlyLocation };

// What an install refuses with; platform failures travel as other exceptions.
class UpdateFailure : public std::exception {
public:
    explicit UpdateFailure(UpdateError error) : error_(error) {}
    UpdateError error() const { return error_; }
    const char* what() const noexcept override;

private:
    UpdateError error_;
};

namespace Updater {

inline constexpr std::chrono::milliseconds kCheckTimeout{10'000};
inline constexpr std::size_t kMaxManifestBytes = 1 << 20;

// True when `candidate` is strictly newer than `than`, piece by piece at ".".
bool isNewer(std::string_view candidate, std::string_view than);

// The update a manifest body names, when it is valid and newer than currentVersion.
std::optional<UpdateInfo> parseManifest(std::string_view body, std::string_view currentVersion);

// True when `url` is an absolute URL with the exact scheme "https" and a host.
bool isHttpsURL(std::string_view url);

}  // namespace Updater
}  // namespace norvo
