#pragma once
#include <chrono>
#include <cstddef>
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
};

// The real session: libcurl, https only (redirects included, at most 5),
// certificate checks on. `extraCaFile` adds a trusted CA beside the system ones.
class CurlHttpSession final : public HttpSession {
public:
    explicit CurlHttpSession(std::string extraCaFile = {});
    std::optional<HttpResponse> get(const std::string& url, std::chrono::milliseconds timeout,
                                    std::size_t maxBodyBytes) override;

private:
    std::string extraCaFile_;
};

}  // namespace norvo
