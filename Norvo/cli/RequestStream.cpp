#include "cli/RequestStream.hpp"

#include <cerrno>

#include <glib-unix.h>
#include <unistd.h>

#include "cli/StreamRequest.hpp"

namespace norvo {

namespace {
constexpr std::size_t kLongestLine = 8u << 20;  // a 1 MiB note, escaped, and room to spare
// Requests handed to the run ahead of their answers: one drawn, one laid out meanwhile.
constexpr std::size_t kAhead = 2;
}  // namespace

RequestStream::RequestStream(const RenderOptions& defaults) : defaults_(defaults), run_(defaults) {}

RequestStream::~RequestStream() {
    if (watch_) g_source_remove(watch_);
}

int RequestStream::run() {
    watch_ = g_unix_fd_add(STDIN_FILENO, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), +[](int, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<RequestStream*>(data);
        self->readable();
        if (!self->ended_) return G_SOURCE_CONTINUE;
        self->watch_ = 0;
        return G_SOURCE_REMOVE;
    }, this);
    run_.onProgress([this] { feed(); });
    return run_.run();
}

void RequestStream::stop() {
    ended_ = true;
    lines_.clear();
    run_.stop();
}

// Main thread: what standard input has now, cut into lines (one read: it does not block).
void RequestStream::readable() {
    char buffer[1 << 16];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        ended_ = true;
        if (!pending_.empty() && !skipping_) lines_.push_back(std::move(pending_));
        pending_.clear();
    } else {
        pending_.append(buffer, std::size_t(n));
        for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
            if (!skipping_) lines_.push_back(pending_.substr(0, nl));
            skipping_ = false;
            pending_.erase(0, nl + 1);
        }
        if (!skipping_ && pending_.size() > kLongestLine) {  // one answer says so; the rest of the line is dropped
            lines_.push_back({});
            tooLong_.insert(numbered_ + lines_.size());
            skipping_ = true;
        }
        if (skipping_) pending_.clear();
    }
    feed();
}

// Hands the run the next requests, a few ahead of their answers; at the end of input, closes it.
void RequestStream::feed() {
    while (run_.waiting() < kAhead && !lines_.empty()) {
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        take(line, ++numbered_);
    }
    if (ended_ && lines_.empty()) run_.close();
}

void RequestStream::take(const std::string& line, std::size_t number) {
    const bool tooLong = tooLong_.erase(number) > 0;
    if (line.find_first_not_of(" \t\r") == std::string::npos && !tooLong) return;  // blank
    StreamRequest request{.id = std::to_string(number)};
    std::optional<std::string> error = tooLong ? std::optional<std::string>("the request is longer than 8 MiB")
                                               : parseStreamRequest(line, number, defaults_, request);
    std::shared_ptr<const Note> note;
    if (!error) {
        std::string why;
        note = noteOf(request, why);
        if (!note) error = why;
    }
    if (error)
        run_.refuse(request.id, *error);
    else
        run_.add(std::move(note), request.options, request.id);
}

}  // namespace norvo
