#pragma once
#include <gtk/gtk.h>
#include <gtkmm/widget.h>

namespace norvo {

// The name assistive technologies read for a widget. GTK 4.8 cannot read it back, so it is
// kept on the widget too, for the test that walks the window.
inline void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label.c_str(), -1);
    g_object_set_data_full(G_OBJECT(widget.gobj()), "norvo-accessible-label", g_strdup(label.c_str()), g_free);
}
inline const char* accessibleLabelOf(Gtk::Widget& widget) {
    return static_cast<const char*>(g_object_get_data(G_OBJECT(widget.gobj()), "norvo-accessible-label"));
}

}  // namespace norvo
