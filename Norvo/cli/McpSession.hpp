#pragma once
// `norvo mcp`'s side of the Model Context Protocol: JSON-RPC 2.0 messages, one a line, each
// request answered once. It answers all but a render call itself; a render call is handed on
// with its id, to be answered when its cards are written. No input or output of its own.
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace norvo::Mcp {

enum ErrorCode : int {
    ParseError = -32700,
    InvalidRequest = -32600,
    MethodNotFound = -32601,
    InvalidParams = -32602,
};

// One line as read: a request (it has an id and gets one answer), a notification (none), a
// client's reply (none: this server asks nothing), or not a message (answered with `code`).
struct Message {
    enum class Kind { Request, Notification, Reply, Invalid };
    Kind kind = Kind::Invalid;
    nlohmann::json id{};  // a request's (text or a number); null when it has none
    std::string method{};
    nlohmann::json params = nlohmann::json::object();
    int code = 0;  // an invalid message's error, and why
    std::string error{};
};
Message readMessage(const std::string& line);

// An answer as its line (without the newline).
std::string resultLine(const nlohmann::json& id, const nlohmann::json& result);
std::string errorLine(const nlohmann::json& id, int code, const std::string& message);

// The protocol versions this server speaks, newest first.
const std::vector<std::string>& protocolVersions();

class Session {
public:
    using Send = std::function<void(const std::string& line)>;
    // A render call: its request's id and its arguments (an object).
    using Render = std::function<void(const nlohmann::json& id, const nlohmann::json& arguments)>;
    Session(std::string version, Send send, Render render)
        : version_(std::move(version)), send_(std::move(send)), render_(std::move(render)) {}

    // Answers the message on `line`, or hands a render call on.
    void take(const std::string& line);

private:
    nlohmann::json initialized(const nlohmann::json& params) const;
    void call(const nlohmann::json& id, const nlohmann::json& params);

    std::string version_;
    Send send_;
    Render render_;
};

}  // namespace norvo::Mcp
