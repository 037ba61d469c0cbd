#include "ui/SegmentedControl.hpp"

#include "ui/Accessibility.hpp"

namespace norvo {

namespace {

// One choice of the control, read as a radio button of its group, checked or not.
class SegmentButton : public AccessibleRoleInit, public Gtk::ToggleButton {
public:
    explicit SegmentButton(const Glib::ustring& label)
        : Glib::ObjectBase("NorvoSegmentButton"), AccessibleRoleInit(GTK_ACCESSIBLE_ROLE_RADIO), Gtk::ToggleButton(label) {
        signal_toggled().connect(sigc::mem_fun(*this, &SegmentButton::sayChecked));
        sayChecked();
    }

private:
    void sayChecked() {
        gtk_accessible_update_state(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_STATE_CHECKED,
                                    get_active() ? GTK_ACCESSIBLE_TRISTATE_TRUE : GTK_ACCESSIBLE_TRISTATE_FALSE, -1);
    }
};

}  // namespace

SegmentedControl::SegmentedControl(BaseObjectType* box, const Glib::RefPtr<Gtk::Builder>&,
                                   const std::vector<Option>& options)
    : Gtk::Box(box), options_(options) {
    add_css_class("linked");
    add_css_class("segmented");
    for (std::size_t i = 0; i < options_.size(); ++i) {
        std::unique_ptr<Gtk::ToggleButton> button = std::make_unique<SegmentButton>(options_[i].label);
        button->set_hexpand(true);
        if (i > 0) button->set_group(*buttons_.front());
        button->signal_toggled().connect([this, i] {
            if (settingFromModel_ || !buttons_[i]->get_active()) return;
            chosen_.emit(options_[i].value);
        });
        append(*button);
        buttons_.push_back(std::move(button));
    }
}

void SegmentedControl::setValue(const std::string& current) {
    settingFromModel_ = true;
    bool any = false;
    for (std::size_t i = 0; i < options_.size(); ++i) {
        const bool on = options_[i].value == current;
        any = any || on;
        if (on) buttons_[i]->set_active(true);
    }
    // A grouped toggle cannot be switched off by itself; clear them one by one.
    if (!any)
        for (auto& b : buttons_) b->set_active(false);
    settingFromModel_ = false;
}

std::string SegmentedControl::value() const {
    for (std::size_t i = 0; i < options_.size(); ++i)
        if (buttons_[i]->get_active()) return options_[i].value;
    return {};
}

void SegmentedControl::choose(const std::string& v) {
    if (Gtk::ToggleButton* b = button(v)) b->set_active(true);
}

Gtk::ToggleButton* SegmentedControl::button(const std::string& v) {
    for (std::size_t i = 0; i < options_.size(); ++i)
        if (options_[i].value == v) return buttons_[i].get();
    return nullptr;
}

}  // namespace norvo
