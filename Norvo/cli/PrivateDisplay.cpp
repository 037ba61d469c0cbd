#include "cli/PrivateDisplay.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

namespace norvo {

namespace {
constexpr int kAnswerMs = 8000;  // Xvfb answers in well under a second; a busy machine gets room

// Reads the display number Xvfb writes (digits, a newline) within the time left.
std::string readDisplayNumber(int fd) {
    std::string number;
    const gint64 until = g_get_monotonic_time() + gint64(kAnswerMs) * 1000;
    for (;;) {
        const gint64 left = (until - g_get_monotonic_time()) / 1000;
        if (left <= 0) return {};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return {};
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};  // it ended without answering
        if (c == '\n') return number;
        if (c < '0' || c > '9' || number.size() > 6) return {};
        number += c;
    }
}
}  // namespace

std::optional<PrivateDisplay> PrivateDisplay::start(std::string& why) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        why = "cannot make a pipe for Xvfb";
        return std::nullopt;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        why = "cannot start Xvfb";
        return std::nullopt;
    }
    if (pid == 0) {
        // The child: the pipe's write end as fd 3 for -displayfd, quiet, its own group so a
        // Ctrl+C meant for the render is handled by it, not the display.
        ::setpgid(0, 0);
        // The display lives as long as the run that started it, even one killed outright.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(0);
        if (::dup2(pipeFds[1], 3) < 0) ::_exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1920x1080x24",
                 "-nocursor", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    PrivateDisplay display(pid);
    const std::string number = readDisplayNumber(pipeFds[0]);
    ::close(pipeFds[0]);
    if (number.empty()) {
        why = "Xvfb is not installed or did not start (sudo apt install xvfb)";
        return std::nullopt;  // the display's destructor stops what started
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    return std::optional<PrivateDisplay>(std::move(display));
}

PrivateDisplay::~PrivateDisplay() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace norvo
