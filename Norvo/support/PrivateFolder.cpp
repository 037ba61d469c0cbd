#include "support/PrivateFolder.hpp"

#include <cerrno>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <glib.h>

namespace norvo::PrivateFolder {

namespace {

// A folder this user alone owns and can enter: not a link, no rights for group or others.
bool isPrivate(const std::filesystem::path& folder) {
    struct stat st {};
    return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0;
}

// The fallback folder of this process, removed when the process ends normally.
class ProcessFolder {
public:
    ProcessFolder() {
        std::string pattern = (std::filesystem::path(g_get_tmp_dir()) / "norvo-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ProcessFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ProcessFolder(const ProcessFolder&) = delete;
    ProcessFolder& operator=(const ProcessFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The process id in "<prefix>-<pid>-XXXXXX", or 0 when `name` is not such a name.
pid_t madeBy(const std::string& name, const std::string& prefix) {
    const std::size_t start = prefix.size() + 1;
    if (name.size() < start + 8 || name.compare(0, start, prefix + "-") != 0 || name[name.size() - 7] != '-') return 0;
    for (std::size_t i = name.size() - 6; i < name.size(); ++i)
        if (!g_ascii_isalnum(name[i])) return 0;
    const std::string digits = name.substr(start, name.size() - 7 - start);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return pid_t(std::stol(digits));
}

}  // namespace

const std::filesystem::path& root() {
    static const std::filesystem::path folder = []() -> std::filesystem::path {
        if (const char* runtime = g_getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
            const std::filesystem::path candidate = std::filesystem::path(runtime) / "norvo";
            if (mkdir(candidate.c_str(), 0700) != 0 && errno != EEXIST) g_warning("cannot make %s", candidate.c_str());
            if (isPrivate(candidate)) return candidate;
            g_warning("%s is not private to this user; using a folder of this process instead", candidate.c_str());
        }
        static ProcessFolder fallback;
        return fallback.path();
    }();
    return folder;
}

std::filesystem::path make(const std::string& prefix, std::error_code& error) {
    error.clear();
    if (root().empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    std::string pattern = (root() / (prefix + "-" + std::to_string(getpid()) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
        error = std::error_code(errno, std::generic_category());
        return {};
    }
    return pattern;
}

bool isMadeHere(const std::filesystem::path& folder, const std::string& prefix) {
    if (root().empty() || madeBy(folder.filename().string(), prefix) <= 0 || !isPrivate(folder)) return false;
    std::error_code ec;
    const auto parent = std::filesystem::canonical(folder.parent_path(), ec);
    if (ec) return false;
    if (parent == std::filesystem::canonical(root(), ec) && !ec) return true;
    // Without a runtime folder each process has a fallback of its own, "norvo-XXXXXX" in the
    // temporary folder: another process's counts when it is private to this user too.
    const std::string name = parent.filename().string();
    return parent.parent_path() == std::filesystem::canonical(g_get_tmp_dir(), ec) && name.size() == 12 &&
           name.rfind("norvo-", 0) == 0 && isPrivate(parent);
}

void removeLeftovers(const std::string& prefix, bool ownToo, std::chrono::seconds olderThan) {
    if (root().empty()) return;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(root(), ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const pid_t pid = madeBy(it->path().filename().string(), prefix);
        if (pid <= 0) continue;
        const bool gone = kill(pid, 0) != 0 && errno == ESRCH;
        if (!gone && !(ownToo && pid == getpid())) continue;
        struct stat st {};
        if (olderThan.count() > 0 &&
            (lstat(it->path().c_str(), &st) != 0 || time(nullptr) - st.st_mtime < olderThan.count()))
            continue;
        std::error_code removeError;
        std::filesystem::remove_all(it->path(), removeError);
        if (removeError) g_warning("could not remove %s: %s", it->path().c_str(), removeError.message().c_str());
    }
}

}  // namespace norvo::PrivateFolder
