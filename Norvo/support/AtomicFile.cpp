#include "support/AtomicFile.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace

// Closes and removes the temporary file unless it was renamed into place. It is created
// exclusively, never through a link, with the usual 0666 less the umask, which the kernel
// applies (reading the umask would mean changing it, for every thread at once).
class AtomicFileWriter::TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& folder) {
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            name_ = randomName(folder);
            fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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

AtomicFileWriter::AtomicFileWriter(std::filesystem::path path) : path_(std::move(path)) {
    if (path_.filename().empty()) {
        error_ = std::make_error_code(std::errc::is_a_directory);
        return;
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
            if (streamFd_ < 0) {
                error_ = lastError();
                return;
            }
            const int flags = fcntl(streamFd_, F_GETFL);
            if (flags != -1) fcntl(streamFd_, F_SETFL, flags & ~O_NONBLOCK);
            return;
        }
        if (!S_ISREG(st.st_mode)) {  // a socket or a disk: never written over
            error_ = std::make_error_code(std::errc::operation_not_supported);
            return;
        }
        // A link to a file is replaced as a link, never written through: someone may have
        // put it there to make this write land elsewhere.
    }
    temp_ = std::make_unique<TemporaryFile>(path_.parent_path());
    if (!temp_->opened()) error_ = lastError();
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

std::error_code writeFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    AtomicFileWriter file(path);
    file.write(data, size);
    return file.commit();
}

std::error_code writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    return writeFileAtomically(path, bytes.data(), bytes.size());
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
    return writeFileAtomically(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void removeWrittenFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
}

}  // namespace norvo
