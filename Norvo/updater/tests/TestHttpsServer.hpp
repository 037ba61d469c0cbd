#pragma once
// Starts tests/https_server.py for one test and stops it afterwards.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace norvo::testing {

class TestHttpsServer {
public:
    explicit TestHttpsServer(const std::filesystem::path& root, const std::string& script = NORVO_TEST_HTTPS_SERVER) {
        char tmpl[] = "/tmp/norvo-tls-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
        certs_ = tmpl;
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execlp("python3", "python3", script.c_str(), "--root", root.c_str(), "--certs", certs_.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FILE* out = fdopen(fds[0], "r");
        char line[4096] = {};
        const bool ok = out && fgets(line, sizeof line, out);
        if (out) fclose(out);
        char ca[4000] = {};
        if (!ok || std::sscanf(line, "READY %d %3999s", &port_, ca) != 2) {
            stop();
            throw std::runtime_error("test HTTPS server did not start");
        }
        caFile_ = ca;
    }
    ~TestHttpsServer() { stop(); }
    TestHttpsServer(const TestHttpsServer&) = delete;
    TestHttpsServer& operator=(const TestHttpsServer&) = delete;

    int port() const { return port_; }
    const std::string& caFile() const { return caFile_; }
    std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::error_code ec;
        std::filesystem::remove_all(certs_, ec);
    }

    pid_t pid_ = -1;
    int port_ = 0;
    std::string caFile_;
    std::filesystem::path certs_;
};

}  // namespace norvo::testing
