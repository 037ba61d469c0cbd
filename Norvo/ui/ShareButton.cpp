#include "ui/ShareButton.hpp"

namespace norvo {

ShareButton::ShareButton(BaseObjectType* button, const Glib::RefPtr<Gtk::Builder>&) : Gtk::Button(button) {
    signal_clicked().connect([this] {
        if (onShare_) onShare_(this);
    });
}

}  // namespace norvo
