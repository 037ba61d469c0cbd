#include <memory>
#include <mutex>

#include "updater/HttpSession.hpp"
#include "updater/SystemLibraries.hpp"

namespace norvo {
namespace {

struct CurlEasyDeleter {
    void operator()(CURL* h) const { CurlFunctions::get()->easyCleanup(h); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct BodySink {
    std::string body;
    std::FILE* file = nullptr;  // when set, the body goes here instead
    std::size_t received = 0;
    std::size_t cap = 0;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const std::size_t n = size * count;
    // A short count makes libcurl fail the transfer with CURLE_WRITE_ERROR.
    if (sink->received + n > sink->cap) return 0;
    sink->received += n;
    if (sink->file) return std::fwrite(data, 1, n, sink->file);
    sink->body.append(data, n);
    return n;
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (const CurlFunctions* curl = CurlFunctions::get()) curl->globalInit(CURL_GLOBAL_DEFAULT);
    });
}

}  // namespace

// libcurl is opened and set up with the first transfer: most runs never make one.
CurlHttpSession::CurlHttpSession(std::string extraCaFile) : extraCaFile_(std::move(extraCaFile)) {}

// One hardened GET into `sink`; the status when the transfer completed.
std::optional<long> CurlHttpSession::transfer(const std::string& url, std::chrono::milliseconds timeout,
                                              std::size_t maxBodyBytes, BodySinkRef sinkRef, const Pace* pace) {
    auto& sink = *static_cast<BodySink*>(sinkRef);
    initCurlOnce();
    const CurlFunctions* curl = CurlFunctions::get();
    if (!curl) return std::nullopt;
    CurlEasy h(curl->easyInit());
    if (!h) return std::nullopt;
    sink.cap = maxBodyBytes;
    CURL* c = h.get();
    curl->easySetopt(c, CURLOPT_URL, url.c_str());
    curl->easySetopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl->easySetopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl->easySetopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl->easySetopt(c, CURLOPT_MAXREDIRS, 5L);
    curl->easySetopt(c, CURLOPT_NOSIGNAL, 1L);
    curl->easySetopt(c, CURLOPT_TIMEOUT_MS, long(timeout.count()));
    curl->easySetopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(timeout.count()));
    if (pace) {
        curl->easySetopt(c, CURLOPT_LOW_SPEED_LIMIT, pace->lowSpeedBytesPerSecond);
        curl->easySetopt(c, CURLOPT_LOW_SPEED_TIME, long(pace->lowSpeedTime.count()));
    }
    curl->easySetopt(c, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl->easySetopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl->easySetopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl->easySetopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBodyBytes));
    curl->easySetopt(c, CURLOPT_WRITEFUNCTION, writeBody);
    curl->easySetopt(c, CURLOPT_WRITEDATA, &sink);
    curl->easySetopt(c, CURLOPT_USERAGENT, "Norvo");
    if (!extraCaFile_.empty()) {
        // CAINFO holds the extra CA; the system's hashed folder stays trusted too.
        curl->easySetopt(c, CURLOPT_CAINFO, extraCaFile_.c_str());
        curl->easySetopt(c, CURLOPT_CAPATH, "/etc/ssl/certs");
        curl->easySetopt(c, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
    if (curl->easyPerform(c) != CURLE_OK) return std::nullopt;
    long status = 0;
    curl->easyGetinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::optional<HttpResponse> CurlHttpSession::get(const std::string& url, std::chrono::milliseconds timeout,
                                                 std::size_t maxBodyBytes) {
    BodySink sink;
    const auto status = transfer(url, timeout, maxBodyBytes, &sink, nullptr);
    if (!status) return std::nullopt;
    return HttpResponse{*status, std::move(sink.body)};
}

std::optional<long> CurlHttpSession::download(const std::string& url, std::FILE* file,
                                              std::chrono::milliseconds timeout, std::size_t maxBodyBytes, Pace pace) {
    BodySink sink;
    sink.file = file;
    const auto status = transfer(url, timeout, maxBodyBytes, &sink, &pace);
    if (!status || std::fflush(file) != 0 || std::ferror(file)) return std::nullopt;
    return status;
}

}  // namespace norvo
