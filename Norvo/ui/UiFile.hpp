#pragma once
#include <string>
#include <utility>

#include <gtkmm/builder.h>

namespace norvo::UiFile {

// The layout `name` (a GtkBuilder file in the resource bundle's ui/ folder), its texts in the
// user's language. A layout that is missing or broken stops the process, saying which: the
// installation is damaged, and no window could be made.
Glib::RefPtr<Gtk::Builder> load(const std::string& name);

[[noreturn]] void missing(const std::string& id);

// The widget `id` of a loaded layout, as the C++ class that wraps its kind; `Derived` wraps
// it in a class of Norvo's own, made with `ui` and `args`. An id the layout lacks stops the
// process, naming the id.
template <class W>
W& widget(const Glib::RefPtr<Gtk::Builder>& ui, const char* id) {
    W* found = ui->get_widget<W>(id);
    if (!found) missing(id);
    return *found;
}
template <class Derived, class... Args>
Derived& derived(const Glib::RefPtr<Gtk::Builder>& ui, const char* id, Args&&... args) {
    Derived* found = Gtk::Builder::get_widget_derived<Derived>(ui, id, std::forward<Args>(args)...);
    if (!found) missing(id);
    return *found;
}

}  // namespace norvo::UiFile
