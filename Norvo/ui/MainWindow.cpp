#include "ui/MainWindow.hpp"

#include <glibmm/i18n.h>
#include <giomm/file.h>
#include <glibmm/convert.h>
#include <glibmm/miscutils.h>
#include <gtkmm/dragsource.h>
#include <gtkmm/shortcutcontroller.h>

#include "ui/Accessibility.hpp"

#include "engine/RenderEngine.hpp"
#include "norvo/AltText.hpp"
#include "norvo/Card.hpp"
#include "ui/CardTexture.hpp"

namespace norvo {

MainWindow::MainWindow(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles)
    : document_(document),
      actions_(actions),
      layout_(Gtk::Orientation::HORIZONTAL, 0),
      controls_(document, actions, noteFiles, styles),
      divider_(Gtk::Orientation::VERTICAL) {
    showNoteFile();
    document_.signalNoteFileChanged().connect(sigc::mem_fun(*this, &MainWindow::showNoteFile));
    set_default_size(980, 640);
    buildHeaderBar();
    turnPagesWhenNothingElseDoes();

    controls_.set_size_request(340, -1);
    controls_.set_hexpand(false);
    layout_.append(controls_);
    layout_.append(divider_);
    layout_.append(preview_);
    layout_.set_size_request(860, 560);
    set_child(layout_);

    document_.signalPreviewChanged().connect(sigc::mem_fun(*this, &MainWindow::refreshPreview));
    // The first preview is asked for when the window first appears.
    signal_map().connect([this] {
        if (rendered_) return;
        rendered_ = true;
        document_.rerender();
    });
    preview_.previousButton().signal_clicked().connect(sigc::mem_fun(*this, &MainWindow::showPreviousPage));
    preview_.nextButton().signal_clicked().connect(sigc::mem_fun(*this, &MainWindow::showNextPage));
    allowDraggingTheCard();
    refreshPreview();
}

// The GNOME way: the title, Open at the start, Export (the suggested action) and the primary
// menu at the end.
void MainWindow::buildHeaderBar() {
    openButton_.set_icon_name("document-open-symbolic");
    openButton_.set_tooltip_text(_("Open a note (Ctrl+O)"));
    setAccessibleLabel(openButton_, _("Open Note"));
    openButton_.set_action_name("app.open-note");
    header_.pack_start(openButton_);
    menuButton_.set_icon_name("open-menu-symbolic");
    menuButton_.set_tooltip_text(_("Main Menu"));
    setAccessibleLabel(menuButton_, _("Main Menu"));
    menuButton_.set_primary(true);
    header_.pack_end(menuButton_);
    exportButton_.set_label(_("Export"));
    exportButton_.add_css_class("suggested-action");
    exportButton_.set_tooltip_text(_("Save the card as a PNG file (Ctrl+S)"));
    exportButton_.set_action_name("app.export");
    header_.pack_end(exportButton_);
    set_titlebar(header_);
}

// Page Up and Page Down turn the cards of a set, but only once nothing focused took the key:
// in the editor they move the cursor, as in any text view.
void MainWindow::turnPagesWhenNothingElseDoes() {
    auto keys = Gtk::ShortcutController::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::BUBBLE);
    keys->add_shortcut(Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(GDK_KEY_Page_Up),
                                             Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                                                 showPreviousPage();
                                                 return true;
                                             })));
    keys->add_shortcut(Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(GDK_KEY_Page_Down),
                                             Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                                                 showNextPage();
                                                 return true;
                                             })));
    add_controller(keys);
}

void MainWindow::refreshPreview() {
    if (preview_.cardView().image() != document_.preview()) {
        preview_.setImage(document_.preview());
        // What a screen reader says of the picture: what the card says.
        setAccessibleDescription(preview_.cardView(), AltText::fromMarkdown(document_.markdown()));
    }
    preview_.showPage(document_.shownPage(), document_.previewPages().size());
}

// The title names the note's file, when it has one.
void MainWindow::showNoteFile() {
    const auto& file = document_.noteFile();
    set_title(file.empty() ? Glib::ustring("Norvo")
                           : Glib::ustring::compose("%1 \u2014 Norvo", Glib::filename_display_basename(file.string())));
}

void MainWindow::showPreviousPage() {
    if (document_.shownPage() > 0) document_.showPage(document_.shownPage() - 1);
}

void MainWindow::showNextPage() { document_.showPage(document_.shownPage() + 1); }

void MainWindow::allowDraggingTheCard() {
    // Drag the card out as a PNG file (named like an export) or as an image.
    auto source = Gtk::DragSource::create();
    source->set_actions(Gdk::DragAction::COPY);
    source->signal_prepare().connect(
        [this](double, double) -> Glib::RefPtr<Gdk::ContentProvider> {
            const CardImagePtr image = document_.preview();
            const auto path = image ? actions_.dragFile() : std::filesystem::path();
            if (path.empty()) return {};
            // A drop reads the file long after; the image itself travels in memory.
            auto file = Gio::File::create_for_path(path.string());
            Glib::Value<Glib::RefPtr<Gio::File>> fileValue;
            fileValue.init(fileValue.value_type());
            fileValue.set(file);
            auto texture = makeTexture(*image);
            Glib::Value<Glib::RefPtr<Gdk::Texture>> textureValue;
            textureValue.init(textureValue.value_type());
            textureValue.set(texture);
            return Gdk::ContentProvider::create(
                {Gdk::ContentProvider::create(fileValue), Gdk::ContentProvider::create(textureValue)});
        },
        false);
    preview_.cardView().add_controller(source);
}

}  // namespace norvo
