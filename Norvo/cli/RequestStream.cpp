#include "cli/RequestStream.hpp"

#include "cli/StreamRequest.hpp"

namespace norvo {

namespace {
constexpr std::size_t kLongestLine = 8u << 20;  // a 1 MiB note, escaped, and room to spare
}  // namespace

RequestStream::RequestStream(const RenderOptions& defaults)
    : defaults_(defaults), run_(defaults), input_(kLongestLine, [this] { feed(); }) {}

RequestStream::~RequestStream() = default;

int RequestStream::run() {
    input_.start();
    run_.onProgress([this] { feed(); });
    return run_.run();
}

void RequestStream::stop() {
    input_.stop();
    run_.stop();
}

// Hands the run the next requests, a few ahead of their answers; at the end of input, closes it.
void RequestStream::feed() {
    while (run_.waiting() < RenderRun::kRequestsAhead && !input_.empty()) take(input_.take(), ++numbered_);
    if (input_.ended() && input_.empty()) run_.close();
}

void RequestStream::take(const InputLines::Line& line, std::size_t number) {
    if (line.text.find_first_not_of(" \t\r") == std::string::npos && !line.tooLong) return;  // blank
    StreamRequest request{.id = std::to_string(number)};
    std::optional<std::string> error = line.tooLong ? std::optional<std::string>("the request is longer than 8 MiB")
                                                    : parseStreamRequest(line.text, number, defaults_, request);
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
