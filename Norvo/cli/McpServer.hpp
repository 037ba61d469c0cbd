#pragma once
// `norvo mcp`'s loop: messages from standard input, answers on standard output, one a line.
// Render calls are drawn, named and written by a stream's RenderRun (one warm engine) into
// the run's folder, and answered from the writer's thread once their cards are in place; the
// rest is answered at once. Main thread.
#include <cstddef>
#include <mutex>
#include <string>

#include "cli/InputLines.hpp"
#include "cli/McpSession.hpp"
#include "cli/RenderOptions.hpp"
#include "cli/RenderRun.hpp"

namespace norvo {

class McpServer {
public:
    // `defaults`: the folder, the picture folders and the settings every call starts from.
    McpServer(const RenderOptions& defaults, std::string version);
    McpServer(const McpServer&) = delete;
    McpServer& operator=(const McpServer&) = delete;

    // Answers every message until standard input ends. Returns 0, or 1 when answers could
    // no longer be written.
    int run();
    // Ends at once (a signal): what was not answered is dropped.
    void stop();

private:
    void feed();
    void render(const nlohmann::json& id, const nlohmann::json& arguments);
    void reply(const std::string& line);
    // One answer on standard output (any thread): 0, or the error that kept it from there.
    int send(const std::string& line);

    const RenderOptions& defaults_;
    std::mutex sending_;
    int sendFailed_ = 0;  // main thread
    RenderRun run_;
    Mcp::Session session_;
    InputLines input_;
};

}  // namespace norvo
