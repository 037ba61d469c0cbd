#include <memory>
#include <mutex>

#include <curl/curl.h>

#include "norvo/HttpSession.hpp"

namespace norvo {
namespace {

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct BodySink {
    std::string body;
    std::size_t cap = 0;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const std::size_t n = size * count;
    // A short count makes libcurl fail the transfer with CURLE_WRITE_ERROR.
    if (sink->body.size() + n > sink->cap) return 0;
    sink->body.append(data, n);
    return n;
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

CurlHttpSession::CurlHttpSession(std::string extraCaFile) : extraCaFile_(std::move(extraCaFile)) {
    initCurlOnce();
}

std::optional<HttpResponse> CurlHttpSession::get(const std::string& url, std::chrono::milliseconds timeout,
                                                 std::size_t maxBodyBytes) {
    CurlEasy h(curl_easy_init());
    if (!h) return std::nullopt;
    BodySink sink;
    sink.cap = maxBodyBytes;
    CURL* c = h.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(timeout.count()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(timeout.count()));
    curl_easy_setopt(c, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBodyBytes));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Norvo");
    if (!extraCaFile_.empty()) {
        // CAINFO holds the extra CA; the system's hashed folder stays trusted too.
        curl_easy_setopt(c, CURLOPT_CAINFO, extraCaFile_.c_str());
        curl_easy_setopt(c, CURLOPT_CAPATH, "/etc/ssl/certs");
        curl_easy_setopt(c, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
    if (curl_easy_perform(c) != CURLE_OK) return std::nullopt;
    HttpResponse response;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(sink.body);
    return response;
}

}  // namespace norvo
