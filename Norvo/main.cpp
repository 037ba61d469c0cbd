#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <clocale>
#include <filesystem>

#include <glib/gi18n.h>
#include <gtkmm/init.h>

#include "BuildConfig.hpp"
#include "support/AtomicFile.hpp"
#include "support/GraphicsSetup.hpp"
#include "support/ResourceBundle.hpp"
#include "support/StartupTimeline.hpp"

#include "cli/McpCommand.hpp"
#include "cli/RenderCommand.hpp"
#include "engine/SandboxLeftovers.hpp"
#include "model/AppInfo.hpp"
#include "model/Drafts.hpp"
#include "model/PictureStore.hpp"
#include "norvo/SelfTestConfig.hpp"
#include "ui/EngineCardRenderer.hpp"
#include "model/UpdateController.hpp"
#include "ui/NorvoApplication.hpp"

namespace {
// Translations come from the application folder first, so a moved Norvo.app keeps them.
void setUpTranslations() {
    // A locale that is not installed: English, quietly (glibmm would warn in four lines on every start).
    if (!std::setlocale(LC_ALL, "")) {
        ::setenv("LC_ALL", "C.UTF-8", 1);
        std::setlocale(LC_ALL, "C.UTF-8");
    }
    std::filesystem::path folder = norvo::ResourceBundle::executableFolder() / "locale";
    if (!std::filesystem::is_directory(folder)) folder = NORVO_LOCALE_DIR;
    bindtextdomain("norvo", folder.c_str());
    bind_textdomain_codeset("norvo", "UTF-8");
    textdomain("norvo");
}
}  // namespace

int main(int argc, char** argv) {
    norvo::noteInheritedDescriptors();
    norvo::StartupTimeline::mark("main");
    setUpTranslations();
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "Norvo " << norvo::AppInfo::version() << "\n";
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--serve-clipboard") == 0) {
        norvo::GraphicsSetup::choose(norvo::GraphicsSetup::Use::Headless);
        Gtk::init_gtkmm_internals();
        return norvo::RenderCommand::serveClipboard(argv[2]);
    }
    // The commands that draw without a window.
    const bool render = argc > 1 && std::strcmp(argv[1], "render") == 0;
    if (render || (argc > 1 && std::strcmp(argv[1], "mcp") == 0)) {
        norvo::GraphicsSetup::choose(norvo::GraphicsSetup::Use::Headless);
        Gtk::init_gtkmm_internals();
        const int status = render ? norvo::RenderCommand::run(argc - 1, argv + 1, norvo::AppInfo::version())
                                  : norvo::McpCommand::run(argc - 1, argv + 1, norvo::AppInfo::version());
        norvo::SandboxLeftovers::removeOurs();
        norvo::StartupTimeline::mark("exit");
        return status;
    }
    // Anything else is a note to open, unless it looks like an option.
    bool files = argc > 1;
    for (int i = 1; i < argc; ++i) files = files && argv[i][0] != '-';
    if (argc > 1 && !files) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        if (!help) {
            for (int i = 1; i < argc; ++i)
                if (argv[i][0] == '-') {
                    std::fprintf(stderr, _("norvo: unknown option '%s'\n"), argv[i]);
                    break;
                }
        }
        (help ? std::cout : std::cerr) << _("Usage: norvo                 open Norvo\n"
                                             "       norvo FILE.md         open Norvo with a note\n"
                                             "       norvo render ...      render cards from Markdown files "
                                             "(norvo render --help)\n"
                                             "       norvo mcp ...         answer an agent's requests for cards "
                                             "(norvo mcp --help)\n"
                                             "       norvo --version       print the version\n");
        return help ? 0 : 2;
    }
    // Without a display the window has nowhere to go: say so once, and what works instead.
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) {
        std::cerr << _("Norvo is a desktop app and needs a display; to make cards without one, use "
                       "\u201cnorvo render\u201d (norvo render --help).")
                  << "\n";
        return 1;
    }
    norvo::GraphicsSetup::choose(norvo::GraphicsSetup::Use::Window);
    // Window managers match the window to its desktop entry by this name.
    g_set_prgname(NORVO_APP_ID);
    // The one place the concrete parts are chosen: the web engine, GTK's desktop services
    // (the application's default) and the real update source.
    // One Norvo a session takes the notes opened with it and keeps a draft; a self-test runs
    // on its own and keeps nothing.
    const bool selfTest = norvo::SelfTestConfig::requested(std::getenv("NORVO_SELFTEST"));
    auto app = norvo::NorvoApplication::create({
        [] { return std::make_unique<norvo::EngineCardRenderer>(); },
        {},
        norvo::UpdateController::Source::forThisApp(),
        norvo::AppInfo::version(),
        !selfTest,
        selfTest ? std::filesystem::path() : norvo::Drafts::defaultFile(),
        selfTest ? std::filesystem::path() : norvo::PictureStore::defaultFolder(),
    });
    // Norvo takes no command-line options of its own beyond the ones above: what is left
    // are files to open.
    const int status = app->run(files ? argc : 1, argv);
    norvo::StartupTimeline::mark("exit");
    return status;
}
