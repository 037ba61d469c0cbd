#pragma once
#include <gtkmm/box.h>
#include <gtkmm/frame.h>
#include <gtkmm/label.h>
#include <gtkmm/linkbutton.h>
#include <gtkmm/switch.h>
#include <gtkmm/window.h>

#include <string>

namespace norvo {

// "General": whether the last note opens again at launch. "About": the product and its
// version, the maker's site, feedback and the product page.
class SettingsWindow : public Gtk::Window {
public:
    explicit SettingsWindow(const std::string& version);
    Gtk::Label& versionLabel() { return version_; }
    Gtk::LinkButton& makerLink() { return maker_; }
    Gtk::LinkButton& feedbackLink() { return feedback_; }
    Gtk::LinkButton& websiteLink() { return website_; }
    Gtk::Switch& reopenSwitch() { return reopen_; }

private:
    Gtk::Box page_, row_, identity_, generalRow_;
    Gtk::Label generalHeader_, reopenLabel_, header_, version_;
    Gtk::Frame generalGroup_, group_;
    Gtk::Switch reopen_;
    Gtk::LinkButton maker_, feedback_, website_;
};

}  // namespace norvo
