// Opens Norvo in this process and has GTK draw its windows into PNG files at a few
// moments: the main window light and dark, the share popover, the settings, shortcuts and
// about windows, and a style of the user's with the style editor, light and dark.
// Usage: xvfb-run -a norvo-screenshots DIR
#include <clocale>
#include <libintl.h>
#include <cstdio>
#include <string>

#include <glib.h>
#include <gtk/gtk.h>
#include <glibmm/main.h>
#include <gtkmm/settings.h>
#include <glibmm/miscutils.h>

#include "model/AppInfo.hpp"
#include "ui/EngineCardRenderer.hpp"
#include "support/GPtr.hpp"
#include "support/GraphicsSetup.hpp"
#include "ui/GtkDesktopServices.hpp"
#include "ui/MainWindow.hpp"
#include "ui/NorvoApplication.hpp"
#include "ui/SettingsWindow.hpp"
#include "support/ResourceBundle.hpp"
#include "support/StyleFiles.hpp"
#include "ui/StyleEditor.hpp"

using namespace norvo;

namespace {

void pump(int ms) {
    const gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
    while (g_get_monotonic_time() < end)
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
}

// What `widget` shows now, drawn by the renderer of the surface it is on.
void shoot(Gtk::Widget& widget, const std::string& dir, const char* name) {
    GtkWidget* w = widget.gobj();
    const int width = gtk_widget_get_width(w), height = gtk_widget_get_height(w);
    GtkNative* native = gtk_widget_get_native(w);
    const std::string file = dir + "/" + name + ".png";
    if (width <= 0 || height <= 0 || !native) {
        std::fprintf(stderr, "could not capture %s: not shown\n", name);
        return;
    }
    GObjectPtr<GdkPaintable> paintable(gtk_widget_paintable_new(w));
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable.get(), GDK_SNAPSHOT(snapshot), width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    if (!node) {
        std::fprintf(stderr, "could not capture %s: nothing drawn\n", name);
        return;
    }
    const graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
    GObjectPtr<GdkTexture> texture(gsk_renderer_render_texture(gtk_native_get_renderer(native), node, &bounds));
    gsk_render_node_unref(node);
    if (texture && gdk_texture_save_to_png(texture.get(), file.c_str()))
        std::printf("%s\n", file.c_str());
    else
        std::fprintf(stderr, "could not write %s\n", file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // In the language the environment asks for (LANG=zh_CN.UTF-8 draws the window in Chinese),
    // with the translations built beside norvo.
    std::setlocale(LC_ALL, "");
    bindtextdomain("norvo", NORVO_BUILD_LOCALE_DIR);
    bind_textdomain_codeset("norvo", "UTF-8");
    textdomain("norvo");
    // The window drawn the way the app draws it on this machine.
    norvo::GraphicsSetup::choose(norvo::GraphicsSetup::Use::Window);
    norvo::ResourceBundle::useBuildTree(NORVO_BUILD_BUNDLE_DIR);
    if (argc != 2) {
        std::fprintf(stderr, "usage: norvo-screenshots DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    // The pictures' own settings and styles: the user's are neither read nor changed.
    std::string config = Glib::build_filename(Glib::get_tmp_dir(), "norvo-shots-XXXXXX");
    if (g_mkdtemp(config.data())) g_setenv("XDG_CONFIG_HOME", config.c_str(), TRUE);
    // No update prompt in the pictures: the check goes nowhere.
    UpdateController::Source updates = UpdateController::Source::forThisApp("https://127.0.0.1:1/norvo/latest.json");
    auto app = NorvoApplication::create(
        {[] { return std::make_unique<EngineCardRenderer>(); }, {}, updates, AppInfo::version(), false, {}});
    app->signal_activate().connect([&] {
        // The text drawn as on GNOME, whose settings daemon asks for slight hinting: without
        // one (Xvfb) GTK hints fully, and full hinting drops the dots of Cantarell's i.
        g_object_set(gtk_settings_get_default(), "gtk-xft-hinting", 1, "gtk-xft-hintstyle", "hintslight", nullptr);
        Glib::signal_idle().connect_once([&] {
            pump(2500);
            MainWindow& window = *app->mainWindow();
            shoot(window, dir, "main-light");
            app->actions().sharePNG(DesktopServices::Anchor{&window.controls().shareButton()});
            pump(1200);
            auto* services = dynamic_cast<GtkDesktopServices*>(app->services());
            if (services && services->sharePopover()) {
                shoot(*services->sharePopover(), dir, "share-popover");
                services->sharePopover()->popdown();
            }
            app->activate_action("preferences");
            pump(800);
            shoot(*app->settingsWindow(), dir, "settings");
            app->settingsWindow()->close();
            for (const char* action : {"shortcuts", "about"}) {
                app->activate_action(action);
                pump(800);
                Gtk::Window* shown = std::string(action) == "about" ? app->aboutDialog() : app->shortcutsWindow();
                if (!shown) continue;
                shoot(*shown, dir, action);
                shown->close();
            }
            Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme() = true;
            app->document().setThemeID("ink");
            app->document().setPresetID("portrait");
            pump(1500);
            shoot(window, dir, "main-dark");

            // A long note as a set of cards, on its second card, dark and light.
            std::string essay = "# Notes on a set of cards\n\n";
            for (int i = 1; essay.size() < 5200; ++i)
                essay += "Paragraph " + std::to_string(i) +
                         ": a long note reads best as a carousel, one calm card after another, every card the "
                         "same size and the same text size.\n\n";
            app->document().setMarkdown(essay);
            app->document().setPresetID("square");
            app->document().setPages(true);
            pump(3000);
            window.showNextPage();
            pump(500);
            shoot(window, dir, "pages-dark");
            Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme() = false;
            app->document().setThemeID("paper");
            pump(3000);
            shoot(window, dir, "pages-light");

            // A style of the user's, worn by the card and open in the style editor, light and dark.
            app->document().setPages(false);
            app->document().setMarkdown(CardDocument::sampleMarkdown());
            CardStyle style;
            style.name = "Launch";
            style.accent = "#ffd166";
            style.background = CardStyle::Background::Gradient;
            style.colors = {"#ff7e5f", "#2b1055"};
            style.angle = 160;
            style.signatureName = "Ada Lovelace";
            style.signatureHandle = "@ada";
            StyleFiles::save(style);
            app->styles().choose("Launch");
            app->styles().stylesChanged();
            pump(2000);
            shoot(window, dir, "main-style");
            app->activate_action("edit-styles");
            pump(1500);
            shoot(*app->styleEditor(), dir, "styles-light");
            Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme() = true;
            pump(800);
            shoot(*app->styleEditor(), dir, "styles-dark");
            app->styleEditor()->close();
            app->quit();
        });
    });
    return app->run(1, argv);
}
