#pragma once
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace norvo {

struct HttpResponse {
    long status = 0;
    std::string body;
};

// Fetches one URL with GET. Any transfer failure (connection, TLS, time-out,
// refused scheme, body over the cap) gives nothing; the status is reported, not judged.
class HttpSession {
public:
    virtual ~HttpSession() = default;
    virtual std::optional<HttpResponse> get(const std::string& url,
                                            std::chrono::milliseconds timeout,
                                            std::size_t maxBodyBytes) = 0;

    // Like get, but the body streams into `file` (already open for writing), so memory
    // stays flat whatever the size. Also fails when the transfer stays under
    // `lowSpeedBytesPerSecond` for `lowSpeedTime`. Gives the status.
    struct Pace {
        long lowSpeedBytesPerSecond = 1024;
        std::chrono::seconds lowSpeedTime{30};
    };
    virtual std::optional<long> download(const std::string& url, std::FILE* file, std::chrono::milliseconds timeout,
                                         std::size_t maxBodyBytes, Pace pace) = 0;
};

// The real session: libcurl, https only (redirects included, at most 5),
// certificate checks on. `extraCaFile` adds a trusted CA beside the system ones.
class CurlHttpSession final : public HttpSession {
public:
    explicit CurlHttpSession(std::string extraCaFile = {});
    std::optional<HttpResponse> get(const std::string& url, std::chrono::milliseconds timeout,
                                    std::size_t maxBodyBytes) override;
    std::optional<long> download(const std::string& url, std::FILE* file, std::chrono::milliseconds timeout,
                                 std::size_t maxBodyBytes, Pace pace) override;

private:
    using BodySinkRef = void*;
    std::optional<long> transfer(const std::string& url, std::chrono::milliseconds timeout, std::size_t maxBodyBytes,
                                 BodySinkRef sink, const Pace* pace);
    std::string extraCaFile_;
};

}  // namespace norvo
