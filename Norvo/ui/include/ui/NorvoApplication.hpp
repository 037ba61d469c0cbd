#pragma once
#include <functional>
#include <memory>

#include <giomm/menu.h>
#include <giomm/settings.h>
#include <gtkmm/aboutdialog.h>
#include <gtkmm/builder.h>
#include <gtkmm/application.h>

#include "model/CardActions.hpp"
#include "model/Drafts.hpp"
#include "model/NoteFiles.hpp"
#include "model/CardDocument.hpp"
#include "model/CardRenderer.hpp"
#include "model/DesktopServices.hpp"
#include "model/SelfTestRun.hpp"
#include "model/UpdateController.hpp"
#include "model/StyleChoice.hpp"
#include "model/StyleLibrary.hpp"

namespace norvo {

class MainWindow;
class SettingsWindow;
class StyleEditor;

// The application: wires the card, its actions and the update flows to the engine and the
// desktop services it is given, and owns them (and its windows) until it goes.
class NorvoApplication : public Gtk::Application {
public:
    using ServicesFactory = std::function<std::unique_ptr<DesktopServices>(NorvoApplication&)>;

    // What the application is built from. main() hands it the web engine, GTK's desktop
    // services and the real update source; tests hand it doubles.
    struct Parts {
        std::function<std::unique_ptr<CardRenderer>()> renderer;
        ServicesFactory services;  // empty: GTK's
        UpdateController::Source updates;
        std::string version;
        // One Norvo per session: `norvo FILE.md` hands the file to the running window.
        bool unique = false;
        // Where the note is kept between sessions; empty: not kept (a self-test, tests).
        std::filesystem::path draftFile;
        // Where pictures dropped or pasted into a note are kept; empty: nowhere.
        std::filesystem::path pictureStore{};
    };

    static Glib::RefPtr<NorvoApplication> create(Parts parts);
    ~NorvoApplication() override;

    // Made when the application starts up.
    CardDocument& document() { return *document_; }
    CardActions& actions() { return *actions_; }
    NoteFiles& noteFiles() { return *noteFiles_; }
    UpdateController& updates() { return *updates_; }

    MainWindow* mainWindow() const { return window_.get(); }
    SettingsWindow* settingsWindow() const { return settings_.get(); }
    StyleEditor* styleEditor() const { return styleEditor_.get(); }
    Gtk::Window* aboutDialog() const { return about_.get(); }
    Gtk::Window* shortcutsWindow() const {
        return shortcutsBuilder_ ? shortcutsBuilder_->get_widget<Gtk::Window>("shortcuts") : nullptr;
    }
    StyleChoice& styles() { return *styles_; }
    DesktopServices* services() const { return services_.get(); }
    Glib::RefPtr<Gio::Menu> applicationMenu() const { return appMenu_; }
    Glib::RefPtr<Gio::Menu> updateSection() const { return updateSection_; }

protected:
    explicit NorvoApplication(Parts parts);
    void on_startup() override;
    void on_activate() override;
    void on_open(const type_vec_files& files, const Glib::ustring& hint) override;
    void on_shutdown() override;

private:
    void installActions();
    void buildMenus();
    void followDesktopStyle();
    void showAbout();
    void showSettings();
    void showStyleEditor();
    void showShortcuts();
    static void nameKeysForPeople(Gtk::Widget& widget);
    void refreshUpdateMenu();

    void runSelfTest();

    Parts parts_;
    // Declared in the order they are made; they go in reverse, each before what it uses.
    std::unique_ptr<CardRenderer> renderer_;
    std::unique_ptr<DesktopServices> services_;
    std::unique_ptr<CardDocument> document_;
    std::unique_ptr<CardActions> actions_;
    std::unique_ptr<NoteFiles> noteFiles_;
    std::unique_ptr<Drafts> drafts_;
    std::unique_ptr<UpdateController> updates_;
    std::unique_ptr<SelfTestRun> selfTest_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<StyleChoice> styles_;
    std::unique_ptr<StyleLibrary> styleLibrary_;
    std::unique_ptr<StyleEditor> styleEditor_;
    std::unique_ptr<Gtk::AboutDialog> about_;
    Glib::RefPtr<Gtk::Builder> shortcutsBuilder_;  // holds the shortcuts window it built
    Glib::RefPtr<Gio::Menu> appMenu_, updateSection_;
    Glib::RefPtr<Gio::Settings> desktopInterface_;
    bool launched_ = false;
    std::string shownUpdateMenu_;  // what the update items last showed
};

}  // namespace norvo
