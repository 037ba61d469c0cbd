#include "ui/ControlsColumn.hpp"

#include <glibmm/i18n.h>
#include <glibmm/ustring.h>
#include <gtkmm/droptarget.h>
#include <gtkmm/stringlist.h>
#include <algorithm>
#include <utility>
#include <gdkmm/clipboard.h>
#include <gdkmm/contentformats.h>
#include <gdkmm/texture.h>
#include <giomm/file.h>

#include "norvo/Catalogue.hpp"
#include "norvo/Presets.hpp"
#include "model/PictureStore.hpp"
#include "support/GPtr.hpp"
#include "support/MainThread.hpp"
#include "ui/Accessibility.hpp"
#include "ui/UiFile.hpp"

namespace norvo {

namespace {

std::vector<SegmentedControl::Option> presetOptions() {
    std::vector<SegmentedControl::Option> out;
    for (const Preset& p : Presets::all()) out.push_back({_(p.name.c_str()), p.id});
    return out;
}

std::vector<SegmentedControl::Option> themeOptions() {
    std::vector<SegmentedControl::Option> out;
    for (const Theme& t : Themes::all()) out.push_back({_(t.label.c_str()), t.id});
    return out;
}

std::vector<SegmentedControl::Option> fontOptions() {
    std::vector<SegmentedControl::Option> out;
    for (const Font& f : Fonts::all()) out.push_back({_(f.label.c_str()), f.id});
    return out;
}

}  // namespace

ControlsColumn::ControlsColumn(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles)
    : ControlsColumn(document, actions, noteFiles, styles, UiFile::load("ControlsColumn.ui")) {}

ControlsColumn::ControlsColumn(CardDocument& document, CardActions& actions, NoteFiles& noteFiles, StyleChoice& styles,
                               const Glib::RefPtr<Gtk::Builder>& ui)
    : Gtk::Box(Gtk::Orientation::VERTICAL),
      document_(document),
      actions_(actions),
      noteFiles_(noteFiles),
      styles_(styles),
      editor_(UiFile::widget<Gtk::TextView>(ui, "editor")),
      theme_(UiFile::derived<SegmentedControl>(ui, "theme_picker", themeOptions())),
      font_(UiFile::derived<SegmentedControl>(ui, "font_picker", fontOptions())),
      size_(UiFile::derived<SegmentedControl>(ui, "size_picker", presetOptions())),
      otherSizes_(UiFile::derived<OtherSizesButton>(ui, "other_sizes",
                                                    [this](const std::string& id) { document_.setPresetID(id); })),
      scale_(UiFile::widget<Gtk::Scale>(ui, "scale")),
      style_(UiFile::widget<Gtk::DropDown>(ui, "style")),
      export_(UiFile::widget<Gtk::Button>(ui, "export")),
      copy_(UiFile::widget<Gtk::Button>(ui, "copy")),
      share_(UiFile::derived<ShareButton>(ui, "share")),
      sizeLabel_(UiFile::widget<Gtk::Label>(ui, "size_label")),
      status_(UiFile::widget<Gtk::Label>(ui, "status")) {
    append(UiFile::widget<Gtk::Box>(ui, "column"));
    nameInnerButtonsAfter(style_);
    bindSwitches(ui);
    connectControls();
    acceptDroppedFiles();
    acceptPastedPictures();
    styles_.signalStylesChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showStyles));
    document_.signalStyleChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showStyles));
    showStyles();
    followTheCard();
}

// The column goes while it is still whole, and follows nothing: a control that changes as it
// is taken down writes nothing to the card.
ControlsColumn::~ControlsColumn() {
    refreshing_ = true;
    if (Gtk::Widget* child = gobj() ? get_first_child() : nullptr) remove(*child);
}

void ControlsColumn::connectControls() {
    editor_.get_buffer()->signal_changed().connect([this] {
        if (!refreshing_) document_.setMarkdown(editor_.get_buffer()->get_text());
    });
    theme_.signalChosen().connect([this](const std::string& v) { document_.setThemeID(v); });
    font_.signalChosen().connect([this](const std::string& v) { document_.setFontID(v); });
    size_.signalChosen().connect([this](const std::string& v) { document_.setPresetID(v); });
    scale_.signal_value_changed().connect([this] {
        if (!refreshing_) document_.setFontScale(scale_.get_value());
    });
    style_.property_selected().signal_changed().connect(sigc::mem_fun(*this, &ControlsColumn::chooseStyle));
    export_.signal_clicked().connect([this] { actions_.exportPNG(); });
    copy_.signal_clicked().connect([this] { actions_.copyPNG(); });
    share_.setOnShare([this](Gtk::Widget* anchor) { actions_.sharePNG(DesktopServices::Anchor{anchor}); });
}

void ControlsColumn::bindSwitches(const Glib::RefPtr<Gtk::Builder>& ui) {
    // The card's on/off settings, each bound to the switch "<key>_switch" of ControlsColumn.ui
    // where it has one: a row there is all a new one needs.
    for (const CardSettingRow& row : cardSettingRows()) {
        if (!row.toggle) continue;
        auto* toggle = ui->get_widget<Gtk::Switch>(std::string(row.key) + "_switch");
        if (!toggle) continue;
        toggle->property_active().signal_changed().connect([this, toggle, setting = row.toggle] {
            if (!refreshing_) document_.setSwitch(setting, toggle->get_active());
        });
        switches_.push_back({row.toggle, toggle});
    }
}

Gtk::Switch& ControlsColumn::switchFor(bool CardSettings::*setting) {
    for (const SwitchBinding& binding : switches_)
        if (binding.setting == setting) return *binding.toggle;
    UiFile::missing("the switch of a setting");
}

// The user's own styles over the theme, and the way to make them.
void ControlsColumn::chooseStyle() {
    if (refreshing_) return;
    const guint selected = style_.get_selected();
    if (selected == GTK_INVALID_LIST_POSITION) return;
    if (selected == styleNames_.size() + 1) {  // "Edit Styles…": the row goes back to the style worn
        showStyles();
        activate_action("app.edit-styles");
        return;
    }
    const std::string name = selected == 0 ? std::string() : styleNames_[selected - 1];
    if (name != styles_.chosen()) styles_.choose(name);
}

void ControlsColumn::followTheCard() {
    // Each control follows its own setting: typing does not refresh the rest of the column.
    document_.signalMarkdownChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showMarkdown));
    document_.signalThemeChanged().connect([this] { theme_.setValue(document_.themeID()); });
    document_.signalFontChanged().connect([this] { font_.setValue(document_.fontID()); });
    document_.signalPresetChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showSize));
    document_.signalScaleChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showScale));
    document_.signalSettingsChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showSwitches));
    document_.signalStatusChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showStatus));
    showMarkdown();
    theme_.setValue(document_.themeID());
    font_.setValue(document_.fontID());
    showSize();
    showScale();
    showSwitches();
    showStatus();
}

void ControlsColumn::acceptDroppedFiles() {
    // A Markdown file dropped on the editor replaces the note.
    // It is read like a note opened from the menu; a refusal says why in the status line.
    auto target = Gtk::DropTarget::create(G_TYPE_FILE, Gdk::DragAction::COPY);
    target->signal_drop().connect(
        [this](const Glib::ValueBase& value, double, double) {
            GFile* file = static_cast<GFile*>(g_value_get_object(value.gobj()));
            if (!file) return false;
            GCharPtr path(g_file_get_path(file));
            if (!path) {
                document_.setStatus(_("Only a file on this computer can be opened"));
                return false;
            }
            // A picture joins the note where the cursor is; anything else is opened as a note.
            if (PictureStore::looksLikePicture(path.get())) {
                PictureStore store(document_.pictureStore());
                insertPicture(store.keepFile(path.get(), document_), std::filesystem::path(path.get()).filename().string());
                return true;
            }
            noteFiles_.open(path.get());
            return true;
        },
        false);
    editor_.add_controller(target);
}

void ControlsColumn::acceptPastedPictures() {
    // Pixels on the clipboard (a screenshot, a copied image) are kept as a picture of the note;
    // text is pasted as ever.
    g_signal_connect(editor_.gobj(), "paste-clipboard", G_CALLBACK(+[](GtkTextView*, gpointer self) {
                         static_cast<ControlsColumn*>(self)->pastePicture();
                     }), this);
}

void ControlsColumn::pastePicture() {
    auto clipboard = editor_.get_clipboard();
    auto formats = clipboard->get_formats();
    if (!formats || !formats->contain_gtype(GDK_TYPE_TEXTURE) || formats->contain_mime_type("text/plain") ||
        formats->contain_mime_type("text/plain;charset=utf-8"))
        return;
    g_signal_stop_emission_by_name(editor_.gobj(), "paste-clipboard");
    clipboard->read_texture_async(lifetime_.guard([this, clipboard](Glib::RefPtr<Gio::AsyncResult>& result) {
        Glib::RefPtr<Gdk::Texture> texture;
        try {
            texture = clipboard->read_texture_finish(result);
        } catch (const Glib::Error&) {
        }
        if (!texture) {
            document_.setStatus(_("Couldn't paste the picture"));
            return;
        }
        GBytesPtr png(gdk_texture_save_to_png_bytes(texture->gobj()));
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(png.get(), &size));
        PictureStore store(document_.pictureStore());
        insertPicture(store.keepPng(std::string(data, size)), _("the pasted picture"));
    }));
}

void ControlsColumn::insertPicture(const KeptPicture& kept, const std::string& name) {
    if (!kept.problem.empty()) {
        document_.setStatus(Glib::ustring::compose(_("Couldn't add \u201c%1\u201d: %2"), name, kept.problem));
        return;
    }
    auto buffer = editor_.get_buffer();
    auto at = buffer->get_iter_at_mark(buffer->get_insert());
    std::string text = kept.markdown;
    if (!at.starts_line()) text = "\n" + text;
    if (!at.ends_line()) text += "\n";
    buffer->insert_at_cursor(text);
}

void ControlsColumn::showMarkdown() {
    auto buffer = editor_.get_buffer();
    if (buffer->get_text().raw() == document_.markdown()) return;  // typed here: already shown
    refreshing_ = true;
    // As one step Ctrl+Z takes back (set_text would clear the editor's undo history): a note
    // opened or reloaded over what was typed can be undone.
    buffer->begin_user_action();
    buffer->erase(buffer->begin(), buffer->end());
    buffer->insert(buffer->begin(), document_.markdown());
    buffer->end_user_action();
    refreshing_ = false;
}

void ControlsColumn::showScale() {
    refreshing_ = true;
    if (scale_.get_value() != document_.fontScale()) scale_.set_value(document_.fontScale());
    refreshing_ = false;
}

void ControlsColumn::showSwitches() {
    refreshing_ = true;
    for (const SwitchBinding& binding : switches_) {
        const bool on = document_.settings().*(binding.setting);
        if (binding.toggle->get_active() != on) binding.toggle->set_active(on);
    }
    refreshing_ = false;
}

void ControlsColumn::showSize() {
    size_.setValue(document_.presetID());
    const Preset preset = document_.preset();
    otherSizes_.show(preset.id, preset.width, preset.height);
    if (preset.grows) {
        sizeLabel_.set_text(Glib::ustring::sprintf(_("%lld px wide, as tall as the note"),
                                                   static_cast<long long>(preset.width)));
        return;
    }
    sizeLabel_.set_text(Glib::ustring::sprintf(_("%lld \u00d7 %lld px"), static_cast<long long>(preset.width),
                                               static_cast<long long>(preset.height)));
}

void ControlsColumn::showStyles() {
    // The list is rebuilt only when the saved styles changed: a new model is a new selection.
    const bool wasRefreshing = refreshing_;
    refreshing_ = true;
    const auto names = StyleChoice::names();
    if (names != styleNames_ || !style_.get_model()) {
        styleNames_ = names;
        std::vector<Glib::ustring> rows{_("Theme only")};
        for (const std::string& name : styleNames_) rows.push_back(name);
        rows.push_back(_("Edit Styles\u2026"));
        style_.set_model(Gtk::StringList::create(rows));
    }
    const auto chosen = std::find(styleNames_.begin(), styleNames_.end(), styles_.chosen());
    const guint row = chosen == styleNames_.end() ? 0 : guint(chosen - styleNames_.begin()) + 1;
    if (style_.get_selected() != row) style_.set_selected(row);
    refreshing_ = wasRefreshing;
}

void ControlsColumn::showStatus() {
    status_.set_text(document_.status());
    status_.set_visible(!document_.status().empty());
}

}  // namespace norvo
