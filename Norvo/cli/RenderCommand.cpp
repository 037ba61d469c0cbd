#include "cli/RenderCommand.hpp"

#include <csignal>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include "ClipboardServer.hpp"
#include "cli/Headless.hpp"
#include "cli/Completions.hpp"
#include "cli/NoteInputs.hpp"
#include "cli/NoteWatch.hpp"
#include "cli/OutputLines.hpp"
#include "cli/PrivateDisplay.hpp"
#include "cli/RenderOptions.hpp"
#include "cli/RenderRun.hpp"
#include "cli/RequestStream.hpp"
#include "cli/StopSignals.hpp"
#include "norvo/Catalogue.hpp"
#include "support/AtomicFile.hpp"
#include "support/StartupTimeline.hpp"
#include "support/StyleFiles.hpp"

// `norvo render` reads as its steps: parse the options, check what only the file system can
// tell, read the notes, prepare the output folder, draw and write the cards (watching the
// notes with --watch) until done or stopped, and say how it ended.
namespace norvo::RenderCommand {

namespace {

int usage(const std::string& message) {
    std::fprintf(stderr, _("norvo render: %s\nTry 'norvo render --help'.\n"), message.c_str());
    return 2;
}

// A style that is neither a saved or bundled one nor a file is a usage error.
bool styleExists(const std::string& style) {
    const bool isFile = style.find('/') != std::string::npos || std::filesystem::path(style).extension() == ".json";
    std::error_code ec;
    return std::filesystem::exists(isFile ? std::filesystem::path(style) : StyleFiles::fileOf(style), ec);
}

// What only the file system can tell: -o, --images and --style. Returns a usage error's message.
std::optional<std::string> checkTargets(const RenderOptions& options) {
    if (const auto error = checkOutputFile(options)) return error->message;
    if (!options.style.empty() && !styleExists(options.style))
        return "--style " + options.style + ": no such style (norvo render --list-styles names them)";
    for (const std::string& folder : options.pictureFolders) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec)) return "--images " + folder + ": not a folder";
    }
    return std::nullopt;
}

// --style: a style that cannot be read leaves the cards in the theme, and says why.
CardStyle loadRunStyle(const RenderOptions& options) {
    if (options.style.empty()) return {};
    StyleRead read = StyleFiles::load(options.style);
    if (!read.problem) return std::move(read.style);
    std::fprintf(stderr, _("norvo render: --style: %s; the theme is used\n"), read.problem->message.c_str());
    return {};
}

// Nothing is rendered for a folder that cannot take the cards; the message gives the reason.
bool outputFolderReady(const RenderOptions& options) {
    // A card written into a descriptor, FIFO or device makes no file in the folder.
    struct stat st {};
    if (options.outputFile && (descriptorNamedBy(*options.outputFile) ||
                               (::stat(options.outputFile->c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))))
        return true;
    std::filesystem::path folder = options.outputFile ? options.outputFile->parent_path() : options.outputFolder;
    if (folder.empty()) folder = ".";
    if (const auto why = prepareOutputFolder(folder)) {
        std::fprintf(stderr, "norvo render: %s\n", why->c_str());
        return false;
    }
    removeStaleTemporaries(folder);
    return true;
}

// Draws and writes every card of `notes`; SIGINT or SIGTERM stops the run between files.
// Returns the exit status.
int drawAndWrite(const RenderOptions& options, const CardStyle& runStyle, std::deque<Note>& notes, int failures) {
    RenderRun run(options, notes);
    std::optional<NoteWatch> watch;
    if (options.watch) watch.emplace(options, runStyle, notes, run);
    StopSignals signals([&](int) { run.stop(); });
    failures += run.run();
    watch.reset();
    if (const int signal = signals.caught()) {
        const char* how = signal == SIGINT ? (options.watch ? _("stopped watching") : _("interrupted")) : _("terminated");
        const int written = run.filesWritten();
        std::fprintf(stderr, "%s", run.showsProgress() ? "\n" : "");
        std::fprintf(stderr, ngettext("norvo render: %s; %d file written, each named above\n",
                                      "norvo render: %s; %d files written, each named above\n", written),
                     how, written);
        // Ctrl+C is how a watch ends.
        return options.watch && signal == SIGINT ? 0 : 128 + signal;
    }
    return failures ? 1 : 0;
}

// --stream: one warm engine answers every request on standard input, until it ends or the
// answers' reader goes.
int answerRequests(const RenderOptions& options, const Headless::ClosedStreams& closed) {
    if (!Headless::answersReady(closed, _("norvo render: --stream reads its requests from standard input, which is closed\n"),
                                _("norvo render: --stream answers on standard output, which is closed\n")))
        return 1;
    std::optional<PrivateDisplay> own;
    if (!Headless::displayReady(own, "norvo render")) return 1;
    if (!outputFolderReady(options)) return 1;
    RequestStream stream(options);
    StopSignals signals([&](int) { stream.stop(); });
    const int failures = stream.run();
    if (const int signal = signals.caught()) return 128 + signal;
    return failures || stream.answersLost() ? 1 : 0;
}

// What the options ask for instead of cards (--help, --version, --list-*, --completion),
// printed on standard output: no display is needed. A list is one name a line, then a tab
// and what goes with it, for scripts to read.
int answer(const RenderOptions& options, const std::string& version) {
    using A = RenderOptions::Answer;
    auto line = [](const std::string& name, const std::string& more) { std::printf("%s\t%s\n", name.c_str(), more.c_str()); };
    switch (options.answer) {
    case A::None: break;
    case A::Help: std::fputs(renderHelpText(), stdout); break;
    case A::Version: std::printf("Norvo %s\n", version.c_str()); break;
    case A::Styles:
        for (const std::string& name : StyleFiles::names()) std::printf("%s\n", name.c_str());
        break;
    case A::Themes:
        for (const Theme& theme : Themes::all()) line(theme.id, _(theme.label.c_str()));
        break;
    case A::Fonts:
        for (const Font& font : Fonts::all()) line(font.id, _(font.label.c_str()));
        break;
    case A::Sizes:
        for (const auto* list : {&Presets::all(), &Presets::more()})
            for (const Preset& size : *list)
                line(size.id, std::to_string(size.width) + "x" + (size.grows ? "long" : std::to_string(size.height)));
        break;
    case A::Completion: std::fputs(completionScript(options.shell).value_or("").c_str(), stdout); break;
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int run(int argc, char** argv, const std::string& version) {
    auto parsed = parseRenderOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (auto* error = std::get_if<RenderUsageError>(&parsed)) return usage(error->message);
    const RenderOptions options = std::get<RenderOptions>(std::move(parsed));
    if (options.answer != RenderOptions::Answer::None) return answer(options, version);
    if (const auto error = checkTargets(options)) return usage(*error);
    Headless::startNoSessionBus();
    const Headless::ClosedStreams closed = Headless::guardClosedStreams();
    if (options.stream) return answerRequests(options, closed);
    // What the run was asked to put on standard output would be lost.
    if (closed.output && (options.report || (options.outputFile && descriptorNamedBy(*options.outputFile) == STDOUT_FILENO))) {
        std::fputs(options.report ? _("norvo render: --report prints on standard output, which is closed\n")
                                  : _("norvo render: the card goes to standard output, which is closed\n"),
                   stderr);
        return 1;
    }
    const bool stdinClosed = closed.input;
    const CardStyle runStyle = loadRunStyle(options);

    int failures = 0;
    std::deque<Note> notes = readNotes(options, runStyle, stdinClosed, failures);
    if (notes.empty()) return failures ? 1 : 0;
    std::optional<PrivateDisplay> own;
    if (!Headless::displayReady(own, "norvo render")) return 1;
    StartupTimeline::mark("gtk-ready");
    if (options.copy) return copyCard(NoteCard{.note = borrowed(notes.front()), .preset = notes.front().look.presets.front()}, options);
    if (!outputFolderReady(options)) return 1;
    return drawAndWrite(options, runStyle, notes, failures);
}

int serveClipboard(const char* folder) { return ClipboardServer::serve(folder); }

}  // namespace norvo::RenderCommand
