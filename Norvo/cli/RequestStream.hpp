#pragma once
// `norvo render --stream`: one process answers many requests. Each line of standard input is
// one JSON request; each gets one JSON line back, in order: what was written, or an error
// naming the request. A bad request never ends the stream; the end of input does. Main thread.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <utility>

#include <sys/types.h>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <glibmm/main.h>

#include "cli/RenderOptions.hpp"
#include "engine/RenderEngine.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// One request as read from its line, before anything is drawn.
struct StreamRequest {
    std::string id;  // the request's own "id" as JSON text, else its line number
    std::string markdown{};
    std::string label{};   // the note's file, or "request <id>"
    std::string folder{};  // where its pictures are (the file's folder)
    RenderOptions options{};
    std::string style{};  // a saved style's name or a style file, as --style
};

// The request on `line` (numbered `number`) over the run's `defaults`; an error message when
// it is not one (the id is filled in either way, so the answer can name it).
std::optional<std::string> parseStreamRequest(const std::string& line, std::size_t number,
                                              const RenderOptions& defaults, StreamRequest& out);

class RequestStream {
public:
    explicit RequestStream(const RenderOptions& defaults);
    ~RequestStream();
    RequestStream(const RequestStream&) = delete;
    RequestStream& operator=(const RequestStream&) = delete;

    // Answers every request on standard input, then returns how many failed.
    int run();
    // The error that ended the stream when its answers could not be written (0: none did).
    int answersLost() const { return answersLost_; }
    // Ends the stream at once (a signal): requests not yet answered are dropped.
    void stop();

private:
    void readable();
    void next();
    void draw(StreamRequest request);
    void answer(const std::string& line);
    void noteWritten(const std::filesystem::path& file);
    bool wroteFile(const std::filesystem::path& file) const;

    const RenderOptions& defaults_;
    OutputNames names_;
    Glib::RefPtr<Glib::MainLoop> loop_ = Glib::MainLoop::create();
    std::string pending_;           // what was read after the last whole line
    std::deque<std::string> lines_;  // read, not yet answered
    std::size_t numbered_ = 0;
    std::set<std::size_t> tooLong_;  // lines cut off at the longest a request may be
    std::set<std::pair<dev_t, ino_t>> written_;  // the files the stream's requests wrote
    bool busy_ = false, ended_ = false, skipping_ = false;
    int failures_ = 0;
    int answersLost_ = 0;
    unsigned watch_ = 0;
    bool stopped_ = false;  // from here on, what the engine and the writer finish is dropped
    // The engine goes before the rest: a card it drops on its way out reaches a stream still whole.
    RenderEngine engine_;
    BackgroundTasks writer_;  // last: joined first
};

}  // namespace norvo
