#include "cli/Headless.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <glib/gi18n.h>
#include <gtk/gtk.h>

namespace norvo::Headless {

ClosedStreams guardClosedStreams() {
    ClosedStreams closed;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (!(fcntl(fd, F_GETFD) < 0 && errno == EBADF)) continue;
        if (fd == STDIN_FILENO) closed.input = true;
        if (fd == STDOUT_FILENO) closed.output = true;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null > fd) ::close(null);  // the lowest free slot is the closed one, below it
    }
    return closed;
}

bool answersReady(const ClosedStreams& closed, const char* inputClosed, const char* outputClosed) {
    if (closed.input || closed.output) {
        std::fputs(closed.input ? inputClosed : outputClosed, stderr);
        return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void startNoSessionBus() {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    if ((bus && *bus) || (runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec)))
        return;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    ::setenv("GTK_A11Y", "none", 0);
    ::setenv("WEBKIT_A11Y_BUS_ADDRESS", "", 0);
    // WebKit would give its pages a proxy of the session bus there, which then warns that there
    // is none; off Wayland the run needs no runtime folder.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland) ::unsetenv("XDG_RUNTIME_DIR");
}

bool displayReady(std::optional<PrivateDisplay>& own, const char* command) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    // (NORVO_NO_PRIVATE_DISPLAY, for tests: behave as if Xvfb were missing.)
    if ((!display || !*display) && (!wayland || !*wayland) && !std::getenv("NORVO_NO_PRIVATE_DISPLAY")) {
        std::string why;
        if (auto started = PrivateDisplay::start(why)) own.emplace(std::move(*started));
        if (!own) {
            std::fprintf(stderr, _("%s: no display to render on, and none could be started: %s\n"), command, why.c_str());
            return false;
        }
    }
    if (gtk_init_check()) return true;
    std::fprintf(stderr, _("%s: no display to render on (DISPLAY=%s)\n"), command, display ? display : "");
    return false;
}

}  // namespace norvo::Headless
