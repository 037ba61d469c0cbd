#include "ui/UiFile.hpp"

#include <cstdio>
#include <cstdlib>

#include "support/ResourceBundle.hpp"

namespace norvo::UiFile {

Glib::RefPtr<Gtk::Builder> load(const std::string& name) {
    const std::string file = (ResourceBundle::path() / "ui" / name).string();
    try {
        return Gtk::Builder::create_from_file(file);
    } catch (const Glib::Error& e) {
        std::fprintf(stderr, "could not load the layout %s: %s\n", file.c_str(), e.what());
        std::abort();
    }
}

void missing(const std::string& id) {
    std::fprintf(stderr, "the layout has no widget \"%s\" of the kind asked for\n", id.c_str());
    std::abort();
}

}  // namespace norvo::UiFile
