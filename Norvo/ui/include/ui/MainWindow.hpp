#pragma once
#include <gtkmm/applicationwindow.h>
#include <gtkmm/button.h>
#include <gtkmm/headerbar.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/box.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/separator.h>

#include "model/CardActions.hpp"
#include "model/CardDocument.hpp"
#include "support/MainThread.hpp"
#include "ui/ControlsColumn.hpp"
#include "ui/PreviewPane.hpp"

namespace norvo {

// The main window: the controls column, a divider, and the live preview.
class MainWindow : public Gtk::ApplicationWindow {
public:
    MainWindow(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles);
    PreviewPane& preview() { return preview_; }
    ControlsColumn& controls() { return controls_; }
    // Between the cards of a set (Page Up and Page Down).
    void showPreviousPage();
    void showNextPage();
    // The header bar's primary menu.
    void setPrimaryMenu(const Glib::RefPtr<Gio::MenuModel>& menu) { menuButton_.set_menu_model(menu); }
    Gtk::HeaderBar& headerBar() { return header_; }
    Gtk::MenuButton& menuButton() { return menuButton_; }

private:
    void refreshPreview();
    void showNoteFile();
    void allowDraggingTheCard();
    void buildHeaderBar();
    void turnPagesWhenNothingElseDoes();

    CardDocument& document_;
    CardActions& actions_;
    Gtk::HeaderBar header_;
    Gtk::Button openButton_, exportButton_;
    Gtk::MenuButton menuButton_;
    Gtk::Box layout_;
    ControlsColumn controls_;
    Gtk::Separator divider_;
    PreviewPane preview_;
    bool rendered_ = false;
};

}  // namespace norvo
