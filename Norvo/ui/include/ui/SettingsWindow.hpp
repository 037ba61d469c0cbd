#pragma once
#include <gtkmm/box.h>
#include <gtkmm/frame.h>
#include <gtkmm/label.h>
#include <gtkmm/linkbutton.h>
#include <gtkmm/window.h>

#include <string>

namespace norvo {

// "About": the product and its version, the maker's site, feedback and the product page.
class SettingsWindow : public Gtk::Window {
public:
    explicit SettingsWindow(const std::string& version);
    Gtk::Label& versionLabel() { return version_; }
    Gtk::LinkButton& makerLink() { return maker_; }
    Gtk::LinkButton& feedbackLink() { return feedback_; }
    Gtk::LinkButton& websiteLink() { return website_; }

private:
    Gtk::Box page_, row_, identity_;
    Gtk::Label header_, version_;
    Gtk::Frame group_;
    Gtk::LinkButton maker_, feedback_, website_;
};

}  // namespace norvo
