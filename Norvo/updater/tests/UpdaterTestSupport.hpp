#pragma once
// Builds signed update bundles and archives the way the maker does, with norvo-release.
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.hpp"
#include "updater/BundleSeal.hpp"

namespace norvo::testing {

// The key line of a minisign public key file.
inline std::string testPublicKey(const std::string& file = std::string(NORVO_TEST_KEYS) + "/test-minisign.pub") {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    return line;
}

inline void run(const std::vector<std::string>& argv) {
    const auto r = runProcess(argv);
    if (r.exitStatus != 0) throw std::runtime_error(argv[0] + " failed: " + r.err);
}

// A small Norvo.app whose "norvo" only records that it was started.
inline std::filesystem::path makeApp(const std::filesystem::path& parent, const std::string& version,
                                     const std::filesystem::path& launchMarker) {
    const auto app = parent / "Norvo.app";
    std::filesystem::create_directories(app / "Norvo_Norvo.bundle" / "carder");
    writeFile(app / "norvo", "#!/bin/sh\necho " + version + " >> '" + launchMarker.string() + "'\n");
    std::filesystem::permissions(app / "norvo", std::filesystem::perms(0755));
    writeFile(app / "Norvo_Norvo.bundle" / "carder" / "host.html", "<p>" + version + "</p>");
    return app;
}

// Seals and signs `app` for `version` and zips it into `out` (Norvo-<version>.zip).
inline void release(const std::filesystem::path& app, const std::string& version, const std::filesystem::path& out,
                    const std::string& key = std::string(NORVO_TEST_KEYS) + "/test-minisign.key") {
    run({NORVO_RELEASE_TOOL, "--app", app.string(), "--version", version, "--key", key, "--url",
         "https://127.0.0.1/norvo", "--out", out.string(), "--allow-test-key"});
}

inline void unzip(const std::filesystem::path& zip, const std::filesystem::path& to) {
    run({"python3", NORVO_TEST_ZIP_TOOL, "unpack", zip.string(), to.string()});
}
inline void zipFolder(const std::filesystem::path& from, const std::filesystem::path& zip) {
    run({"python3", NORVO_TEST_ZIP_TOOL, "pack", from.string(), zip.string()});
}

// Every path under `root` with its mode and content, to compare a tree before and after.
inline std::map<std::string, std::string> snapshotTree(const std::filesystem::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        const auto rel = e.path().lexically_relative(root).string();
        const auto mode = std::to_string(unsigned(e.symlink_status().permissions()));
        out[rel] = mode + ":" + (e.is_regular_file() ? readText(e.path()) : std::string());
    }
    return out;
}

// Stands in for the running application: a process the script waits for.
class StandIn {
public:
    StandIn() {
        pid_ = fork();
        if (pid_ == 0) {
            execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~StandIn() { quit(); }
    pid_t pid() const { return pid_; }
    void quit() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);  // a zombie would still answer kill -0
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace norvo::testing
