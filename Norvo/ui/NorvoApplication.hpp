#pragma once
#include <memory>

#include <gtkmm/application.h>

#include "model/NorvoModel.hpp"

namespace norvo {

class MainWindow;

class NorvoApplication : public Gtk::Application {
public:
    static Glib::RefPtr<NorvoApplication> create(NorvoModel& model);
    ~NorvoApplication() override;
    MainWindow* mainWindow() const { return window_.get(); }

protected:
    explicit NorvoApplication(NorvoModel& model);
    void on_startup() override;
    void on_activate() override;

private:
    NorvoModel& model_;
    std::unique_ptr<MainWindow> window_;
    bool launched_ = false;
};

}  // namespace norvo
