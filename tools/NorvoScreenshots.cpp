// Opens Norvo in this process and captures the screen at a few moments with
// imagemagick's `import`: the main window light and dark, the share popover and the
// settings window. Usage: xvfb-run -a -s "-screen 0 1280x800x24" norvo-screenshots DIR
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <glib.h>
#include <glibmm/main.h>
#include <gtkmm/settings.h>

#include "model/NorvoModel.hpp"
#include "ui/GtkDesktopServices.hpp"
#include "ui/MainWindow.hpp"
#include "ui/NorvoApplication.hpp"
#include "ui/SettingsWindow.hpp"

using namespace norvo;

namespace {
void pump(int ms) {
    const gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
    while (g_get_monotonic_time() < end)
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
}
void shoot(const std::string& dir, const char* name) {
    const std::string cmd = "import -window root '" + dir + "/" + name + ".png'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not capture %s\n", name);
    else std::printf("%s/%s.png\n", dir.c_str(), name);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: norvo-screenshots DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    NorvoModel& model = NorvoModel::shared();
    auto app = NorvoApplication::create(model);
    app->signal_activate().connect([&] {
        Glib::signal_idle().connect_once([&] {
            pump(2500);
            shoot(dir, "main-light");
            model.sharePNG(&app->mainWindow()->controls().shareButton());
            pump(1200);
            shoot(dir, "share-popover");
            if (auto* services = dynamic_cast<GtkDesktopServices*>(app->services()))
                if (services->sharePopover()) services->sharePopover()->popdown();
            app->activate_action("preferences");
            pump(800);
            shoot(dir, "settings");
            app->settingsWindow()->close();
            Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme() = true;
            model.setThemeID("ink");
            model.setPresetID("portrait");
            pump(1500);
            shoot(dir, "main-dark");
            app->quit();
        });
    });
    return app->run(1, argv);
}
