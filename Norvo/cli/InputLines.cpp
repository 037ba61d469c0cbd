#include "cli/InputLines.hpp"

#include <cerrno>

#include <glib-unix.h>
#include <unistd.h>

namespace norvo {

InputLines::InputLines(std::size_t longest, std::function<void()> arrived, std::size_t mostHeld)
    : longest_(longest), mostHeld_(mostHeld), arrived_(std::move(arrived)) {}

InputLines::~InputLines() {
    if (watch_) g_source_remove(watch_);
}

void InputLines::start() { watch(); }

void InputLines::watch() {
    watch_ = g_unix_fd_add(STDIN_FILENO, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), +[](int, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<InputLines*>(data);
        self->readable();
        if (!self->ended_ && self->lines_.size() < self->mostHeld_) return G_SOURCE_CONTINUE;
        self->watch_ = 0;  // ended, or paused until take() makes room
        return G_SOURCE_REMOVE;
    }, this);
}

void InputLines::stop() {
    ended_ = true;
    lines_.clear();
}

InputLines::Line InputLines::take() {
    Line line = std::move(lines_.front());
    lines_.pop_front();
    if (!watch_ && !ended_ && lines_.size() < mostHeld_) watch();
    return line;
}

// What standard input has now, cut into lines (one read: it does not block).
void InputLines::readable() {
    char buffer[1 << 16];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        ended_ = true;
        if (!pending_.empty() && !skipping_) lines_.push_back({std::move(pending_)});
        pending_.clear();
    } else {
        pending_.append(buffer, std::size_t(n));
        for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
            if (!skipping_) lines_.push_back({pending_.substr(0, nl)});
            skipping_ = false;
            pending_.erase(0, nl + 1);
        }
        if (!skipping_ && pending_.size() > longest_) {  // one answer says so; the rest of the line is dropped
            lines_.push_back({.tooLong = true});
            skipping_ = true;
        }
        if (skipping_) pending_.clear();
    }
    arrived_();
}

}  // namespace norvo
