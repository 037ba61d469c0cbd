#pragma once
#include <string>
#include <vector>
#include <gtkmm/box.h>
#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/scale.h>
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

// The left column: editor, pickers, slider, switches, buttons, size and status lines, laid
// out by ControlsColumn.ui of the resource bundle.
// Every control writes the card at once; each control follows its own setting of the card
// without writing back.
class ControlsColumn : public Gtk::Box {
public:
    ControlsColumn(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles);
    ~ControlsColumn() override;

    // Reached by tests and by drag and drop.
    Gtk::TextView& editor() { return editor_; }
    SegmentedControl& themePicker() { return theme_; }
    SegmentedControl& fontPicker() { return font_; }
    SegmentedControl& sizePicker() { return size_; }
    OtherSizesButton& otherSizes() { return otherSizes_; }
    Gtk::Scale& scaleSlider() { return scale_; }
    Gtk::Switch& wordmarkSwitch() { return switchFor(&CardSettings::wordmark); }
    Gtk::Switch& pagesSwitch() { return switchFor(&CardSettings::pages); }
    Gtk::Switch& splitSwitch() { return switchFor(&CardSettings::splitAtHeadings); }
    Gtk::Button& exportButton() { return export_; }
    Gtk::Button& copyButton() { return copy_; }
    ShareButton& shareButton() { return share_; }
    Gtk::Label& sizeLabel() { return sizeLabel_; }
    Gtk::Label& statusLabel() { return status_; }
    Gtk::DropDown& styleDropDown() { return style_; }

private:
    ControlsColumn(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles,
                   const Glib::RefPtr<Gtk::Builder>& ui);
    void connectControls();
    void bindSwitches(const Glib::RefPtr<Gtk::Builder>& ui);
    Gtk::Switch& switchFor(bool CardSettings::*setting);
    void acceptDroppedFiles();
    void acceptPastedPictures();
    void pastePicture();
    // Puts a picture's Markdown on a line of its own at the cursor, or says why it cannot.
    void insertPicture(const KeptPicture& kept, const std::string& name);
    void chooseStyle();
    void followTheCard();
    void showMarkdown();
    void showScale();
    void showSwitches();
    void showSize();
    void showStatus();
    void showStyles();

    CardDocument& document_;
    CardActions& actions_;
    NoteFiles& noteFiles_;
    StyleChoice& styles_;
    std::vector<std::string> styleNames_;  // of the drop-down's rows between "Theme only" and "Edit Styles…"
    bool refreshing_ = false;
    Lifetime lifetime_;  // a paste that ends after the column does nothing
    // The widgets of ControlsColumn.ui that are read, changed or listened to.
    Gtk::TextView& editor_;
    SegmentedControl &theme_, &font_, &size_;
    OtherSizesButton& otherSizes_;
    Gtk::Scale& scale_;
    Gtk::DropDown& style_;
    Gtk::Button &export_, &copy_;
    ShareButton& share_;
    Gtk::Label &sizeLabel_, &status_;
    // The card's on/off settings, each with its switch.
    struct SwitchBinding {
        bool CardSettings::*setting;
        Gtk::Switch* toggle;
    };
    std::vector<SwitchBinding> switches_;
};

}  // namespace norvo
