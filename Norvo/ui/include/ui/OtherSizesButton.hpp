#pragma once
#include <functional>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/popover.h>
#include <gtkmm/spinbutton.h>

namespace norvo {

// "Other Sizes": beside the four sizes of the Size row, 3:4, a long picture and any width and
// height, in a popover. `chosen` hears the size's id ("tall", "long", "1200x900").
// Made from a menu button of a layout, which gives it its title; the popover is its own.
// Main thread only.
class OtherSizesButton : public Gtk::MenuButton {
public:
    OtherSizesButton(BaseObjectType* button, const Glib::RefPtr<Gtk::Builder>& ui,
                     std::function<void(const std::string&)> chosen);
    // Shows `id` (the size worn) as the button's own: marked when it is one of its sizes.
    void show(const std::string& id, std::int64_t width, std::int64_t height);

    Gtk::SpinButton& widthEntry() { return width_; }
    Gtk::SpinButton& heightEntry() { return height_; }
    Gtk::Button& useButton() { return use_; }

private:
    void choose(const std::string& id);

    std::function<void(const std::string&)> chosen_;
    Gtk::Popover popover_;
    Gtk::Box box_, customRow_;
    Gtk::Button tall_, long_, use_;
    Gtk::Label customLabel_, times_;
    Gtk::SpinButton width_, height_;
};

}  // namespace norvo
