#pragma once
#include <functional>
#include <memory>

#include <giomm/menu.h>
#include <giomm/settings.h>
#include <gtkmm/aboutdialog.h>
#include <gtkmm/application.h>

#include "model/NorvoModel.hpp"

namespace norvo {

class MainWindow;
class SettingsWindow;

class NorvoApplication : public Gtk::Application {
public:
    using ServicesFactory = std::function<std::unique_ptr<DesktopServices>(NorvoApplication&)>;

    // The running app: GTK desktop services. Tests pass their own services.
    static Glib::RefPtr<NorvoApplication> create(NorvoModel& model, ServicesFactory services = {});
    ~NorvoApplication() override;

    MainWindow* mainWindow() const { return window_.get(); }
    SettingsWindow* settingsWindow() const { return settings_.get(); }
    DesktopServices* services() const { return services_.get(); }
    Glib::RefPtr<Gio::Menu> applicationMenu() const { return appMenu_; }
    Glib::RefPtr<Gio::Menu> updateSection() const { return updateSection_; }

protected:
    NorvoApplication(NorvoModel& model, ServicesFactory services);
    void on_startup() override;
    void on_activate() override;

private:
    void installActions();
    void buildMenus();
    void followDesktopStyle();
    void showAbout();
    void showSettings();
    void refreshUpdateMenu();

    NorvoModel& model_;
    ServicesFactory servicesFactory_;
    std::unique_ptr<DesktopServices> services_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<Gtk::AboutDialog> about_;
    Glib::RefPtr<Gio::Menu> appMenu_, updateSection_;
    Glib::RefPtr<Gio::Settings> desktopInterface_;
    bool launched_ = false;
    std::string shownUpdateMenu_;  // what the update items last showed
};

}  // namespace norvo
