#pragma once
#include <gtkmm/applicationwindow.h>
#include <gtkmm/box.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/separator.h>

#include "model/NorvoModel.hpp"
#include "ui/ControlsColumn.hpp"
#include "ui/PreviewPane.hpp"

namespace norvo {

// The main window: the controls column, a divider, and the live preview.
class MainWindow : public Gtk::ApplicationWindow {
public:
    explicit MainWindow(NorvoModel& model);
    PreviewPane& preview() { return preview_; }
    ControlsColumn& controls() { return controls_; }

private:
    void refreshPreview();
    void allowDraggingTheCard();

    NorvoModel& model_;
    Gtk::Box layout_;
    Gtk::ScrolledWindow column_;
    ControlsColumn controls_;
    Gtk::Separator divider_;
    PreviewPane preview_;
    bool rendered_ = false;
};

}  // namespace norvo
