#include "ui/GtkDesktopServices.hpp"

#include "ui/Accessibility.hpp"

#include <set>

#include <glibmm/i18n.h>
#include <glibmm/miscutils.h>
#include <giomm/appinfo.h>
#include <giomm/dbusconnection.h>
#include <giomm/file.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dialog.h>
#include <gtkmm/filefilter.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <glibmm/main.h>
#include <gtkmm/separator.h>

#include "BuildConfig.hpp"
#include "support/GPtr.hpp"
#include "ui/CardTexture.hpp"
#include "support/PrivateFolder.hpp"

namespace norvo {

namespace {

Gtk::Button* makeEntry(const Glib::ustring& title, const Glib::RefPtr<Gio::Icon>& icon, const char* iconName) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* image = Gtk::make_managed<Gtk::Image>();
    if (icon)
        image->set(icon);
    else
        image->set_from_icon_name(iconName);
    image->set_pixel_size(16);
    auto* label = Gtk::make_managed<Gtk::Label>(title);
    label->set_xalign(0);
    row->append(*image);
    row->append(*label);
    auto* button = Gtk::make_managed<Gtk::Button>();
    button->set_child(*row);
    button->add_css_class("flat");
    button->set_tooltip_text(title);
    return button;
}

}  // namespace

SharePopover::SharePopover() : list_(Gtk::Orientation::VERTICAL, 2) {
    list_.set_margin(6);
    set_child(list_);
    set_position(Gtk::PositionType::TOP);  // the actions sit at the window's foot
    set_has_arrow(true);
}

void SharePopover::showFor(const std::vector<std::filesystem::path>& files, const std::string& altText,
                           Gtk::Widget& anchor) {
    files_ = files;
    if (anchor_ != &anchor) {
        if (anchor_) unparent();
        set_parent(anchor);
        anchor_ = &anchor;
    }
    while (Gtk::Widget* child = list_.get_first_child()) list_.remove(*child);

    auto header = Gtk::make_managed<Gtk::Label>(_("Open With"));
    header->add_css_class("heading");
    header->set_xalign(0);
    header->set_margin_start(8);
    header->set_margin_bottom(4);
    list_.append(*header);
    // Apps for images get every card; apps for PDF documents get the PDF of a set.
    std::vector<Glib::RefPtr<Gio::File>> images, documents;
    for (const auto& f : files_)
        (f.extension() == ".pdf" ? documents : images).push_back(Gio::File::create_for_path(f.string()));
    std::set<std::string> listed;
    auto offer = [&](const char* type, const std::vector<Glib::RefPtr<Gio::File>>& these, bool pdf) {
        if (these.empty()) return;
        for (const auto& app : Gio::AppInfo::get_all_for_type(type)) {
            if (!app || !app->should_show() || app->get_id() == std::string(NORVO_APP_ID) + ".desktop") continue;
            if (!listed.insert(app->get_id() + type).second) continue;
            const Glib::ustring name =
                pdf ? Glib::ustring::compose(_("%1 (PDF)"), app->get_display_name()) : Glib::ustring(app->get_display_name());
            Gtk::Button* entry = makeEntry(name, app->get_icon(), "application-x-executable-symbolic");
            entry->signal_clicked().connect([this, app, these] {
                popdown();
                try {
                    app->launch(these, get_display()->get_app_launch_context());
                } catch (const Glib::Error& e) {
                    // The application failed to start; the files are still there to open by hand.
                    g_warning("could not open the cards with %s: %s", app->get_id().c_str(), e.what());
                }
            });
            list_.append(*entry);
        }
    };
    offer("image/png", images, false);
    offer("application/pdf", documents, true);
    list_.append(*Gtk::make_managed<Gtk::Separator>());
    // What the card says, for the post's image description.
    Gtk::Button* copyAlt = makeEntry(_("Copy Alt Text"), {}, "edit-copy-symbolic");
    copyAlt->set_sensitive(!altText.empty());
    copyAlt->signal_clicked().connect([this, altText] {
        popdown();
        get_display()->get_clipboard()->set_text(altText);
    });
    list_.append(*copyAlt);
    Gtk::Button* show = makeEntry(_("Show in Files"), {}, "folder-open-symbolic");
    show->signal_clicked().connect([this] {
        popdown();
        showInFiles();
    });
    list_.append(*show);
    popup();
}

std::vector<std::string> SharePopover::entries() const {
    std::vector<std::string> out;
    for (const Gtk::Widget* w = list_.get_first_child(); w; w = w->get_next_sibling()) {
        const auto* button = dynamic_cast<const Gtk::Button*>(w);
        if (button) out.push_back(button->get_tooltip_text());
    }
    return out;
}

void SharePopover::activateEntry(const std::string& title) {
    for (Gtk::Widget* w = list_.get_first_child(); w; w = w->get_next_sibling()) {
        auto* button = dynamic_cast<Gtk::Button*>(w);
        if (button && button->get_tooltip_text().raw() == title) g_signal_emit_by_name(button->gobj(), "clicked");
    }
}

void SharePopover::showInFiles() {
    if (files_.empty()) return;
    const auto file = Gio::File::create_for_path(files_.front().string());
    auto openFolder = [file] {
        try {
            Gio::AppInfo::launch_default_for_uri(file->get_parent()->get_uri());
        } catch (const Glib::Error&) {
        }
    };
    try {
        auto bus = Gio::DBus::Connection::get_sync(Gio::DBus::BusType::SESSION);
        auto args = Glib::VariantContainerBase::create_tuple(
            {Glib::Variant<std::vector<Glib::ustring>>::create({file->get_uri()}),
             Glib::Variant<Glib::ustring>::create("")});
        bus->call(
            "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1", "ShowItems", args,
            [bus, openFolder](Glib::RefPtr<Gio::AsyncResult>& result) {
                try {
                    bus->call_finish(result);
                } catch (const Glib::Error&) {
                    openFolder();  // no file manager answers on the bus
                }
            },
            "org.freedesktop.FileManager1");
    } catch (const Glib::Error&) {
        openFolder();
    }
}

GtkDesktopServices::GtkDesktopServices(std::function<Gtk::Window*()> mainWindow) : mainWindow_(std::move(mainWindow)) {}

GtkDesktopServices::~GtkDesktopServices() {
    if (popover_ && popover_->get_parent()) popover_->unparent();
}

void GtkDesktopServices::bringToFront() {
    if (Gtk::Window* w = mainWindow_()) w->present();
}

void GtkDesktopServices::chooseSaveFile(const std::string& suggestedName, SaveChoice done) {
    openChooser(suggestedName, {}, false, [done = std::move(done)](std::optional<CardFile> chosen) {
        done(chosen ? std::optional(chosen->path) : std::nullopt);
    });
}

void GtkDesktopServices::chooseCardFile(const std::string& suggestedName, CardFileChoice done) {
    openChooser(suggestedName, {}, true, std::move(done));
}

namespace {
Glib::RefPtr<Gtk::FileFilter> markdownFilter() {
    auto filter = Gtk::FileFilter::create();
    filter->set_name(_("Markdown note"));
    filter->add_mime_type("text/markdown");
    filter->add_suffix("md");
    filter->add_suffix("markdown");
    return filter;
}
}  // namespace

void GtkDesktopServices::chooseFileToOpen(OpenChoice done) {
    Gtk::Window* parent = mainWindow_();
    chooser_ = Gtk::FileChooserNative::create(_("Open Note"), *parent, Gtk::FileChooser::Action::OPEN, _("_Open"),
                                              _("_Cancel"));
    chooser_->add_filter(markdownFilter());
    auto text = Gtk::FileFilter::create();
    text->set_name(_("Text file"));
    text->add_mime_type("text/plain");
    chooser_->add_filter(text);
    chooser_->set_modal(true);
    chooser_->signal_response().connect([this, done = std::move(done)](int response) {
        auto chooser = chooser_;  // keep it alive through this handler
        chooser_.reset();
        const auto file = chooser->get_file();
        if (response != Gtk::ResponseType::ACCEPT || !file || file->get_path().empty()) return done(std::nullopt);
        done(std::filesystem::path(file->get_path()));
    });
    chooser_->show();
}

void GtkDesktopServices::openChooser(const std::string& name, const Glib::RefPtr<Gio::File>& folder, bool offerDensity,
                                     std::function<void(std::optional<CardFile>)> done) {
    Gtk::Window* parent = mainWindow_();
    // The suggested name says what is saved: a PNG card, a PDF of a set of cards, or the note.
    const std::string extension = std::filesystem::path(name).extension().string();
    const bool pdf = extension == ".pdf", note = extension == ".md";
    chooser_ = Gtk::FileChooserNative::create(note ? _("Save Note As") : pdf ? _("Export PDF") : _("Export PNG"), *parent,
                                              Gtk::FileChooser::Action::SAVE, note ? _("_Save") : _("_Export"),
                                              _("_Cancel"));
    // A card may be saved as PNG, JPEG or WebP: the file type chosen in the dialog sets the
    // extension of a name that still has the suggested ".png".
    std::vector<std::pair<Glib::RefPtr<Gtk::FileFilter>, std::string>> types;
    auto addType = [&](const Glib::ustring& label, const char* mime, std::initializer_list<const char*> suffixes) {
        auto filter = Gtk::FileFilter::create();
        filter->set_name(label);
        filter->add_mime_type(mime);
        for (const char* s : suffixes) filter->add_suffix(s);
        chooser_->add_filter(filter);
        types.emplace_back(filter, std::string(".") + *suffixes.begin());
    };
    if (note) {
        chooser_->add_filter(markdownFilter());
    } else if (pdf) {
        addType(_("PDF document"), "application/pdf", {"pdf"});
    } else {
        addType(_("PNG image"), "image/png", {"png"});
        addType(_("JPEG image"), "image/jpeg", {"jpg", "jpeg"});
        addType(_("WebP image"), "image/webp", {"webp"});
    }
    // Twice the width and height, for documents and chat on dense screens.
    if (offerDensity) chooser_->add_choice("density", _("Size"), {"1", "2"}, {_("1x"), _("2x")});
    if (offerDensity) chooser_->set_choice("density", "1");
    chooser_->set_modal(true);
    if (folder) chooser_->set_current_folder(folder);
    chooser_->set_current_name(name);
    chooser_->signal_response().connect([this, done = std::move(done), extension, types, offerDensity](int response) {
        auto chooser = chooser_;  // keep it alive through this handler
        chooser_.reset();
        const auto file = chooser->get_file();
        if (response != Gtk::ResponseType::ACCEPT || !file || file->get_path().empty()) {
            done(std::nullopt);
            return;
        }
        std::filesystem::path path = file->get_path();
        std::string wanted = extension.empty() ? std::string(".png") : extension;
        for (const auto& [filter, suffix] : types)
            if (filter == chooser->get_filter()) wanted = suffix;
        if (path.extension() == ".png" && wanted != ".png") {
            path.replace_extension(wanted);
            if (std::filesystem::exists(path)) {
                openChooser(path.filename().string(), file->get_parent(), offerDensity, done);
                return;
            }
        }
        if (!path.has_extension()) {
            path += wanted;
            // The dialog only confirmed replacing the name as typed; ask again for this one.
            if (std::filesystem::exists(path)) {
                openChooser(path.filename().string(), file->get_parent(), offerDensity, done);
                return;
            }
        }
        done(CardFile{path, offerDensity && chooser->get_choice("density") == "2" ? 2 : 1});
    });
    chooser_->show();
}

// Apps that take images get the card; apps that take text get what it says.
void GtkDesktopServices::copyCard(const CardImagePtr& image, const std::string& altText) {
    const Glib::RefPtr<Gdk::Texture> texture = makeTexture(*image);
    GdkContentProvider* parts[] = {gdk_content_provider_new_typed(GDK_TYPE_TEXTURE, texture->gobj()),
                                   gdk_content_provider_new_typed(G_TYPE_STRING, altText.c_str())};
    GObjectPtr<GdkContentProvider> both = adoptGObject(gdk_content_provider_new_union(parts, 2));
    gdk_clipboard_set_content(Gdk::Display::get_default()->get_clipboard()->gobj(), both.get());
}


void GtkDesktopServices::showSharePicker(const std::vector<std::filesystem::path>& files, const std::string& altText,
                                         Anchor anchor) {
    // The UI hands over the widget the picker belongs to; nothing else makes anchors.
    auto* widget = static_cast<Gtk::Widget*>(const_cast<void*>(anchor.handle));
    if (!widget || files.empty()) return;
    if (!popover_) popover_ = std::make_unique<SharePopover>();
    popover_->showFor(files, altText, *widget);
}

std::filesystem::path GtkDesktopServices::temporaryFolder() {
    // Files handed to other applications: a fresh folder only this user can read.
    std::error_code error;
    auto folder = PrivateFolder::make("share", error);
    if (error) g_warning("cannot make a private folder to share from: %s", error.message().c_str());
    return folder;
}

void GtkDesktopServices::showAlert(const Alert& alert, AlertAnswer answered) {
    Gtk::Window* parent = mainWindow_();
    auto dialog = std::make_unique<Gtk::MessageDialog>(alert.message, false, Gtk::MessageType::INFO,
                                                       Gtk::ButtonsType::NONE, true);
    if (parent) dialog->set_transient_for(*parent);
    dialog->set_secondary_text(alert.informative);
    dialog->set_hide_on_close(true);
    setAccessibleLabel(*dialog, alert.message);
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        Gtk::Button* button = dialog->add_button(alert.buttons[i], int(i));
        // GTK 4.8 names a dialog's button twice over, by its label and by its text: once will do.
        gtk_accessible_reset_property(GTK_ACCESSIBLE(button->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL);
        if (i == 0 && alert.buttons.size() > 1) button->add_css_class("suggested-action");
    }
    dialog->set_default_response(0);
    Gtk::MessageDialog* raw = dialog.get();
    raw->signal_response().connect([this, raw, answered = std::move(answered)](int response) {
        raw->hide();
        const AlertAnswer answer = answered;
        // Dropped once the handler has returned; GTK is still inside the dialog now.
        Glib::signal_idle().connect_once(lifetime_.guard([this, raw] {
            std::erase_if(alerts_, [raw](const auto& w) { return w.get() == raw; });
        }));
        answer(response >= 0 ? std::size_t(response) : std::size_t(-1));
    });
    raw->present();
    alerts_.push_back(std::move(dialog));
}

}  // namespace norvo
