// norvo mcp's protocol and tools without a process: each message's answer, and a render
// call's arguments checked as the command line checks its options.
#include <gtest/gtest.h>

#include <set>

#include "cli/McpSession.hpp"
#include "cli/McpTools.hpp"
#include "cli/RenderOptions.hpp"

using namespace norvo;
using nlohmann::json;

namespace {
// A session whose answers and render calls are kept to be looked at.
struct Recorded {
    std::vector<json> answers;
    std::vector<std::pair<json, json>> renders;
    Mcp::Session session{"9.9", [this](const std::string& line) { answers.push_back(json::parse(line)); },
                         [this](const json& id, const json& arguments) { renders.emplace_back(id, arguments); }};
    // The one answer `line` gets.
    json ask(const std::string& line) {
        answers.clear();
        session.take(line);
        EXPECT_EQ(answers.size(), 1u) << line;
        return answers.empty() ? json() : answers.front();
    }
};
}  // namespace

TEST(McpSession, EachMessageGetsTheAnswerTheProtocolGives) {
    Recorded r;
    auto init = r.ask(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26"}})");
    EXPECT_EQ(init["result"]["protocolVersion"], "2025-03-26");
    EXPECT_EQ(init["result"]["serverInfo"]["version"], "9.9");
    EXPECT_TRUE(init["result"]["capabilities"]["tools"].is_object());
    init = r.ask(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":"1999-01-01"}})");
    EXPECT_EQ(init["result"]["protocolVersion"], Mcp::protocolVersions().front());
    EXPECT_EQ(r.ask(R"({"jsonrpc":"2.0","id":"p","method":"ping"})"), json::parse(R"({"jsonrpc":"2.0","id":"p","result":{}})"));
    EXPECT_EQ(r.ask(R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})")["result"], McpTools::list());

    // What is not a request is answered with its error, under its id when it has a good one.
    const std::vector<std::pair<std::string, std::pair<json, int>>> wrong = {
        {"{not json", {nullptr, Mcp::ParseError}},
        {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", {nullptr, Mcp::InvalidRequest}},
        {R"({"jsonrpc":"1.0","id":3,"method":"ping"})", {3, Mcp::InvalidRequest}},
        {R"({"jsonrpc":"2.0","id":{"a":1},"method":"ping"})", {nullptr, Mcp::InvalidRequest}},
        {R"({"jsonrpc":"2.0","id":4,"method":"resources/list"})", {4, Mcp::MethodNotFound}},
        {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"arguments":{}}})", {5, Mcp::InvalidParams}},
        {R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"paint"}})", {6, Mcp::InvalidParams}},
        {R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"render","arguments":"x"}})", {7, Mcp::InvalidParams}},
    };
    for (const auto& [line, expected] : wrong) {
        const json answer = r.ask(line);
        EXPECT_EQ(answer["id"], expected.first) << line;
        EXPECT_EQ(answer["error"]["code"], expected.second) << line;
    }
    // Notifications and a client's replies get nothing.
    r.answers.clear();
    r.session.take(R"({"jsonrpc":"2.0","method":"notifications/initialized"})");
    r.session.take(R"({"jsonrpc":"2.0","method":"ping"})");
    r.session.take(R"({"jsonrpc":"2.0","id":8,"result":{}})");
    EXPECT_TRUE(r.answers.empty());

    // A render call is handed on, to be answered once drawn; the other tools answer at once.
    r.session.take(R"({"jsonrpc":"2.0","id":"r","method":"tools/call","params":{"name":"render","arguments":{"markdown":"# A"}}})");
    ASSERT_EQ(r.renders.size(), 1u);
    EXPECT_EQ(r.renders[0].first, "r");
    EXPECT_EQ(r.renders[0].second["markdown"], "# A");
    EXPECT_TRUE(r.answers.empty());
    const json sizes = r.ask(R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"list_sizes"}})");
    EXPECT_EQ(sizes["result"]["structuredContent"]["sizes"][0]["id"], Presets::defaultPreset().id);
    EXPECT_EQ(r.ask(R"({"jsonrpc":"2.0","id":10,"method":"tools/call","params":{"name":"list_styles","arguments":{"x":1}}})")
                  ["result"]["isError"],
              true);
}

TEST(McpTools, RenderOffersEverySettingAndChecksItsArgumentsAsTheCommandLine) {
    json tools = McpTools::list()["tools"];
    std::set<std::string> names;
    for (const json& tool : tools) names.insert(tool["name"].get<std::string>());
    EXPECT_EQ(names, (std::set<std::string>{"render", "list_styles", "list_sizes"}));
    json& render = tools[0];
    ASSERT_EQ(render["name"], "render");
    EXPECT_EQ(render["inputSchema"]["required"], json::array({"markdown"}));
    EXPECT_TRUE(render["outputSchema"]["properties"].contains("cards"));
    for (const CardSettingRow& row : cardSettingRows()) {
        const char* type = row.kind == CardSettingRow::Kind::Switch   ? "boolean"
                           : row.kind == CardSettingRow::Kind::Number ? "number"
                                                                      : "string";
        EXPECT_EQ(render["inputSchema"]["properties"][std::string(row.key)]["type"], type) << row.key;
    }

    const RenderOptions defaults;
    auto refused = [&](const std::string& arguments) {
        StreamRequest request;
        return McpTools::renderRequest(json::parse(arguments), defaults, request).value_or("");
    };
    EXPECT_NE(refused(R"({"size": "landscape"})").find("\"markdown\" is missing"), std::string::npos);
    EXPECT_NE(refused(R"({"markdown": 5})").find("\"markdown\" is not text"), std::string::npos);
    // No file is named, read or written through a call: only the note's text, into the folder.
    for (const char* key : {"output", "file", "id", "pdf"})
        EXPECT_NE(refused(std::string(R"({"markdown": "# A", ")") + key + R"(": "x"})").find(key), std::string::npos) << key;
    EXPECT_NE(refused(R"({"markdown": "# A", "style": "../../etc/style.json"})"), "");
    // A value out of its limits says what they are, as the command line does.
    const std::string size = refused(R"({"markdown": "# A", "size": "9000x9000"})");
    EXPECT_NE(size.find("9000x9000"), std::string::npos) << size;
    EXPECT_NE(size.find(std::to_string(Presets::kMaxSide)), std::string::npos) << size;
    EXPECT_NE(refused(R"({"markdown": "# A", "theme": "neon"})").find("neon"), std::string::npos);
    EXPECT_NE(refused(R"({"markdown": "# A", "scale": 9})").find('3'), std::string::npos);

    StreamRequest request;
    EXPECT_FALSE(McpTools::renderRequest(
        json::parse(R"({"markdown": "# A", "size": "landscape", "pages": true, "format": "webp"})"), defaults, request));
    EXPECT_EQ(request.markdown, "# A");
    EXPECT_EQ(request.options.presets.front().width, 1200);
    EXPECT_TRUE(request.options.card.pages);
    EXPECT_EQ(request.options.format, CardFormats::Format::WebP);
}
