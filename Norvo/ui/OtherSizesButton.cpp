#include "ui/OtherSizesButton.hpp"

#include <glibmm/i18n.h>
#include <gtkmm/adjustment.h>

#include "ui/Accessibility.hpp"
#include "norvo/Presets.hpp"

namespace norvo {

namespace {
Glib::RefPtr<Gtk::Adjustment> sideRange(double value) {
    return Gtk::Adjustment::create(value, double(Presets::kMinSide), double(Presets::kMaxSide), 10, 100, 0);
}
}  // namespace

OtherSizesButton::OtherSizesButton(BaseObjectType* button, const Glib::RefPtr<Gtk::Builder>&,
                                   std::function<void(const std::string&)> chosen)
    : Gtk::MenuButton(button),
      chosen_(std::move(chosen)),
      box_(Gtk::Orientation::VERTICAL, 6),
      customRow_(Gtk::Orientation::HORIZONTAL, 6),
      tall_(_("3:4 \u2014 1080 \u00d7 1440")),
      long_(_("Long Picture \u2014 1080 wide")),
      use_(_("Use")),
      customLabel_(_("Custom size")),
      times_("\u00d7"),
      width_(sideRange(1200)),
      height_(sideRange(900)) {
    for (Gtk::Button* b : {&tall_, &long_}) {
        b->add_css_class("flat");
        b->set_halign(Gtk::Align::FILL);
        box_.append(*b);
    }
    tall_.signal_clicked().connect([this] { choose("tall"); });
    long_.signal_clicked().connect([this] { choose("long"); });
    customLabel_.set_xalign(0);
    customLabel_.add_css_class("dim-label");
    box_.append(customLabel_);
    setAccessibleLabel(width_, _("Width in pixels"));
    setAccessibleLabel(height_, _("Height in pixels"));
    customRow_.append(width_);
    customRow_.append(times_);
    customRow_.append(height_);
    customRow_.append(use_);
    box_.append(customRow_);
    use_.add_css_class("suggested-action");
    use_.signal_clicked().connect([this] {
        const std::string id = std::to_string(width_.get_value_as_int()) + "x" + std::to_string(height_.get_value_as_int());
        // Each side is within its range already; the aspect is checked where sizes are read.
        if (Presets::parse(id)) choose(id);
        else customLabel_.set_text(_("At most 4:1 either way"));
    });
    box_.set_margin(6);
    popover_.set_child(box_);
    set_popover(popover_);
}

void OtherSizesButton::choose(const std::string& id) {
    customLabel_.set_text(_("Custom size"));
    popover_.popdown();
    chosen_(id);
}

void OtherSizesButton::show(const std::string& id, std::int64_t width, std::int64_t height) {
    const bool mine = !id.empty() && id != "square" && id != "portrait" && id != "landscape" && id != "story";
    if (mine) add_css_class("suggested-action");
    else remove_css_class("suggested-action");
    if (id.find('x') != std::string::npos && id.find("long") == std::string::npos) {
        width_.set_value(double(width));
        height_.set_value(double(height));
    }
}

}  // namespace norvo
