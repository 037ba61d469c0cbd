#include "ui/SettingsWindow.hpp"

#include <glibmm/i18n.h>

#include "model/AppInfo.hpp"
#include "model/Drafts.hpp"

namespace norvo {

SettingsWindow::SettingsWindow(const std::string& version)
    : page_(Gtk::Orientation::VERTICAL, 8),
      row_(Gtk::Orientation::HORIZONTAL, 6),
      identity_(Gtk::Orientation::VERTICAL, 2),
      generalRow_(Gtk::Orientation::HORIZONTAL, 12),
      generalHeader_(_("General")),
      reopenLabel_(_("Reopen the last note")),
      header_(_("About")),
      version_("Norvo " + version),
      maker_(AppInfo::makerURL(), _("Made by Tazu")),
      feedback_(AppInfo::feedbackURL(), _("Send feedback")),
      website_(AppInfo::websiteURL(), _("Website")) {
    set_title(_("Norvo Settings"));
    set_resizable(false);
    set_hide_on_close(true);

    header_.add_css_class("heading");
    header_.set_xalign(0);
    version_.set_xalign(0);
    maker_.add_css_class("caption");
    maker_.add_css_class("maker-link");
    maker_.set_halign(Gtk::Align::START);
    maker_.set_tooltip_text(AppInfo::makerURL());
    identity_.append(version_);
    identity_.append(maker_);
    identity_.set_valign(Gtk::Align::CENTER);
    identity_.set_hexpand(true);

    row_.set_margin(12);
    row_.append(identity_);
    for (Gtk::LinkButton* link : {&feedback_, &website_}) {
        link->set_valign(Gtk::Align::CENTER);
        link->set_tooltip_text(link->get_uri());
        row_.append(*link);
    }
    group_.set_child(row_);

    // Off (the default), a launch starts with a fresh note; a note left by a crash or an
    // update comes back either way.
    generalHeader_.add_css_class("heading");
    generalHeader_.set_xalign(0);
    reopenLabel_.set_xalign(0);
    reopenLabel_.set_hexpand(true);
    reopenLabel_.set_mnemonic_widget(reopen_);
    reopen_.set_active(Drafts::reopenLastNote());
    reopen_.set_valign(Gtk::Align::CENTER);
    reopen_.property_active().signal_changed().connect([this] { Drafts::setReopenLastNote(reopen_.get_active()); });
    generalRow_.set_margin(12);
    generalRow_.append(reopenLabel_);
    generalRow_.append(reopen_);
    generalGroup_.set_child(generalRow_);

    page_.set_margin(20);
    page_.append(generalHeader_);
    page_.append(generalGroup_);
    page_.append(header_);
    page_.append(group_);
    page_.set_size_request(460 - 40, -1);
    set_child(page_);
    set_default_size(460, -1);
}

}  // namespace norvo
