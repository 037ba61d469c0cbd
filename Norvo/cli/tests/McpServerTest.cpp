// norvo mcp as an agent's client runs it: a session of recorded messages, start to end.
#include "RenderCommandSupport.hpp"

using namespace norvo;
using namespace norvo::cli_testing;
using nlohmann::json;

namespace {
// Each answer on `out`, by its id (as JSON text: 1, "six", null).
std::map<std::string, json> answersById(const std::string& out) {
    std::map<std::string, json> byId;
    for (const json& answer : reportLines(out)) {
        EXPECT_EQ(answer.value("jsonrpc", ""), "2.0") << answer;
        EXPECT_TRUE(byId.emplace(answer.value("id", json()).dump(), answer).second) << "answered twice: " << answer;
    }
    return byId;
}

std::vector<std::uint8_t> fromBase64(const std::string& text) {
    gsize size = 0;
    guchar* bytes = g_base64_decode(text.c_str(), &size);
    std::vector<std::uint8_t> out(bytes, bytes + size);
    g_free(bytes);
    return out;
}

std::string call(int id, const std::string& tool, const json& arguments) {
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}, {"params", {{"name", tool}, {"arguments", arguments}}}}
        .dump();
}
}  // namespace

// initialize, a card and a set drawn, a bad argument refused with the server going on, and the
// end of input ending it (exit 0). Each message's own answer and the tools' schemas are
// McpSession's and McpTools' tests.
TEST(Mcp, AnAgentsSessionFromStartToEnd) {
    TempFolder tmp;
    const fs::path dir = tmp.path() / "cards";
    fs::create_directories(dir);
    writeFile(dir / "hello-landscape.png", "someone else's");  // the name the card would take
    std::string set = "# A set\n\n";
    for (int i = 0; i < 40; ++i) set += "Paragraph " + std::to_string(i) + " has words enough to fill a line or two.\n\n";
    const std::string session =
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"test","version":"1"}}})"
        "\n"
        R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
        "\n" +
        call(3, "render", {{"markdown", "# Hello\n\nA card for an agent."}, {"size", "landscape"}}) + "\n" +
        call(4, "render", {{"markdown", "# Too big"}, {"size", "9000x9000"}}) + "\nnot json\n" +
        call(7, "render", {{"markdown", set}, {"pages", true}, {"cover", true}}) + "\n";
    const auto r = runProcess({NORVO_TEST_EXECUTABLE, "mcp", "-d", dir.string()}, {}, session);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    auto answers = answersById(r.out);
    EXPECT_EQ(answers.size(), 5u) << r.out.substr(0, 2000);  // the notification gets none

    EXPECT_EQ(answers["1"]["result"]["protocolVersion"], "2025-06-18");
    EXPECT_EQ(answers["1"]["result"]["serverInfo"]["name"], "norvo");

    // The card: its picture at the size's exact pixels, the file beside it the same, and its report.
    json& card = answers["3"]["result"];
    ASSERT_EQ(card["isError"], false) << card;
    ASSERT_EQ(card["content"].size(), 2u) << card;
    EXPECT_EQ(card["content"][0]["type"], "text");
    EXPECT_EQ(card["content"][1]["mimeType"], "image/png");
    const auto png = fromBase64(card["content"][1]["data"].get<std::string>());
    EXPECT_EQ(readPngHeader(png).width, 1200u);
    EXPECT_EQ(readPngHeader(png).height, 630u);
    json& report = card["structuredContent"]["cards"][0];
    EXPECT_EQ(report["width"], 1200);
    EXPECT_EQ(report["height"], 630);
    EXPECT_TRUE(report.contains("cut") && report.contains("minContrast")) << report;
    const fs::path file = report["file"].get<std::string>();
    EXPECT_TRUE(fs::equivalent(file.parent_path(), dir)) << file;
    EXPECT_EQ(readFile(file), png);
    // A file that was there already is left as it was.
    EXPECT_NE(file.filename(), "hello-landscape.png");
    EXPECT_EQ(readText(dir / "hello-landscape.png"), "someone else's");

    // A bad argument is the call's error, in the command line's words; a line that is not
    // JSON is answered; the server goes on.
    EXPECT_EQ(answers["4"]["result"]["isError"], true);
    EXPECT_TRUE(has(answers["4"]["result"]["content"][0]["text"].get<std::string>(), "9000x9000")) << answers["4"];
    EXPECT_EQ(answers["null"]["error"]["code"], -32700);

    // A set: a picture and a report for each card, the cover first.
    json& cards = answers["7"]["result"]["structuredContent"]["cards"];
    EXPECT_GE(cards.size(), 2u) << answers["7"];
    EXPECT_EQ(answers["7"]["result"]["content"].size(), cards.size() + 1);
    EXPECT_EQ(cards[0].value("cover", false), true) << cards[0];
    for (json& each : cards) EXPECT_TRUE(fs::exists(each["file"].get<std::string>())) << each;
}

// Its own folder in the user's cache, private to the user, when no -d is given; --help and a
// wrong option as the other commands answer them.
TEST(Mcp, WritesIntoAPrivateFolderOfItsOwnByDefault) {
    TempFolder tmp;
    const std::string exe = NORVO_TEST_EXECUTABLE;
    const auto r = runProcess({exe, "mcp"}, {"XDG_CACHE_HOME=" + tmp.path().string()},
                              call(1, "render", {{"markdown", "# Cached"}}) + "\n");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const fs::path folder = tmp.path() / "norvo" / "mcp";
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(filesIn(folder).size(), 1u);
    EXPECT_EQ(answersById(r.out)["1"]["result"]["structuredContent"]["cards"][0]["file"], (folder / "cached-square.png").string());

    const auto help = runProcess({exe, "mcp", "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_TRUE(has(help.out, "-d DIR") && has(help.out, "--images DIR")) << help.out;
    const auto wrong = runProcess({exe, "mcp", "--bogus"});
    EXPECT_EQ(wrong.exitStatus, 2);
    EXPECT_TRUE(has(wrong.err, "--bogus")) << wrong.err;
}
