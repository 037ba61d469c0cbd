#pragma once
#include <memory>
#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/builder.h>
#include <gtkmm/togglebutton.h>

namespace norvo {

// A row of linked toggle buttons of which one is chosen: GNOME's segmented control. Made
// from a box of a layout, which places it and gives it its accessible name.
class SegmentedControl : public Gtk::Box {
public:
    struct Option {
        std::string label;
        std::string value;
    };

    SegmentedControl(BaseObjectType* box, const Glib::RefPtr<Gtk::Builder>& ui, const std::vector<Option>& options);

    // Shows `value` as chosen (none when no option has it) without emitting signalChosen.
    void setValue(const std::string& value);
    std::string value() const;
    // Emitted when the user picks an option.
    sigc::signal<void(const std::string&)>& signalChosen() { return chosen_; }
    // Picks an option as a click would.
    void choose(const std::string& value);
    Gtk::ToggleButton* button(const std::string& value);

private:
    std::vector<Option> options_;
    std::vector<std::unique_ptr<Gtk::ToggleButton>> buttons_;
    sigc::signal<void(const std::string&)> chosen_;
    bool settingFromModel_ = false;
};

}  // namespace norvo
