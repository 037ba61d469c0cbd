#pragma once
#include <gtkmm/box.h>
#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/colorbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/fontbutton.h>
#include <gtkmm/grid.h>
#include <gtkmm/label.h>
#include <gtkmm/listbox.h>
#include <gtkmm/picture.h>
#include <gtkmm/spinbutton.h>
#include <gtkmm/window.h>

#include <functional>
#include <string>

#include "model/CardDocument.hpp"
#include "model/StyleChoice.hpp"
#include "model/StyleLibrary.hpp"

namespace norvo {

// Styles: the saved styles on the left (new, duplicate, delete); the one selected is worn by
// the card and edited on the right (name, accent, background, fonts, signature), each change
// saved at once, with the card's preview beside it. Its layout is StyleEditor.ui of the
// resource bundle. Main thread.
class StyleEditor : public Gtk::Window {
public:
    StyleEditor(StyleChoice& choice, StyleLibrary& library, CardDocument& document);
    ~StyleEditor() override;

    Gtk::ListBox& list() { return list_; }
    Gtk::Entry& nameEntry() { return name_; }
    Gtk::CheckButton& accentCheck() { return useAccent_; }
    Gtk::ColorButton& accentButton() { return accent_; }
    Gtk::Entry& signatureNameEntry() { return signatureName_; }
    Gtk::Button& newButton() { return new_; }
    Gtk::Button& deleteButton() { return delete_; }
    Gtk::Button& undoDeleteButton() { return undoDelete_; }

private:
    StyleEditor(StyleChoice& choice, StyleLibrary& library, CardDocument& document,
                const Glib::RefPtr<Gtk::Builder>& ui);
    void connectList();
    void connectForm();
    void connectPictures();
    void fillList();
    void select(const std::string& name);
    void showStyle(const CardStyle& style);
    void saveEdits();
    void rename();
    void chooseFile(const std::string& title, std::function<void(std::string)> then);

    StyleChoice& choice_;
    StyleLibrary& library_;
    CardDocument& document_;
    CardStyle editing_;
    bool showing_ = false;
    // The widgets of StyleEditor.ui that are read, changed or listened to.
    Gtk::Box &form_, &photoRow_;
    Gtk::ListBox& list_;
    Gtk::Button &new_, &duplicate_, &delete_, &undoDelete_, &photo_, &avatar_, &noAvatar_;
    Gtk::Grid& grid_;
    Gtk::Entry &name_, &signatureName_, &signatureHandle_;
    Gtk::CheckButton& useAccent_;
    Gtk::ColorButton &accent_, &background1_, &background2_;
    Gtk::DropDown& backgroundKind_;
    Gtk::SpinButton& angle_;
    Gtk::Label &photoName_, &avatarName_, &problem_, &bundledNote_;
    Gtk::FontButton &bodyFont_, &headingFont_, &codeFont_;
    Gtk::CheckButton &useBody_, &useHeading_, &useCode_;
    Gtk::Picture& preview_;
    Glib::RefPtr<Gtk::FileChooserNative> chooser_;
};

}  // namespace norvo
