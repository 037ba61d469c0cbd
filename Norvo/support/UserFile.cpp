#include "support/UserFile.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvo::UserFile {

std::string notAFile(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
    return "it is not a file";
}

int openWithoutBlocking(const std::filesystem::path& file, Links links) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(file.c_str(), flags);
    if (fd < 0) return -1;
    const int now = fcntl(fd, F_GETFL);
    if (now != -1) fcntl(fd, F_SETFL, now & ~O_NONBLOCK);
    return fd;
}

Read readRegular(const std::filesystem::path& file, std::uintmax_t maxBytes, Links links) {
    Read read;
    const int fd = openWithoutBlocking(file, links);
    if (fd < 0) {
        read.error = errno;
        read.problem = links == Links::Refuse && errno == ELOOP
                           ? "it is a symbolic link, which is not followed here"
                           : std::string("it cannot be read (") + std::strerror(errno) + ")";
        return read;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        read.error = errno;
        read.problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
        return read;
    }
    if (read.problem = notAFile(st.st_mode); !read.ok()) return read;
    if (std::uintmax_t(st.st_size) > maxBytes) {
        read.problem = maxBytes >= 1024 * 1024 ? "it is larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MB"
                                               : "it is larger than " + std::to_string(maxBytes) + " bytes";
        return read;
    }
    // A file that grows while it is read still stops at the limit.
    read.bytes.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    while (got < read.bytes.size()) {
        const ssize_t n = ::read(fd, read.bytes.data() + got, read.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            read.error = errno;
            read.problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
            read.bytes.clear();
            return read;
        }
        if (n == 0) break;
        got += std::size_t(n);
    }
    read.bytes.resize(got);
    return read;
}

}  // namespace norvo::UserFile
