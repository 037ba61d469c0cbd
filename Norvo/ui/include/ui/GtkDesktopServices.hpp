#pragma once
#include <functional>
#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/popover.h>
#include <gtkmm/window.h>

#include "model/DesktopServices.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// Lists the applications that open the shared cards (PNG images, and the PDF of a set),
// plus "Show in Files".
class SharePopover : public Gtk::Popover {
public:
    SharePopover();
    void showFor(const std::vector<std::filesystem::path>& files, const std::string& altText, Gtk::Widget& anchor);
    // The entries as shown, for tests: application names, then "Copy Alt Text" and "Show in Files".
    std::vector<std::string> entries() const;
    // Clicks the entry with this title (tests).
    void activateEntry(const std::string& title);

private:
    void showInFiles();
    Gtk::Box list_;
    std::vector<std::filesystem::path> files_;
    Gtk::Widget* anchor_ = nullptr;
};

// The desktop services of the running app: GTK's save dialog, clipboard and a share popover.
class GtkDesktopServices final : public DesktopServices {
public:
    explicit GtkDesktopServices(std::function<Gtk::Window*()> mainWindow);
    ~GtkDesktopServices() override;
    void bringToFront() override;
    void chooseFileToOpen(OpenChoice done) override;
    void chooseSaveFile(const std::string& suggestedName, SaveChoice done) override;
    void chooseCardFile(const std::string& suggestedName, CardFileChoice done) override;
    void copyCard(const CardImagePtr& image, const std::string& altText) override;
    // The anchor is the widget the picker opens at.
    void showSharePicker(const std::vector<std::filesystem::path>& files, const std::string& altText,
                         Anchor anchor) override;
    std::filesystem::path temporaryFolder() override;
    void showAlert(const Alert& alert, AlertAnswer answered) override;
    SharePopover* sharePopover() { return popover_.get(); }

private:
    // The save dialog; `offerDensity` adds the density choice (a card's export).
    void openChooser(const std::string& name, const Glib::RefPtr<Gio::File>& folder, bool offerDensity,
                     std::function<void(std::optional<CardFile>)> done);

    std::function<Gtk::Window*()> mainWindow_;
    Glib::RefPtr<Gtk::FileChooserNative> chooser_;
    std::unique_ptr<SharePopover> popover_;
    std::vector<std::unique_ptr<Gtk::Window>> alerts_;
    Lifetime lifetime_;
};

}  // namespace norvo
