#include "ui/MainWindow.hpp"

#include <glibmm/i18n.h>

namespace norvo {

MainWindow::MainWindow(NorvoModel& model) : model_(model) {
    set_title("Norvo");
    set_default_size(980, 640);
    set_child(preview_);
    model_.signalChanged().connect(sigc::mem_fun(*this, &MainWindow::refresh));
    // The first preview is asked for when the window first appears.
    signal_map().connect([this] {
        if (rendered_) return;
        rendered_ = true;
        model_.rerender();
    });
    refresh();
}

void MainWindow::refresh() { preview_.setImage(model_.previewImage()); }

}  // namespace norvo
