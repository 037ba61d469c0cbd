#include <cstring>
#include <iostream>

#include <gtkmm/init.h>

#include "cli/RenderCommand.hpp"
#include "model/AppInfo.hpp"
#include "model/NorvoModel.hpp"
#include "ui/NorvoApplication.hpp"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "Norvo " << norvo::AppInfo::version() << "\n";
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "render") == 0) {
        Gtk::init_gtkmm_internals();
        return norvo::RenderCommand::run(argc - 1, argv + 1);
    }
    auto app = norvo::NorvoApplication::create(norvo::NorvoModel::shared());
    // Norvo takes no command-line options of its own beyond the ones above.
    return app->run(1, argv);
}
