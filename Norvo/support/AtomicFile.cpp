#include "support/AtomicFile.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <unistd.h>

namespace norvo {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

// A new name in `folder` for the temporary file: ".norvo-" and six random letters or digits.
std::filesystem::path randomName(const std::filesystem::path& folder) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes))
        for (auto& b : bytes) b = static_cast<unsigned char>(std::rand());
    std::string name = ".norvo-";
    for (unsigned char b : bytes) name += kLetters[b % (sizeof kLetters - 1)];
    return (folder.empty() ? std::filesystem::path(".") : folder) / name;
}

// Where the link at `path` leads; nothing when it is no link.
std::optional<std::filesystem::path> linkTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return std::nullopt;
    const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) return std::nullopt;
    return target.is_absolute() ? target : path.parent_path() / target;
}


// N when `path` reads as a name of this process's descriptor N.
std::optional<int> descriptorName(const std::filesystem::path& path) {
    const std::string p = path.lexically_normal().string();
    if (p == "/dev/stdout") return 1;
    if (p == "/dev/stderr") return 2;
    const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"), self}) {
        if (p.size() <= prefix.size() || p.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = p.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return std::stoi(digits);
    }
    return std::nullopt;
}

// The descriptors the process was started with (see noteInheritedDescriptors).
std::vector<bool>& inheritedDescriptors() {
    static std::vector<bool> inherited{true, true, true};
    return inherited;
}

bool wasInherited(int fd) {
    const auto& inherited = inheritedDescriptors();
    return fd >= 0 && std::size_t(fd) < inherited.size() && inherited[std::size_t(fd)];
}

}  // namespace

void noteInheritedDescriptors() {
    auto& inherited = inheritedDescriptors();
    inherited.assign(3, false);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.size() > 6 || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::size_t fd = std::stoul(name);
        if (fd >= inherited.size()) inherited.resize(fd + 1, false);
        inherited[fd] = true;
    }
    // The listing's own descriptor was among them while it was read; closed now, it drops out.
    for (std::size_t fd = 3; fd < inherited.size(); ++fd)
        if (inherited[fd] && ::fcntl(int(fd), F_GETFD) < 0) inherited[fd] = false;
}

// A chain longer than the kernel follows is left where it stands: opening it fails with ELOOP.
std::filesystem::path pathThroughLinks(std::filesystem::path path) {
    for (int hop = 0; hop < 40; ++hop) {
        auto next = linkTarget(path);
        if (!next) break;
        path = std::move(*next);
    }
    return path;
}

std::optional<int> descriptorNamedBy(const std::filesystem::path& path) {
    std::optional<std::filesystem::path> hop = path;
    for (int n = 0; n < 40 && hop; ++n, hop = linkTarget(*hop))
        if (const auto fd = descriptorName(*hop)) return fd;
    return std::nullopt;
}

// Closes and removes the temporary file unless it was renamed into place. It is created
// exclusively, never through a link, with the usual 0666 less the umask, which the kernel
// applies (reading the umask would mean changing it, for every thread at once).
class AtomicFileWriter::TemporaryFile {
public:
    TemporaryFile(const std::filesystem::path& folder, unsigned mode) {
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            name_ = randomName(folder);
            fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
            if (fd_ < 0 && errno != EEXIST) break;
        }
        opened_ = fd_ >= 0;
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (opened_ && !kept_) std::remove(name_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool opened() const { return opened_; }
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
    bool opened_ = false;
    bool kept_ = false;
};

AtomicFileWriter::AtomicFileWriter(std::filesystem::path path, WriteRules rules) : path_(std::move(path)) {
    if (path_.filename().empty()) {
        error_ = std::make_error_code(std::errc::is_a_directory);
        return;
    }
    if (rules.links == WriteRules::Links::WriteThrough) {
        if (const auto named = descriptorNamedBy(path_)) {
            // Written into the descriptor as it stands (a pipe, a terminal, a file the shell opened).
            streamFd_ = wasInherited(*named) ? ::fcntl(*named, F_DUPFD_CLOEXEC, 3) : -1;
            if (!wasInherited(*named)) errno = EBADF;
            if (streamFd_ < 0) error_ = lastError();
            return;
        }
        path_ = pathThroughLinks(path_);
    }
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error_ = std::make_error_code(std::errc::is_a_directory);
            return;
        }
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
            // Without blocking: a FIFO nobody reads from is refused (ENXIO), not waited on.
            streamFd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            openStream();
            return;
        }
        if (!S_ISREG(st.st_mode)) {  // a socket or a disk: never written over
            error_ = std::make_error_code(std::errc::operation_not_supported);
            return;
        }
    }
    temp_ = std::make_unique<TemporaryFile>(path_.parent_path(), rules.mode);
    if (!temp_->opened()) error_ = lastError();
}

void AtomicFileWriter::openStream() {
    if (streamFd_ < 0) {
        error_ = lastError();
        return;
    }
    const int flags = fcntl(streamFd_, F_GETFL);
    if (flags != -1) fcntl(streamFd_, F_SETFL, flags & ~O_NONBLOCK);
}

AtomicFileWriter::~AtomicFileWriter() {  // an uncommitted file goes with its temporary
    if (streamFd_ >= 0) ::close(streamFd_);
}

int AtomicFileWriter::fd() const { return streamFd_ >= 0 ? streamFd_ : temp_->fd(); }

bool AtomicFileWriter::write(const std::uint8_t* data, std::size_t size) {
    if (error_ || committed_) return false;
    for (std::size_t written = 0; written < size;) {
        const ssize_t n = ::write(fd(), data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? lastError() : std::make_error_code(std::errc::io_error);
            return false;
        }
        written += std::size_t(n);
    }
    return true;
}

std::error_code AtomicFileWriter::commit() {
    if (error_ || committed_) return error_ ? error_ : std::make_error_code(std::errc::bad_file_descriptor);
    if (streamFd_ >= 0) {
        const int fd = streamFd_;
        streamFd_ = -1;
        if (::close(fd) != 0) return error_ = lastError();
        committed_ = true;
        return {};
    }
    if (fsync(temp_->fd()) != 0) return error_ = lastError();
    if ((error_ = temp_->close())) return error_;
    if (std::rename(temp_->name().c_str(), path_.c_str()) != 0) return error_ = lastError();
    temp_->keep();
    committed_ = true;
    return {};
}

std::error_code writeFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                                    WriteRules rules) {
    AtomicFileWriter file(path, rules);
    file.write(data, size);
    return file.commit();
}

std::error_code writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                                    WriteRules rules) {
    return writeFileAtomically(path, bytes.data(), bytes.size(), rules);
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text, WriteRules rules) {
    return writeFileAtomically(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), rules);
}

void removeWrittenFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
}

}  // namespace norvo
