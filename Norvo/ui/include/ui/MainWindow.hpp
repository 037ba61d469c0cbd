#pragma once
#include <gtkmm/applicationwindow.h>
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

private:
    void refreshPreview();
    void showNoteFile();
    void allowDraggingTheCard();

    CardDocument& document_;
    CardActions& actions_;
    Gtk::Box layout_;
    Gtk::ScrolledWindow column_;
    ControlsColumn controls_;
    Gtk::Separator divider_;
    PreviewPane preview_;
    bool rendered_ = false;
};

}  // namespace norvo
