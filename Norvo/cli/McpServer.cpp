#include "cli/McpServer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <glib/gi18n.h>

#include "cli/McpTools.hpp"
#include "cli/StreamRequest.hpp"

namespace norvo {

namespace {
constexpr std::size_t kLongestLine = 8u << 20;  // a 1 MiB note, escaped, and room to spare
}  // namespace

McpServer::McpServer(const RenderOptions& defaults, std::string version)
    : defaults_(defaults),
      run_(defaults,
           [this](const StreamAnswer& answer) {
               return send(Mcp::resultLine(nlohmann::json::parse(answer.id, nullptr, false), McpTools::rendered(answer)));
           }),
      session_(
          std::move(version), [this](const std::string& line) { reply(line); },
          [this](const nlohmann::json& id, const nlohmann::json& arguments) { render(id, arguments); }),
      input_(kLongestLine, [this] { feed(); }) {}

int McpServer::run() {
    input_.start();
    run_.onProgress([this] { feed(); });
    run_.run();
    return sendFailed_ || run_.linesLost() ? 1 : 0;
}

void McpServer::stop() {
    input_.stop();
    run_.stop();
}

// Takes the next messages while few calls wait for their cards; at the end of input, closes the run.
void McpServer::feed() {
    while (run_.waiting() < RenderRun::kRequestsAhead && !input_.empty()) {
        const InputLines::Line line = input_.take();
        if (line.tooLong)
            reply(Mcp::errorLine(nullptr, Mcp::InvalidRequest, "Invalid Request: the message is longer than 8 MiB"));
        else if (line.text.find_first_not_of(" \t\r") != std::string::npos)
            session_.take(line.text);
    }
    if (input_.ended() && input_.empty()) run_.close();
}

// A call that cannot be drawn is answered at once with what is wrong; the run answers the rest.
void McpServer::render(const nlohmann::json& id, const nlohmann::json& arguments) {
    StreamRequest request;
    std::optional<std::string> error = McpTools::renderRequest(arguments, defaults_, request);
    std::shared_ptr<const Note> note;
    if (!error) {
        std::string why;
        note = noteOf(request, why);
        if (!note) error = why;
    }
    if (error) return reply(Mcp::resultLine(id, McpTools::failure(*error)));
    run_.add(std::move(note), request.options, id.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// An answer from the main thread: a reader gone ends the server.
void McpServer::reply(const std::string& line) {
    if (const int error = send(line); error && !sendFailed_) {
        std::fprintf(stderr, _("norvo mcp: the answers cannot be written: %s\n"), std::strerror(error));
        sendFailed_ = error;
        stop();
    }
}

int McpServer::send(const std::string& line) {
    std::lock_guard lock(sending_);
    if (std::fprintf(stdout, "%s\n", line.c_str()) >= 0 && std::fflush(stdout) == 0) return 0;
    return errno ? errno : EIO;
}

}  // namespace norvo
