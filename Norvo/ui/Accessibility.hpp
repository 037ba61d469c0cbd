#pragma once
#include <gtk/gtk.h>
#include <gtkmm/widget.h>

namespace norvo {

// The name assistive technologies read for a widget made in code; a layout file names its
// widgets in their <accessibility> elements.
inline void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label.c_str(), -1);
}

}  // namespace norvo
