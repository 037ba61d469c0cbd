#include "ui/NorvoApplication.hpp"

#include <cstdlib>

#include <glibmm/i18n.h>
#include <glibmm/markup.h>
#include <glibmm/miscutils.h>
#include <giomm/settingsschemasource.h>
#include <gtkmm/aboutdialog.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/icontheme.h>
#include <giomm/simpleaction.h>
#include <gtkmm/settings.h>

#include "support/StartupTimeline.hpp"
#include "BuildConfig.hpp"
#include "engine/SandboxLeftovers.hpp"
#include "support/PrivateFolder.hpp"
#include "support/ResourceBundle.hpp"
#include "model/AppInfo.hpp"
#include "norvo/SelfTestConfig.hpp"
#include "ui/GtkDesktopServices.hpp"
#include "ui/MainWindow.hpp"
#include "ui/SettingsWindow.hpp"
#include "ui/StyleEditor.hpp"

namespace norvo {

namespace {
// A distribution's package is updated by the system: no update menu, no launch-time check.
constexpr bool kSelfUpdate = NORVO_SELF_UPDATE != 0;
}  // namespace

namespace {
constexpr const char* kAppCss = R"(
.preview-pane { background-color: mix(@theme_bg_color, @theme_fg_color, 0.10); }
.card-editor { font-family: monospace; font-size: 13px; }
.card-editor-frame { border: 1px solid alpha(@theme_fg_color, 0.18); border-radius: 8px; }
.card-editor-frame > textview { border-radius: 8px; }
.title-2 { font-weight: 600; }
.scale-caption { font-size: 11px; }
.size-smaller { font-size: 10px; }
.size-larger { font-size: 16px; }
.maker-link { padding: 0; min-height: 0; }
.segmented > button { min-height: 24px; padding: 2px 6px; }
)";
}  // namespace

Glib::RefPtr<NorvoApplication> NorvoApplication::create(Parts parts) {
    if (!parts.services)
        parts.services = [](NorvoApplication& app) -> std::unique_ptr<DesktopServices> {
            return std::make_unique<GtkDesktopServices>([&app]() -> Gtk::Window* { return app.mainWindow(); });
        };
    // gtkmm's way with a protected constructor: the RefPtr owns the object from here on.
    return Glib::make_refptr_for_instance<NorvoApplication>(new NorvoApplication(std::move(parts)));
}

// Several Norvo processes may run side by side (a self-test beside the app, batch renders).
NorvoApplication::NorvoApplication(Parts parts)
    : Gtk::Application(AppInfo::applicationId(), (parts.unique ? Gio::Application::Flags::DEFAULT_FLAGS
                                                               : Gio::Application::Flags::NON_UNIQUE) |
                                                     Gio::Application::Flags::HANDLES_OPEN),
      parts_(std::move(parts)) {}

// Windows first (they hold on to the card), then the parts in reverse order of making; the
// files this run shared or dragged out go with it.
NorvoApplication::~NorvoApplication() {
    PrivateFolder::removeLeftovers("share", true);
    PrivateFolder::removeLeftovers("drag", true);
    settings_.reset();
    styleEditor_.reset();  // it follows the window's document and style choice
    window_.reset();
    selfTest_.reset();
    updates_.reset();
    drafts_.reset();
    noteFiles_.reset();
    actions_.reset();
    document_.reset();
    services_.reset();
    renderer_.reset();
    SandboxLeftovers::removeOurs();
}

void NorvoApplication::on_startup() {
    Gtk::Application::on_startup();
    StartupTimeline::mark("gtk-ready");
    // Files shared or dragged out by Norvo runs that have ended.
    PrivateFolder::removeLeftovers("share");
    PrivateFolder::removeLeftovers("drag");
    Glib::set_application_name("Norvo");
    auto css = Gtk::CssProvider::create();
    css->load_from_data(kAppCss);
    Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), css,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    // The icon lies in the resource bundle until Norvo is installed for the desktop.
    Gtk::IconTheme::get_for_display(Gdk::Display::get_default())->add_search_path(ResourceBundle::path().string());
    Gtk::Window::set_default_icon_name(AppInfo::applicationId());
    // The page starts loading now, while the window is built: the first preview comes sooner.
    renderer_ = parts_.renderer();
    services_ = parts_.services(*this);
    document_ = std::make_unique<CardDocument>(*renderer_);
    document_->setPictureStore(parts_.pictureStore);
    actions_ = std::make_unique<CardActions>(*document_, *renderer_, *services_);
    noteFiles_ = std::make_unique<NoteFiles>(*document_, *services_);
    // A quit to install an update leaves the note for the next launch to restore.
    updates_ = std::make_unique<UpdateController>(parts_.updates, *services_, parts_.version, [this] {
        if (drafts_) drafts_->end(Drafts::Ending::Update);
        quit();
    });
    styles_ = std::make_unique<StyleChoice>(*document_);
    styleLibrary_ = std::make_unique<StyleLibrary>(*document_, *styles_);
    document_->setStyleLookup(styleLibrary_->lookup());
    if (!parts_.draftFile.empty()) {
        drafts_ = std::make_unique<Drafts>(*document_, parts_.draftFile);
        if (drafts_->restore()) noteFiles_->followRestoredNote();
        styles_->restore();  // like the note, the style worn at the last launch
    }
    installActions();
    buildMenus();
    followDesktopStyle();
}

void NorvoApplication::installActions() {
    add_action("about", sigc::mem_fun(*this, &NorvoApplication::showAbout));
    add_action("preferences", sigc::mem_fun(*this, &NorvoApplication::showSettings));
    add_action("edit-styles", sigc::mem_fun(*this, &NorvoApplication::showStyleEditor));
    // An opened note's unsaved edits are asked about first (a note typed here is kept by the draft).
    add_action("quit", [this] { noteFiles_->closeNote([this] { quit(); }); });
    add_action("new-note", [this] { noteFiles_->newNote(); });
    add_action("open-note", [this] { noteFiles_->openNote(); });
    // The window in front goes, as its close button would have it (the main one asks over
    // unsaved edits).
    add_action("close-window", [this] {
        if (Gtk::Window* window = get_active_window()) window->close();
    });
    add_action("save-note", [this] { noteFiles_->save(); });
    add_action("save-note-as", [this] { noteFiles_->saveNoteAs(); });
    add_action("shortcuts", sigc::mem_fun(*this, &NorvoApplication::showShortcuts));
    add_action("export", [this] { actions_->exportPNG(); });
    add_action("copy-card", [this] { actions_->copyPNG(); });
    add_action("export-pdf", [this] { actions_->exportPDF(); });
    if (kSelfUpdate) {
        add_action("install-update", [this] { updates_->promptForUpdate(); });
        add_action("check-updates", [this] { updates_->checkForUpdatesManually(); });
    }
    set_accel_for_action("app.preferences", "<Primary>comma");
    set_accel_for_action("app.quit", "<Primary>q");
    set_accel_for_action("app.new-note", "<Primary>n");
    set_accel_for_action("app.open-note", "<Primary>o");
    set_accel_for_action("app.close-window", "<Primary>w");
    set_accel_for_action("app.save-note", "<Primary><Alt>s");
    set_accel_for_action("app.save-note-as", "<Primary><Shift>s");
    set_accel_for_action("app.shortcuts", "<Primary>question");
    set_accel_for_action("app.export", "<Primary>s");
    set_accel_for_action("app.export-pdf", "<Primary><Shift>e");
    set_accel_for_action("app.copy-card", "<Primary><Shift>c");
    add_action("previous-page", [this] {
        if (window_) window_->showPreviousPage();
    });
    add_action("next-page", [this] {
        if (window_) window_->showNextPage();
    });
    // Page Up and Page Down belong to the editor while it has the focus: the window turns
    // pages with them only when nothing focused took them (see MainWindow).
}

void NorvoApplication::buildMenus() {
    // One primary menu, in the header bar, the GNOME way: the note, the card, the styles,
    // updates, then the app's own items.
    appMenu_ = Gio::Menu::create();
    auto section = [this](std::initializer_list<std::pair<Glib::ustring, const char*>> items) {
        auto menu = Gio::Menu::create();
        for (const auto& [label, action] : items) menu->append(label, action);
        appMenu_->append_section(menu);
    };
    section({{_("New Note"), "app.new-note"},
             {_("Open Note\u2026"), "app.open-note"},
             {_("Save Note"), "app.save-note"},
             {_("Save Note As\u2026"), "app.save-note-as"}});
    section({{_("Export PNG\u2026"), "app.export"}, {_("Export PDF\u2026"), "app.export-pdf"}, {_("Copy Card"), "app.copy-card"}});
    section({{_("Edit Styles\u2026"), "app.edit-styles"}});
    updateSection_ = Gio::Menu::create();  // the update items come and go here
    if (kSelfUpdate) appMenu_->append_section(updateSection_);
    section({{_("Settings\u2026"), "app.preferences"},
             {_("Keyboard Shortcuts"), "app.shortcuts"},
             {_("About Norvo"), "app.about"}});
    section({{_("Quit"), "app.quit"}});

    if (kSelfUpdate) {
        refreshUpdateMenu();
        updates_->signalChanged().connect(sigc::mem_fun(*this, &NorvoApplication::refreshUpdateMenu));
    }
}

void NorvoApplication::refreshUpdateMenu() {
    const auto& update = updates_->availableUpdate();
    const bool installing = updates_->isUpdating(), checking = updates_->isCheckingForUpdate();
    Glib::ustring updateTitle;
    if (update)
        updateTitle = installing ? Glib::ustring(_("Installing update\u2026"))
                                 : Glib::ustring::compose(_("Update to %1\u2026"), update->version);
    const Glib::ustring checkTitle = checking ? _("Checking for Updates\u2026") : _("Check for Updates\u2026");

    auto enable = [this](const char* name, bool on) {
        if (auto action = std::dynamic_pointer_cast<Gio::SimpleAction>(lookup_action(name))) action->set_enabled(on);
    };
    enable("install-update", update && !installing);
    enable("check-updates", !checking && !installing);

    // Menus cannot be edited in place; rebuild the items only when their text changes.
    const std::string shown = updateTitle + "|" + checkTitle;
    if (shown == shownUpdateMenu_) return;
    shownUpdateMenu_ = shown;
    updateSection_->remove_all();
    if (update) updateSection_->append(updateTitle, "app.install-update");
    updateSection_->append(checkTitle, "app.check-updates");
}

void NorvoApplication::followDesktopStyle() {
    // GNOME's colour-scheme preference; other desktops set GTK's own theme settings.
    auto source = Gio::SettingsSchemaSource::get_default();
    if (!source || !source->lookup("org.gnome.desktop.interface", true)) return;
    auto schema = source->lookup("org.gnome.desktop.interface", true);
    if (!schema->has_key("color-scheme")) return;
    desktopInterface_ = Gio::Settings::create("org.gnome.desktop.interface");
    auto apply = [this] {
        const bool dark = desktopInterface_->get_string("color-scheme") == "prefer-dark";
        Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme() = dark;
    };
    desktopInterface_->signal_changed("color-scheme").connect([apply](const Glib::ustring&) { apply(); });
    apply();
}

void NorvoApplication::showAbout() {
    if (!about_) {
        about_ = std::make_unique<Gtk::AboutDialog>();
        about_->set_hide_on_close(true);
        about_->add_credit_section(_("Report a problem"), {AppInfo::feedbackURL()});  // added once: sections add up
    }
    Gtk::AboutDialog* dialog = about_.get();
    dialog->set_program_name("Norvo");
    dialog->set_version(parts_.version);
    dialog->set_comments(_("Markdown in, a picture out."));
    dialog->set_website(AppInfo::websiteURL());
    dialog->set_license_type(Gtk::License::MIT_X11);
    dialog->set_logo_icon_name(AppInfo::applicationId());
    dialog->set_modal(true);
    if (window_) dialog->set_transient_for(*window_);
    dialog->present();
}

// GTK labels the page keys with their key names ("Page_Up"); a person reads "Page Up".
void NorvoApplication::nameKeysForPeople(Gtk::Widget& widget) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&widget)) {
        if (label->get_text() == "Page_Up") label->set_text(_("Page Up"));
        if (label->get_text() == "Page_Down") label->set_text(_("Page Down"));
    }
    for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) nameKeysForPeople(*child);
}

// Ctrl+?: every shortcut, grouped as the primary menu is, in GTK's own shortcuts window.
void NorvoApplication::showShortcuts() {
    if (!shortcutsBuilder_) {
        struct Entry {
            const char* accel;
            Glib::ustring title;
        };
        const std::vector<std::pair<Glib::ustring, std::vector<Entry>>> groups = {
            {_("Note"),
             {{"<Primary>n", _("New Note")}, {"<Primary>o", _("Open Note\u2026")}, {"<Primary><Alt>s", _("Save Note")},
              {"<Primary><Shift>s", _("Save Note As\u2026")}}},
            {_("Card"),
             {{"<Primary>s", _("Export PNG\u2026")}, {"<Primary><Shift>e", _("Export PDF\u2026")},
              {"<Primary><Shift>c", _("Copy Card")}, {"Page_Up", _("Previous card of a set")},
              {"Page_Down", _("Next card of a set")}}},
            {_("Norvo"),
             {{"F10", _("Main Menu")}, {"<Primary>comma", _("Settings\u2026")},
              {"<Primary>question", _("Keyboard Shortcuts")}, {"<Primary>w", _("Close Window")}, {"<Primary>q", _("Quit")}}},
        };
        std::string xml = "<interface><object class=\"GtkShortcutsWindow\" id=\"shortcuts\"><property name=\"modal\">1</property>"
                          "<child><object class=\"GtkShortcutsSection\"><property name=\"section-name\">main</property>";
        for (const auto& [title, entries] : groups) {
            xml += "<child><object class=\"GtkShortcutsGroup\"><property name=\"title\">" +
                   Glib::Markup::escape_text(title).raw() + "</property>";
            for (const Entry& e : entries)
                xml += "<child><object class=\"GtkShortcutsShortcut\"><property name=\"accelerator\">" +
                       Glib::Markup::escape_text(e.accel).raw() + "</property><property name=\"title\">" +
                       Glib::Markup::escape_text(e.title).raw() + "</property></object></child>";
            xml += "</object></child>";
        }
        xml += "</object></child></object></interface>";
        shortcutsBuilder_ = Gtk::Builder::create_from_string(xml);
        if (auto* made = shortcutsBuilder_->get_widget<Gtk::Window>("shortcuts")) nameKeysForPeople(*made);
    }
    auto* window = shortcutsBuilder_->get_widget<Gtk::Window>("shortcuts");
    if (!window) return;
    window->set_hide_on_close(true);
    if (window_) window->set_transient_for(*window_);
    window->present();
}

void NorvoApplication::showSettings() {
    if (!settings_) {
        settings_ = std::make_unique<SettingsWindow>(parts_.version);
        // A closed settings window is kept for next time, but no longer counts as open:
        // closing the main window then still quits.
        settings_->signal_hide().connect([this] { remove_window(*settings_); });
    }
    add_window(*settings_);
    if (window_) settings_->set_transient_for(*window_);
    settings_->present();
}

void NorvoApplication::showStyleEditor() {
    if (!styleEditor_) {
        styleEditor_ = std::make_unique<StyleEditor>(*styles_, *styleLibrary_, *document_);
        styleEditor_->signal_hide().connect([this] { remove_window(*styleEditor_); });
    }
    add_window(*styleEditor_);
    if (window_) styleEditor_->set_transient_for(*window_);
    styleEditor_->present();
}

void NorvoApplication::on_activate() {
    if (!window_) {
        window_ = std::make_unique<MainWindow>(*document_, *actions_, *noteFiles_, *styles_);
        window_->setPrimaryMenu(appMenu_);
        add_window(*window_);
        // Closing the window quits as the menu's Quit does, asking first over unsaved edits.
        window_->signal_close_request().connect(
            [this] {
                if (noteFiles_->mayCloseAtOnce()) return false;
                activate_action("quit");
                return true;
            },
            false);
    }
    window_->present();
    if (launched_) return;
    launched_ = true;
    if (kSelfUpdate) updates_->start();
    if (SelfTestConfig::requested(std::getenv("NORVO_SELFTEST"))) runSelfTest();
}

// `norvo FILE.md`, also from a second start while Norvo runs: the window takes the first
// file (one note at a time).
void NorvoApplication::on_open(const type_vec_files& files, const Glib::ustring&) {
    on_activate();
    if (files.empty()) return;
    const std::string path = files.front()->get_path();
    if (path.empty()) {
        document_->setStatus(_("Only a file on this computer can be opened"));
        return;
    }
    noteFiles_->open(path);
}

void NorvoApplication::on_shutdown() {
    if (drafts_) drafts_->end(Drafts::Ending::Quit);
    Gtk::Application::on_shutdown();
}

void NorvoApplication::runSelfTest() {
    const auto config = SelfTestConfig::from(std::getenv("NORVO_SELFTEST_SCALE"), std::getenv("NORVO_SELFTEST_FONT"));
    selfTest_ = std::make_unique<SelfTestRun>(*renderer_, config, "/tmp/norvo-selftest", [this] { quit(); });
    selfTest_->start();
}

}  // namespace norvo
