#include "cli/McpSession.hpp"

#include <algorithm>

#include "cli/McpTools.hpp"

namespace norvo::Mcp {

using nlohmann::json;

namespace {
std::string dumped(const nlohmann::ordered_json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

Message invalid(int code, std::string why, json id = nullptr) {
    return Message{.kind = Message::Kind::Invalid, .id = std::move(id), .code = code, .error = std::move(why)};
}
}  // namespace

Message readMessage(const std::string& line) {
    const json j = json::parse(line, nullptr, false);
    if (j.is_discarded()) return invalid(ParseError, "Parse error: the line is not JSON");
    if (!j.is_object()) return invalid(InvalidRequest, "Invalid Request: a message is one JSON object (no batches)");
    const auto id = j.find("id");
    const bool hasId = id != j.end() && (id->is_string() || id->is_number());
    if (id != j.end() && !hasId) return invalid(InvalidRequest, "Invalid Request: \"id\" is text or a number");
    const json theId = hasId ? *id : json(nullptr);
    if (j.value("jsonrpc", json()) != "2.0") return invalid(InvalidRequest, "Invalid Request: \"jsonrpc\" is not \"2.0\"", theId);
    const auto method = j.find("method");
    if (method == j.end())
        return j.contains("result") || j.contains("error") ? Message{.kind = Message::Kind::Reply, .id = theId}
                                                           : invalid(InvalidRequest, "Invalid Request: no \"method\"", theId);
    if (!method->is_string()) return invalid(InvalidRequest, "Invalid Request: \"method\" is not text", theId);
    Message message{.kind = hasId ? Message::Kind::Request : Message::Kind::Notification,
                    .id = theId,
                    .method = method->get<std::string>()};
    if (const auto params = j.find("params"); params != j.end()) {
        if (!params->is_structured()) return invalid(InvalidRequest, "Invalid Request: \"params\" is not an object", theId);
        message.params = *params;
    }
    return message;
}

// An answer's members in the order the protocol lists them.
std::string resultLine(const json& id, const json& result) {
    return dumped(nlohmann::ordered_json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

std::string errorLine(const json& id, int code, const std::string& message) {
    return dumped(nlohmann::ordered_json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

const std::vector<std::string>& protocolVersions() {
    static const std::vector<std::string> versions{"2025-06-18", "2025-03-26", "2024-11-05"};
    return versions;
}

json Session::initialized(const json& params) const {
    const auto& known = protocolVersions();
    const json asked = params.is_object() ? params.value("protocolVersion", json()) : json();
    const bool speaks = asked.is_string() && std::find(known.begin(), known.end(), asked.get<std::string>()) != known.end();
    return {{"protocolVersion", speaks ? asked.get<std::string>() : known.front()},
            {"capabilities", {{"tools", json::object()}}},
            {"serverInfo", {{"name", "norvo"}, {"title", "Norvo"}, {"version", version_}}},
            {"instructions", "Norvo draws a Markdown note as a picture card of exact pixel size. render writes the "
                             "cards and returns each as an image with its layout report; list_styles and list_sizes "
                             "name what render's style and size take."}};
}

void Session::take(const std::string& line) {
    const Message message = readMessage(line);
    switch (message.kind) {
    case Message::Kind::Invalid: return send_(errorLine(message.id, message.code, message.error));
    case Message::Kind::Notification:  // initialized, cancelled, ...: nothing to answer
    case Message::Kind::Reply: return;
    case Message::Kind::Request: break;
    }
    if (message.method == "initialize") return send_(resultLine(message.id, initialized(message.params)));
    if (message.method == "ping") return send_(resultLine(message.id, json::object()));
    if (message.method == "tools/list") return send_(resultLine(message.id, McpTools::list()));
    if (message.method == "tools/call") return call(message.id, message.params);
    send_(errorLine(message.id, MethodNotFound, "Method not found: " + message.method));
}

void Session::call(const json& id, const json& params) {
    if (!params.is_object() || !params.value("name", json()).is_string())
        return send_(errorLine(id, InvalidParams, "Invalid params: tools/call needs the tool's \"name\""));
    const json arguments = params.value("arguments", json::object());
    if (!arguments.is_object()) return send_(errorLine(id, InvalidParams, "Invalid params: \"arguments\" is not an object"));
    const std::string tool = params["name"].get<std::string>();
    if (tool == "render") return render_(id, arguments);
    if (tool != "list_styles" && tool != "list_sizes")
        return send_(errorLine(id, InvalidParams, "Invalid params: unknown tool \"" + tool + "\""));
    if (!arguments.empty())
        return send_(resultLine(id, McpTools::failure(tool + " takes no arguments: \"" + arguments.begin().key() + "\"")));
    send_(resultLine(id, tool == "list_styles" ? McpTools::styles() : McpTools::sizes()));
}

}  // namespace norvo::Mcp
