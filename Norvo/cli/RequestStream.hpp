#pragma once
// `norvo render --stream`: one process answers many requests. Each line of standard input is
// one JSON request; each gets one JSON line back, in order: what was written, or an error
// naming the request. A bad request never ends the stream; the end of input does. The cards
// are drawn, named and written by the same run as a batch's. Main thread.
#include <cstddef>
#include <string>

#include "cli/InputLines.hpp"
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
    void feed();
    void take(const InputLines::Line& line, std::size_t number);

    const RenderOptions& defaults_;
    std::size_t numbered_ = 0;
    RenderRun run_;
    InputLines input_;  // read, not yet handed to the run
};

}  // namespace norvo
