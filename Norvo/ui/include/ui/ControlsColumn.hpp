#pragma once
#include <memory>
#include <gtkmm/dropdown.h>
#include <string>
#include <vector>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/scale.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/switch.h>
#include <gtkmm/textview.h>

#include "model/PictureStore.hpp"
#include "model/StyleChoice.hpp"
#include "support/MainThread.hpp"
#include "model/CardActions.hpp"
#include "model/NoteFiles.hpp"
#include "model/CardDocument.hpp"
#include "ui/OtherSizesButton.hpp"
#include "ui/SegmentedControl.hpp"
#include "ui/ShareButton.hpp"

namespace norvo {

// The left column: editor, pickers, slider, switch, buttons, size and status lines.
// Every control writes the card at once; each control follows its own setting of the card
// without writing back.
class ControlsColumn : public Gtk::Box {
public:
    ControlsColumn(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles);

    // Reached by tests and by drag and drop.
    Gtk::TextView& editor() { return editor_; }
    SegmentedControl& themePicker() { return theme_; }
    SegmentedControl& fontPicker() { return font_; }
    SegmentedControl& sizePicker() { return size_; }
    OtherSizesButton& otherSizes() { return otherSizes_; }
    Gtk::Scale& scaleSlider() { return scale_; }
    Gtk::Switch& wordmarkSwitch() { return switches_[0]->toggle; }
    Gtk::Switch& pagesSwitch() { return switches_[1]->toggle; }
    Gtk::Switch& splitSwitch() { return switches_[3]->toggle; }
    Gtk::Button& exportButton() { return export_; }
    Gtk::Button& copyButton() { return copy_; }
    ShareButton& shareButton() { return share_; }
    Gtk::Label& sizeLabel() { return sizeLabel_; }
    Gtk::Label& statusLabel() { return status_; }
    Gtk::DropDown& styleDropDown() { return style_; }

private:
    void buildEditor();
    void acceptDroppedFiles();
    void acceptPastedPictures();
    void pastePicture();
    // Puts a picture's Markdown on a line of its own at the cursor, or says why it cannot.
    void insertPicture(const KeptPicture& kept, const std::string& name);
    void followTheCard();
    void showMarkdown();
    void showScale();
    void addSwitches();
    void showSwitches();
    void showSize();
    void showStatus();
    void showStyles();

    CardDocument& document_;
    CardActions& actions_;
    NoteFiles& noteFiles_;
    StyleChoice& styles_;
    std::vector<std::string> styleNames_;  // of the drop-down's rows between "Theme only" and "Edit Styles…"
    Gtk::Box styleRow_;
    Gtk::Label styleLabel_;
    Gtk::DropDown style_;
    bool refreshing_ = false;
    Lifetime lifetime_;  // a paste that ends after the column does nothing
    Gtk::Label title_, tagline_, editorLabel_;
    Gtk::ScrolledWindow editorScroller_;
    Gtk::TextView editor_;
    SegmentedControl theme_, font_, size_;
    OtherSizesButton otherSizes_;
    Gtk::Box scaleRow_, buttonRow_;
    Gtk::Label scaleLabel_, smaller_, larger_;
    Gtk::Scale scale_;
    // The card's on/off settings, a row each, in the order of the table that makes them.
    struct SwitchRow {
        bool CardSettings::*setting;
        Gtk::Box row{Gtk::Orientation::HORIZONTAL, 12};
        Gtk::Label label;
        Gtk::Switch toggle;
    };
    std::vector<std::unique_ptr<SwitchRow>> switches_;
    Gtk::Button export_, copy_;
    ShareButton share_;
    Gtk::Label sizeLabel_, status_;
};

}  // namespace norvo
