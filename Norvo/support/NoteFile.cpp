#include "support/NoteFile.hpp"

#include "support/UserFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvo {

namespace {
struct ClosingFd {
    int fd;
    ~ClosingFd() {
        if (fd >= 0) ::close(fd);
    }
};

// Standard input and the pipes a shell hands over by name (`<(command)`).
bool isShellStream(const std::string& path) {
    return path == "/dev/stdin" || path.rfind("/dev/fd/", 0) == 0 || path.rfind("/proc/self/fd/", 0) == 0;
}

NoteFileRead problem(NoteFileRead::Problem what, int error = 0) {
    NoteFileRead read;
    read.problem = what;
    read.error = error;
    return read;
}
}  // namespace

NoteFileRead readNoteFile(const std::string& path, std::size_t limit) {
    const int fd = path == "-" ? STDIN_FILENO : UserFile::openWithoutBlocking(path);
    if (fd < 0) return problem(NoteFileRead::Problem::System, errno);
    const ClosingFd closing{fd == STDIN_FILENO ? -1 : fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) return problem(NoteFileRead::Problem::System, errno);
    if (S_ISDIR(st.st_mode)) return problem(NoteFileRead::Problem::Folder);
    if (!S_ISREG(st.st_mode) && fd != STDIN_FILENO && !isShellStream(path)) {
        NoteFileRead refused = problem(NoteFileRead::Problem::NotAFile);
        refused.notAFile = UserFile::notAFile(st.st_mode);
        return refused;
    }
    NoteFileRead read;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return problem(NoteFileRead::Problem::System, errno);
        if (n == 0) break;
        if (read.text.size() + std::size_t(n) > limit) return problem(NoteFileRead::Problem::TooLong);
        read.text.append(buffer, std::size_t(n));
    }
    if (const auto nul = read.text.find('\0'); nul != std::string::npos) {
        NoteFileRead refused = problem(NoteFileRead::Problem::NulByte);
        refused.nulOffset = nul;
        return refused;
    }
    if (!g_utf8_validate(read.text.data(), gssize(read.text.size()), nullptr))
        return problem(NoteFileRead::Problem::NotUtf8);
    return read;
}

}  // namespace norvo
