#include "ui/NorvoApplication.hpp"

#include <cstdlib>

#include <gtkmm/cssprovider.h>
#include <gtkmm/settings.h>

#include "norvo/SelfTestConfig.hpp"
#include "ui/MainWindow.hpp"

namespace norvo {

namespace {
constexpr const char* kAppCss = R"(
.preview-pane { background-color: mix(@theme_bg_color, @theme_fg_color, 0.10); }
)";
}  // namespace

Glib::RefPtr<NorvoApplication> NorvoApplication::create(NorvoModel& model) {
    return Glib::make_refptr_for_instance<NorvoApplication>(new NorvoApplication(model));
}

// Several Norvo processes may run side by side (a self-test beside the app, batch renders).
NorvoApplication::NorvoApplication(NorvoModel& model)
    : Gtk::Application("com.tazu.Norvo", Gio::Application::Flags::NON_UNIQUE), model_(model) {}

NorvoApplication::~NorvoApplication() = default;

void NorvoApplication::on_startup() {
    Gtk::Application::on_startup();
    auto css = Gtk::CssProvider::create();
    css->load_from_data(kAppCss);
    Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), css,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    model_.setQuitHandler([this] { quit(); });
}

void NorvoApplication::on_activate() {
    if (!window_) {
        window_ = std::make_unique<MainWindow>(model_);
        add_window(*window_);
    }
    window_->present();
    if (launched_) return;
    launched_ = true;
    model_.start();
    if (SelfTestConfig::requested(std::getenv("NORVO_SELFTEST"))) model_.runSelfTest();
}

}  // namespace norvo
