#include <gtest/gtest.h>

#include <gtkmm/adjustment.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/scale.h>
#include <gtkmm/switch.h>
#include <gtkmm/textview.h>


#include "support/StyleFiles.hpp"
#include "FakeDesktopServices.hpp"
#include "FakeRenderer.hpp"
#include "TestSupport.hpp"
#include "model/AppInfo.hpp"
#include "support/GPtr.hpp"
#include "ui/GtkDesktopServices.hpp"
#include "ui/MainWindow.hpp"
#include "ui/NorvoApplication.hpp"
#include "ui/SettingsWindow.hpp"
#include "ui/StyleEditor.hpp"

using namespace norvo;
using norvo::testing::FakeDesktopServices;
using norvo::testing::FakeRenderer;
using namespace std::chrono_literals;

namespace {

// One application for the whole suite: GTK allows a single registration per process.
class App : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        temp_ = std::make_unique<norvo::testing::TempFolder>();
        // The launch-time check finds nothing, at once.
        UpdateController::Source source;
        source.check = [](const std::string&) { return std::optional<UpdateInfo>(); };
        app_ = NorvoApplication::create({[] {
                                             auto r = std::make_unique<FakeRenderer>();
                                             renderer_ = r.get();
                                             return r;
                                         },
                                         [](NorvoApplication&) -> std::unique_ptr<DesktopServices> {
                                             auto s = std::make_unique<FakeDesktopServices>(temp_->path());
                                             services_ = s.get();
                                             return s;
                                         },
                                         source, AppInfo::version(), false, {}});
        app_->register_application();
        model_ = &app_->document();
        app_->activate();
        norvo::testing::runUntil([] { return app_->mainWindow() && app_->mainWindow()->get_mapped(); });
    }
    static void TearDownTestSuite() {
        app_->quit();
        app_.reset();
    }
    void SetUp() override {
        // Every test starts from the model's first values.
        model_->setMarkdown(CardDocument::kSampleMarkdown);
        model_->setThemeID("paper");
        model_->setFontID("sans");
        model_->setPresetID("square");
        model_->setWordmark(true);
        model_->setFontScale(1.0);
        model_->setPages(false);
        model_->setStatus("");
    }
    ControlsColumn& controls() { return app_->mainWindow()->controls(); }
    std::size_t requests() { return renderer_->requests->size(); }

    static inline std::unique_ptr<norvo::testing::TempFolder> temp_;
    static inline CardDocument* model_ = nullptr;
    static inline Glib::RefPtr<NorvoApplication> app_;
    static inline FakeRenderer* renderer_ = nullptr;
    static inline FakeDesktopServices* services_ = nullptr;
};

std::string menuText(const Glib::RefPtr<Gio::MenuModel>& items, int i, Gio::MenuModel::Attribute name) {
    const Glib::VariantBase v = items->get_item_attribute(i, name, Glib::VARIANT_TYPE_STRING);
    return v ? Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(v).get().raw() : std::string();
}

}  // namespace

TEST_F(App, WindowShowsTheCardAndAskedForTheFirstPreview) {
    ASSERT_TRUE(app_->mainWindow());
    EXPECT_EQ(app_->mainWindow()->get_title(), "Norvo");
    EXPECT_GE(requests(), 1u);  // the window's first appearance asked for a render
    EXPECT_EQ(controls().themePicker().value(), "paper");
    EXPECT_EQ(controls().fontPicker().value(), "sans");
    EXPECT_EQ(controls().sizePicker().value(), "square");
    EXPECT_TRUE(controls().wordmarkSwitch().get_active());
    EXPECT_EQ(controls().scaleSlider().get_value(), 1.0);
    EXPECT_EQ(controls().sizeLabel().get_text(), "1080 \u00d7 1080 px");
    EXPECT_FALSE(controls().statusLabel().get_visible());
    EXPECT_EQ(controls().editor().get_buffer()->get_text().raw(), CardDocument::kSampleMarkdown);
    EXPECT_TRUE(app_->mainWindow()->preview().showsSpinner());  // nothing rendered yet
    renderer_->complete(requests() - 1);
    EXPECT_FALSE(app_->mainWindow()->preview().showsSpinner());
}

TEST_F(App, ControlsWriteTheCardOnceAndFollowIt) {
    const std::size_t before = requests();
    controls().sizePicker().choose("landscape");
    EXPECT_EQ(model_->presetID(), "landscape");
    EXPECT_EQ(controls().sizeLabel().get_text(), "1200 \u00d7 630 px");
    EXPECT_EQ(requests(), before + 1);  // no write back from the refresh

    model_->setThemeID("sky");  // from code: the picker follows, and writes nothing
    EXPECT_EQ(controls().themePicker().value(), "sky");
    EXPECT_EQ(requests(), before + 2);

    model_->setPresetID("poster");
    EXPECT_EQ(controls().sizeLabel().get_text(), "1080 \u00d7 1080 px");
    EXPECT_EQ(controls().sizePicker().value(), "");

    controls().editor().get_buffer()->set_text("# Typed");
    EXPECT_EQ(model_->markdown(), "# Typed");
    controls().wordmarkSwitch().set_active(false);
    EXPECT_FALSE(model_->wordmark());

    controls().scaleSlider().set_value(1.234);
    EXPECT_DOUBLE_EQ(model_->fontScale(), 1.234);  // no rounding to a step
    controls().scaleSlider().set_value(3.0);
    EXPECT_DOUBLE_EQ(model_->fontScale(), 1.8);

    // The status line shows only with text.
    model_->setStatus("Saved \u2713 x.png");
    EXPECT_TRUE(controls().statusLabel().get_visible());
    EXPECT_EQ(controls().statusLabel().get_text(), "Saved \u2713 x.png");
    model_->setStatus("");
    EXPECT_FALSE(controls().statusLabel().get_visible());
}

TEST_F(App, MenuCommandsAndShortcutsReachTheActions) {
    model_->setMarkdown("# Menu");
    app_->activate_action("export");
    renderer_->complete(requests() - 1);
    EXPECT_EQ(services_->suggestedNames.back(), "menu-square.png");
    services_->answerSave(std::nullopt);

    app_->activate_action("copy-card");
    renderer_->complete(requests() - 1);
    EXPECT_EQ(model_->status(), "Copied \u2713 \u2014 paste it anywhere");

    g_signal_emit_by_name(controls().shareButton().gobj(), "clicked");
    renderer_->complete(requests() - 1);
    ASSERT_TRUE(norvo::testing::runUntil([] { return !services_->shared.empty(); }));  // written on a worker
    EXPECT_EQ(services_->shared.back().second.handle, static_cast<const void*>(&controls().shareButton()));

    // The primary menu holds every command with its shortcut (the update group comes and goes).
    auto menu = app_->applicationMenu();
    const std::vector<std::tuple<std::string, std::string, std::string>> expected = {
        {"New Note", "app.new-note", "<Control>n"},
        {"Open Note\u2026", "app.open-note", "<Control>o"},
        {"Save Note", "app.save-note", "<Control><Alt>s"},
        {"Save Note As\u2026", "app.save-note-as", "<Shift><Control>s"},
        {"Export PNG\u2026", "app.export", "<Control>s"},
        {"Export PDF\u2026", "app.export-pdf", "<Shift><Control>e"},
        {"Copy Card", "app.copy-card", "<Shift><Control>c"},
        {"Edit Styles\u2026", "app.edit-styles", ""},
        {"Settings\u2026", "app.preferences", "<Control>comma"},
        {"Keyboard Shortcuts", "app.shortcuts", "<Control>question"},
        {"About Norvo", "app.about", ""},
        {"Quit", "app.quit", "<Control>q"},
    };
    std::vector<std::tuple<std::string, std::string, std::string>> found;
    for (int section = 0; section < menu->get_n_items(); ++section) {
        auto items = menu->get_item_link(section, Gio::MenuModel::Link::SECTION);
        for (int i = 0; i < items->get_n_items(); ++i) {
            const std::string action = menuText(items, i, Gio::MenuModel::Attribute::ACTION);
            if (action == "app.check-updates" || action == "app.install-update") continue;
            const auto accels = app_->get_accels_for_action(action);
            found.emplace_back(menuText(items, i, Gio::MenuModel::Attribute::LABEL), action,
                               accels.empty() ? "" : accels.front().raw());
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(app_->mainWindow()->menuButton().get_menu_model(), menu);
    EXPECT_FALSE(app_->mainWindow()->get_show_menubar());

    app_->activate_action("preferences");
    SettingsWindow* settings = app_->settingsWindow();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->versionLabel().get_text().raw(), "Norvo " + AppInfo::version());
    EXPECT_EQ(app_->get_windows().size(), 2u);
    app_->activate_action("close-window");  // Ctrl+W: the window in front
    // Closing the main window now quits.
    EXPECT_TRUE(norvo::testing::runUntil([] { return app_->get_windows().size() == 1u; }));
}

TEST_F(App, NotesOpenByArgumentAndMenuAndTheTitleNamesTheFile) {
    const auto dir = temp_->path();
    norvo::testing::writeFile(dir / "launch.md", "# From the launcher");
    norvo::testing::writeFile(dir / "bad.md", "caf\xe9");
    app_->open(Gio::File::create_for_path((dir / "launch.md").string()));
    ASSERT_TRUE(norvo::testing::runUntil([&] { return model_->markdown() == "# From the launcher"; }));
    EXPECT_EQ(app_->mainWindow()->get_title(), "launch.md \u2014 Norvo");
    EXPECT_EQ(controls().editor().get_buffer()->get_text(), "# From the launcher");

    // The menu's dialog reaches the same opening (which files it refuses, and why, is
    // NoteFilesTest's).
    app_->activate_action("open-note");
    ASSERT_TRUE(services_->pendingOpen);
    services_->answerOpen(dir / "bad.md");
    EXPECT_TRUE(norvo::testing::runUntil(
        [&] { return model_->status() == "Couldn't open \u201cbad.md\u201d: it is not UTF-8 text"; }));
    EXPECT_EQ(model_->markdown(), "# From the launcher");

    // Quitting or closing the window over the opened note's edits asks first; Cancel stays.
    model_->setMarkdown("# From the launcher, edited");
    for (const bool byMenu : {true, false}) {
        const std::size_t asked = services_->alerts.size();
        if (byMenu) app_->activate_action("quit");
        else app_->mainWindow()->close();
        ASSERT_EQ(services_->alerts.size(), asked + 1) << byMenu;
        EXPECT_EQ(services_->alerts.back().message, "Save the changes to \u201claunch.md\u201d before quitting?");
        services_->answerAlert(2);
        EXPECT_TRUE(app_->mainWindow()->get_visible());
    }
    model_->setNoteFile({});
    EXPECT_EQ(app_->mainWindow()->get_title(), "Norvo");
}

TEST_F(App, SharePopoverOffersTheAltTextAndShowInFiles) {
    SharePopover popover;
    const auto file = temp_->path() / "card-square.png";
    norvo::testing::writeFile(file, "png");
    popover.showFor({file}, "Launch day\n\nWe did it.", controls().shareButton());
    const auto entries = popover.entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], "Copy Alt Text");
    EXPECT_EQ(entries.back(), "Show in Files");

    // Copy Alt Text puts the words on the clipboard, as another app reads them.
    popover.activateEntry("Copy Alt Text");
    std::optional<std::string> pasted;
    gdk_clipboard_read_text_async(
        popover.get_display()->get_clipboard()->gobj(), nullptr,
        +[](GObject* clipboard, GAsyncResult* result, gpointer data) {
            char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(clipboard), result, nullptr);
            *static_cast<std::optional<std::string>*>(data) = text ? text : "";
            g_free(text);
        },
        &pasted);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return pasted.has_value(); }));
    EXPECT_EQ(*pasted, "Launch day\n\nWe did it.");
    popover.popdown();
    popover.unparent();
}

TEST_F(App, UpdateItemsFollowTheUpdateState) {
    auto section = app_->updateSection();
    auto titles = [&] {
        std::vector<std::string> out;
        for (int i = 0; i < section->get_n_items(); ++i)
            out.push_back(menuText(section, i, Gio::MenuModel::Attribute::LABEL));
        return out;
    };
    auto enabled = [&](const char* action) { return app_->lookup_action(action)->get_enabled(); };

    EXPECT_EQ(titles(), std::vector<std::string>{"Check for Updates\u2026"});
    EXPECT_TRUE(enabled("check-updates"));

    app_->updates().setAvailableUpdate(UpdateInfo{"1.4", "https://h.example/N.zip", ""});
    EXPECT_EQ(titles(), (std::vector<std::string>{"Update to 1.4\u2026", "Check for Updates\u2026"}));
    EXPECT_TRUE(enabled("install-update"));

    app_->updates().setChecking(true);
    EXPECT_EQ(titles()[1], "Checking for Updates\u2026");
    EXPECT_FALSE(enabled("check-updates"));
    EXPECT_TRUE(enabled("install-update"));

    app_->updates().setUpdating(true);
    app_->updates().setChecking(false);
    EXPECT_EQ(titles()[0], "Installing update\u2026");
    EXPECT_FALSE(enabled("install-update"));
    EXPECT_FALSE(enabled("check-updates"));

    // Choosing the update item opens the prompt.
    app_->updates().setUpdating(false);
    app_->activate_action("install-update");
    ASSERT_FALSE(services_->alerts.empty());
    EXPECT_EQ(services_->alerts.back().message, "A new version of Norvo is available");
    services_->answerAlert(1);
    app_->updates().setAvailableUpdate(std::nullopt);
    EXPECT_EQ(titles(), std::vector<std::string>{"Check for Updates\u2026"});
}

namespace {
// The save dialog GTK shows for a FileChooserNative outside a sandbox (a C object, used
// through the C API).
GtkFileChooser* openSaveDialog() {
    GtkFileChooser* found = nullptr;
    norvo::testing::runUntil([&] {
        for (Gtk::Window* w : Gtk::Window::list_toplevels())
            if (GTK_IS_FILE_CHOOSER_DIALOG(w->gobj()) && w->get_visible()) found = GTK_FILE_CHOOSER(w->gobj());
        return found != nullptr;
    }, 5s);
    return found;
}
std::string currentName(GtkFileChooser* chooser) {
    char* name = gtk_file_chooser_get_current_name(chooser);
    std::string out = name ? name : "";
    g_free(name);
    return out;
}
}  // namespace

TEST_F(App, SaveDialogAddsTheExtensionAndAsksBeforeReplacing) {
    GtkDesktopServices services([] { return static_cast<Gtk::Window*>(app_->mainWindow()); });
    // The dialog starts in the working folder.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(temp_->path());
    std::optional<std::filesystem::path> chosen;
    bool answered = false;
    auto choose = [&](const char* typed) {
        answered = false;
        services.chooseSaveFile("card-square.png", [&](std::optional<std::filesystem::path> p) {
            chosen = std::move(p);
            answered = true;
        });
        GtkFileChooser* dialog = openSaveDialog();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(currentName(dialog), "card-square.png");
        gtk_file_chooser_set_current_name(dialog, typed);
        norvo::testing::runFor(500ms);  // the dialog loads the folder first
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    };

    choose("final");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return answered; }, 5s));
    EXPECT_EQ(chosen, temp_->path() / "final.png");

    // "taken" becomes taken.png, which exists: the dialog comes back with that name.
    norvo::testing::writeFile(temp_->path() / "taken.png", "old");
    choose("taken");
    GtkFileChooser* again = nullptr;
    ASSERT_TRUE(norvo::testing::runUntil([&] {
        again = openSaveDialog();
        return again && currentName(again) == "taken.png";
    }, 5s));
    EXPECT_FALSE(answered);
    gtk_dialog_response(GTK_DIALOG(again), GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return answered; }, 5s));
    EXPECT_EQ(chosen, std::nullopt);
    std::filesystem::current_path(cwd);
}

TEST_F(App, PagesSwitchAndPager) {
    PreviewPane& preview = app_->mainWindow()->preview();
    controls().pagesSwitch().set_active(true);
    EXPECT_TRUE(model_->pages());
    ASSERT_TRUE(renderer_->requests->back().pagesCompletion);
    renderer_->complete(requests() - 1, true, 5);
    EXPECT_TRUE(preview.pager().get_visible());
    EXPECT_EQ(preview.pageLabel().get_text(), "1 / 5");
    EXPECT_FALSE(preview.previousButton().get_sensitive());

    app_->activate_action("next-page");
    EXPECT_EQ(preview.pageLabel().get_text(), "2 / 5");
    EXPECT_EQ(model_->shownPage(), 1u);
    g_signal_emit_by_name(preview.nextButton().gobj(), "clicked");
    EXPECT_EQ(preview.pageLabel().get_text(), "3 / 5");
    app_->activate_action("previous-page");
    EXPECT_EQ(preview.pageLabel().get_text(), "2 / 5");

    // A card per heading is offered under the set, and asks for a set split at headings.
    ASSERT_TRUE(controls().splitSwitch().get_parent()->get_visible());
    controls().splitSwitch().set_active(true);
    EXPECT_TRUE(model_->settings().splitAtHeadings);
    EXPECT_TRUE(renderer_->requests->back().card.settings.splitAtHeadings);

    model_->setPages(false);  // the switch follows; a single card hides the pager
    EXPECT_FALSE(controls().pagesSwitch().get_active());
    EXPECT_FALSE(controls().splitSwitch().get_parent()->get_visible());
    renderer_->complete(requests() - 1);
    EXPECT_FALSE(preview.pager().get_visible());
}

TEST_F(App, APastedPictureIsKeptAndJoinsTheNoteOnItsOwnLine) {
    const auto store = temp_->path() / "pictures";
    model_->setPictureStore(store);
    auto& editor = controls().editor();
    editor.get_buffer()->set_text("Before");
    editor.get_buffer()->place_cursor(editor.get_buffer()->end());
    // Pixels on the clipboard, as a screenshot tool leaves them.
    norvo::GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 8, 4));
    gdk_pixbuf_fill(pixbuf.get(), 0x336699ff);
    norvo::GObjectPtr<GdkTexture> texture(gdk_texture_new_for_pixbuf(pixbuf.get()));
    gdk_clipboard_set_texture(editor.get_clipboard()->gobj(), texture.get());
    g_signal_emit_by_name(editor.gobj(), "paste-clipboard");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return model_->markdown() != "Before"; })) << model_->status();
    const std::string text = model_->markdown();
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(store), std::filesystem::directory_iterator()), 1);
    const auto kept = std::filesystem::directory_iterator(store)->path().filename().string();
    EXPECT_EQ(text, "Before\n![pasted](" + kept + ")");  // (the store among the card's folders: PictureStore's test)
    model_->setPictureStore({});
}

TEST_F(App, StylesAreChosenFromTheRowAndMadeInTheEditor) {
    auto& row = controls().styleDropDown();
    auto rows = [&] { return row.get_model()->get_n_items(); };
    // "Theme only", the bundled styles, the user's own, "Edit Styles…".
    const guint bundled = guint(StyleFiles::bundledNames().size());
    ASSERT_GE(bundled, 10u);
    ASSERT_EQ(rows(), bundled + 2);
    EXPECT_EQ(row.get_selected(), 0u);

    // "Edit Styles…" opens the editor and the row stays on the style worn.
    row.set_selected(bundled + 1);
    ASSERT_TRUE(norvo::testing::runUntil([&] { return app_->styleEditor() && app_->styleEditor()->get_visible(); }));
    EXPECT_EQ(row.get_selected(), 0u);
    StyleEditor& editor = *app_->styleEditor();

    // A new style is saved (on a worker), worn by the card and offered by the row.
    g_signal_emit_by_name(editor.newButton().gobj(), "clicked");
    ASSERT_TRUE(norvo::testing::runUntil([&] { return app_->styles().chosen() == "New Style"; }));
    ASSERT_EQ(StyleFiles::ownNames(), std::vector<std::string>{"New Style"});
    EXPECT_EQ(model_->style().accent, "#1a7f64");
    EXPECT_EQ(rows(), bundled + 3);
    EXPECT_EQ(row.get_selected(), bundled + 1);
    EXPECT_TRUE(editor.deleteButton().get_sensitive());

    // Edits are saved and worn, and so is a rename (the file's move is StyleLibrary's test); the
    // choice is remembered.
    editor.signatureNameEntry().set_text("Ada");
    EXPECT_TRUE(norvo::testing::runUntil([&] { return model_->style().signatureName == "Ada"; }));
    editor.nameEntry().set_text("Launch");
    g_signal_emit_by_name(editor.nameEntry().gobj(), "activate");
    EXPECT_TRUE(norvo::testing::runUntil([&] { return app_->styles().chosen() == "Launch"; }));
    EXPECT_EQ(model_->style().signatureName, "Ada");
    EXPECT_EQ(model_->request().settings.style.name, "Launch");
    StyleChoice later(*model_);
    later.restore();
    EXPECT_EQ(later.chosen(), "Launch");

    // A bundled style is worn from the row, but the editor offers only its duplicate.
    row.set_selected(1);
    EXPECT_EQ(model_->style().name, StyleFiles::bundledNames().front());
    EXPECT_FALSE(model_->style().empty());
    EXPECT_FALSE(editor.deleteButton().get_sensitive());
    EXPECT_FALSE(editor.nameEntry().is_sensitive());

    // "Theme only" takes it off; deleting a style leaves the theme.
    row.set_selected(0);
    EXPECT_TRUE(model_->style().empty());
    row.set_selected(bundled + 1);
    EXPECT_EQ(model_->style().name, "Launch");
    g_signal_emit_by_name(editor.deleteButton().gobj(), "clicked");
    EXPECT_TRUE(norvo::testing::runUntil([&] { return rows() == bundled + 2; }));
    EXPECT_TRUE(model_->style().empty());
    // The deleted style comes back, with what it was, and is worn again.
    ASSERT_TRUE(editor.undoDeleteButton().get_visible());
    g_signal_emit_by_name(editor.undoDeleteButton().gobj(), "clicked");
    EXPECT_TRUE(norvo::testing::runUntil([&] { return app_->styles().chosen() == "Launch"; }));
    EXPECT_EQ(model_->style().signatureName, "Ada");
    EXPECT_FALSE(editor.undoDeleteButton().get_visible());
    editor.close();
}

// Page Up and Page Down are no application-wide accelerators, so the editor keeps them while
// it has the focus. (What a screen reader reads of the windows is accessible_names.py's.)
TEST_F(App, PageKeysStayWithTheEditor) {
    EXPECT_TRUE(app_->get_accels_for_action("app.next-page").empty());
    EXPECT_TRUE(app_->get_accels_for_action("app.previous-page").empty());
}
