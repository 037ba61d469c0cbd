#include "support/AtomicFile.hpp"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvo {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

// Closes and removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& folder)
        : name_((folder.empty() ? std::filesystem::path(".") : folder) / ".norvo-XXXXXX") {
        std::string pattern = name_.string();
        fd_ = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ >= 0) name_ = pattern;
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (fd_ >= 0 || !kept_) std::remove(name_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool opened() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::filesystem::path& name() const { return name_; }
    std::error_code close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? std::error_code() : lastError();
    }
    void keep() { kept_ = true; }

private:
    std::filesystem::path name_;
    int fd_ = -1;
    bool kept_ = false;
};

}  // namespace

std::error_code writeFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    if (path.filename().empty()) return std::make_error_code(std::errc::is_a_directory);
    TemporaryFile temp(path.parent_path());
    if (!temp.opened()) return lastError();
    for (std::size_t written = 0; written < size;) {
        const ssize_t n = ::write(temp.fd(), data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? lastError() : std::make_error_code(std::errc::io_error);
        written += std::size_t(n);
    }
    // mkstemp makes the file private; a written file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(temp.fd(), 0666 & ~mask) != 0 || fsync(temp.fd()) != 0) return lastError();
    if (auto error = temp.close()) return error;
    if (std::rename(temp.name().c_str(), path.c_str()) != 0) return lastError();
    temp.keep();
    return {};
}

std::error_code writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    return writeFileAtomically(path, bytes.data(), bytes.size());
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
    return writeFileAtomically(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace norvo
