#pragma once
// tests/https_server.py for one test suite: its own CA in a folder of its own, stopped with it.
#include <filesystem>
#include <string>

#include "TestSupport.hpp"

namespace norvo::testing {

class TestHttpsServer {
public:
    explicit TestHttpsServer(const std::filesystem::path& root)
        : server_({"python3", NORVO_TEST_HTTPS_SERVER, root.string(), certs_.path().string()}) {}
    int port() const { return server_.port(); }
    std::string caFile() const { return (certs_.path() / "ca.pem").string(); }
    std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(server_.port()) + path; }

private:
    TempFolder certs_;  // made before the server writes its CA there
    ServerProcess server_;
};

}  // namespace norvo::testing
