#pragma once
#include <gtkmm/applicationwindow.h>

#include "model/NorvoModel.hpp"
#include "ui/PreviewPane.hpp"

namespace norvo {

// The main window: the live card preview.
class MainWindow : public Gtk::ApplicationWindow {
public:
    explicit MainWindow(NorvoModel& model);
    PreviewPane& preview() { return preview_; }

private:
    void refresh();

    NorvoModel& model_;
    PreviewPane preview_;
    bool rendered_ = false;
};

}  // namespace norvo
