#include "ui/Accessibility.hpp"
#include "ui/ShareButton.hpp"

#include <glibmm/i18n.h>
#include <gtkmm/box.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>

namespace norvo {

ShareButton::ShareButton() {
    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("send-to-symbolic");
    setAccessibleLabel(*icon, _("Share"));
    content->append(*icon);
    content->append(*Gtk::make_managed<Gtk::Label>(_("Share\u2026")));
    set_child(*content);
    setAccessibleLabel(*this, _("Share\u2026"));
    set_halign(Gtk::Align::START);
    signal_clicked().connect([this] {
        if (onShare_) onShare_(this);
    });
}

}  // namespace norvo
