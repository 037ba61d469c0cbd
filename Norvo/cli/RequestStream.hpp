#pragma once
// `norvo render --stream`: one process answers many requests. Each line of standard input is
// one JSON request; each gets one JSON line back, in order: what was written, or an error
// naming the request. A bad request never ends the stream; the end of input does. The cards
// are drawn, named and written by the same run as a batch's. Main thread.
#include <cstddef>
#include <deque>
#include <set>
#include <string>

#include "cli/RenderOptions.hpp"
#include "cli/RenderRun.hpp"

namespace norvo {

class RequestStream {
public:
    explicit RequestStream(const RenderOptions& defaults);
    ~RequestStream();
    RequestStream(const RequestStream&) = delete;
    RequestStream& operator=(const RequestStream&) = delete;

    // Answers every request on standard input, then returns how many failed.
    int run();
    // The error that ended the stream when its answers could not be written (0: none did).
    int answersLost() const { return run_.linesLost(); }
    // Ends the stream at once (a signal): requests not yet answered are dropped.
    void stop();

private:
    void readable();
    void feed();
    void take(const std::string& line, std::size_t number);

    const RenderOptions& defaults_;
    std::string pending_;            // what was read after the last whole line
    std::deque<std::string> lines_;  // read, not yet handed to the run
    std::size_t numbered_ = 0;
    std::set<std::size_t> tooLong_;  // lines cut off at the longest a request may be
    bool ended_ = false, skipping_ = false;
    unsigned watch_ = 0;
    RenderRun run_;
};

}  // namespace norvo
