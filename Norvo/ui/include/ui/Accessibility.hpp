#pragma once
#include <glibmm/extraclassinit.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/widget.h>

namespace norvo {

// The name assistive technologies read for a widget made in code; a layout file names its
// widgets in their <accessibility> elements.
inline void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label.c_str(), -1);
}

inline void setAccessibleDescription(Gtk::Widget& widget, const Glib::ustring& description) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   description.c_str(), -1);
}

// The buttons GTK builds inside a widget (a drop-down's or a colour or font button's own
// button) are read by the widget's name; without it they are read by their class name.
inline void nameInnerButtonsAfter(Gtk::Widget& owner, Gtk::Widget& inside) {
    for (Gtk::Widget* child = inside.get_first_child(); child; child = child->get_next_sibling()) {
        if (dynamic_cast<Gtk::Button*>(child))
            gtk_accessible_update_relation(GTK_ACCESSIBLE(child->gobj()), GTK_ACCESSIBLE_RELATION_LABELLED_BY,
                                           owner.gobj(), nullptr, -1);
        nameInnerButtonsAfter(owner, *child);
    }
}
inline void nameInnerButtonsAfter(Gtk::Widget& owner) { nameInnerButtonsAfter(owner, owner); }

// A label whose text comes and goes is shown only while it has some: an empty label is read
// by its class name.
inline void setShownText(Gtk::Label& label, const Glib::ustring& text) {
    label.set_text(text);
    label.set_visible(!text.empty());
}

// Gives a widget class of ours its accessible role: GTK takes a widget's role from its class
// as the widget is made. List it before the gtkmm base, after Glib::ObjectBase("TypeName").
class AccessibleRoleInit : public Glib::ExtraClassInit {
protected:
    explicit AccessibleRoleInit(GtkAccessibleRole role) : Glib::ExtraClassInit(&init, GINT_TO_POINTER(int(role))) {}

private:
    static void init(void* klass, void* role) {
        gtk_widget_class_set_accessible_role(GTK_WIDGET_CLASS(klass), GtkAccessibleRole(GPOINTER_TO_INT(role)));
    }
};

}  // namespace norvo
