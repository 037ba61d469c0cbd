#include "cli/McpCommand.hpp"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>
#include <glib/gi18n.h>
#include <glibmm/ustring.h>

#include "cli/Headless.hpp"
#include "cli/McpServer.hpp"
#include "cli/NoteInputs.hpp"
#include "cli/OutputLines.hpp"
#include "cli/StopSignals.hpp"

// `norvo mcp`: a Model Context Protocol server on standard input and output for agents that
// make cards. It reads its options, readies its folder and a display, and answers until its
// input ends.
namespace norvo::McpCommand {

namespace {

int usage(const std::string& message) {
    std::fprintf(stderr, _("norvo mcp: %s\nTry 'norvo mcp --help'.\n"), message.c_str());
    return 2;
}

const char* helpText() {
    return _(R"(Usage: norvo mcp [-d DIR] [--images DIR]...
Answer an agent's requests for cards: a Model Context Protocol server on standard
input and output (JSON-RPC, one message a line), with the tools render,
list_styles and list_sizes. Cards are written into DIR only, never over a file
that is there already; it ends when its input does (exit 0).

  -d DIR           write the cards into DIR (default: norvo/mcp in the user's
                   cache folder, made private to the user)
  --images DIR     a note's pictures may come from DIR (repeatable); no other
                   pictures are shown
  -h, --help       show this help
)");
}

// The options, or a usage error's message.
struct McpOptions {
    std::filesystem::path folder = std::filesystem::path(g_get_user_cache_dir()) / "norvo" / "mcp";
    std::vector<std::string> pictureFolders;
    bool help = false;
};
std::optional<std::string> parse(const std::vector<std::string>& args, McpOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "-d" || a == "--images") {
            if (i + 1 >= args.size()) return Glib::ustring::compose(_("option %1 needs a value"), a).raw();
            if (a == "-d") o.folder = args[++i];
            else o.pictureFolders.push_back(args[++i]);
        } else {
            return Glib::ustring::compose(_("unknown option '%1'"), a).raw();
        }
    }
    for (const std::string& folder : o.pictureFolders) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec))
            return Glib::ustring::compose(_("--images %1: not a folder"), folder).raw();
    }
    return std::nullopt;
}

// The cards' folder, made (private to the user) when missing and proved to take a file.
bool folderReady(const std::filesystem::path& folder) {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) g_mkdir_with_parents(folder.c_str(), 0700);
    if (const auto why = prepareOutputFolder(folder)) {
        std::fprintf(stderr, "norvo mcp: %s\n", why->c_str());
        return false;
    }
    removeStaleTemporaries(folder);
    return true;
}

}  // namespace

int run(int argc, char** argv, const std::string& version) {
    McpOptions o;
    if (const auto error = parse(std::vector<std::string>(argv + 1, argv + argc), o)) return usage(*error);
    if (o.help) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    Headless::startNoSessionBus();
    const Headless::ClosedStreams closed = Headless::guardClosedStreams();
    if (!Headless::answersReady(closed, _("norvo mcp: reads its messages from standard input, which is closed\n"),
                                _("norvo mcp: answers on standard output, which is closed\n")))
        return 1;
    // Files are named in answers: whole paths, whatever folder the client runs in.
    RenderOptions defaults;
    defaults.outputFolder = std::filesystem::absolute(o.folder).lexically_normal();
    defaults.pictureFolders = o.pictureFolders;
    defaults.keepFiles = true;
    if (!folderReady(defaults.outputFolder)) return 1;
    std::optional<PrivateDisplay> own;
    if (!Headless::displayReady(own, "norvo mcp")) return 1;
    McpServer server(defaults, version);
    StopSignals signals([&](int) { server.stop(); });
    const int status = server.run();
    if (const int signal = signals.caught()) return 128 + signal;
    return status;
}

}  // namespace norvo::McpCommand
