#include "ui/Accessibility.hpp"
#include "ui/ControlsColumn.hpp"

#include <glibmm/i18n.h>
#include <glibmm/ustring.h>
#include <gtkmm/droptarget.h>
#include <gtkmm/stringlist.h>
#include <algorithm>
#include <gdkmm/clipboard.h>
#include <gdkmm/contentformats.h>
#include <gdkmm/texture.h>
#include <giomm/file.h>

#include "norvo/Catalogue.hpp"
#include "norvo/Presets.hpp"
#include "model/PictureStore.hpp"
#include "support/GPtr.hpp"
#include "support/MainThread.hpp"

namespace norvo {

namespace {

std::vector<SegmentedControl::Option> presetOptions() {
    std::vector<SegmentedControl::Option> out;
    for (const Preset& p : Presets::all()) out.push_back({p.name, p.id});  // names shown verbatim
    return out;
}

void styleCaption(Gtk::Label& l) {
    l.add_css_class("caption");
    l.add_css_class("dim-label");
    l.set_xalign(0);
    l.set_wrap(true);
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
    : Gtk::Box(Gtk::Orientation::VERTICAL, 14),
      document_(document),
      actions_(actions),
      noteFiles_(noteFiles),
      styles_(styles),
      styleRow_(Gtk::Orientation::HORIZONTAL, 12),
      styleLabel_(_("Style")),
      title_("Norvo"),
      tagline_(_("Markdown in, a picture out.")),
      editorLabel_(_("Your card")),
      theme_(_("Theme"), themeOptions()),
      font_(_("Font"), fontOptions()),
      size_(_("Size"), presetOptions()),
      otherSizes_([this](const std::string& id) { document_.setPresetID(id); }),
      scaleRow_(Gtk::Orientation::HORIZONTAL, 8),
      buttonRow_(Gtk::Orientation::HORIZONTAL, 8),
      scaleLabel_(_("Text")),
      smaller_("A"),
      larger_("A"),
      scale_(Gtk::Adjustment::create(1.0, 0.7, 1.8, 0.01, 0.1, 0.0)),
      export_(_("Export PNG\u2026")),
      copy_(_("Copy")) {
    set_margin(18);

    title_.add_css_class("title-2");
    title_.set_xalign(0);
    tagline_.add_css_class("dim-label");
    tagline_.set_xalign(0);
    editorLabel_.add_css_class("heading");
    editorLabel_.set_xalign(0);
    append(title_);
    append(tagline_);
    append(editorLabel_);
    buildEditor();

    for (SegmentedControl* picker : {&theme_, &font_, &size_}) append(*picker);
    otherSizes_.set_halign(Gtk::Align::END);
    append(otherSizes_);
    theme_.signalChosen().connect([this](const std::string& v) { document_.setThemeID(v); });
    font_.signalChosen().connect([this](const std::string& v) { document_.setFontID(v); });
    size_.signalChosen().connect([this](const std::string& v) { document_.setPresetID(v); });

    scaleLabel_.add_css_class("scale-caption");
    smaller_.add_css_class("dim-label");
    smaller_.add_css_class("size-smaller");
    larger_.add_css_class("dim-label");
    larger_.add_css_class("size-larger");
    scale_.set_draw_value(false);
    scale_.set_hexpand(true);
    setAccessibleLabel(scale_, _("Text size"));
    scale_.signal_value_changed().connect([this] {
        if (!refreshing_) document_.setFontScale(scale_.get_value());
    });
    scaleRow_.append(scaleLabel_);
    scaleRow_.append(smaller_);
    scaleRow_.append(scale_);
    scaleRow_.append(larger_);
    append(scaleRow_);

    addSwitches();

    // The user's own styles over the theme, and the way to make them.
    styleLabel_.set_hexpand(true);
    styleLabel_.set_xalign(0);
    setAccessibleLabel(style_, _("Style"));
    style_.property_selected().signal_changed().connect([this] {
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
    });
    styleRow_.append(styleLabel_);
    styleRow_.append(style_);
    append(styleRow_);
    styles_.signalStylesChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showStyles));
    document_.signalStyleChanged().connect(sigc::mem_fun(*this, &ControlsColumn::showStyles));
    showStyles();

    export_.add_css_class("suggested-action");
    export_.set_tooltip_text(_("Save the card as a PNG file (Ctrl+S)"));
    export_.signal_clicked().connect([this] { actions_.exportPNG(); });
    copy_.set_tooltip_text(_("Copy the card as an image (Shift+Ctrl+C)"));
    copy_.signal_clicked().connect([this] { actions_.copyPNG(); });
    share_.setOnShare([this](Gtk::Widget* anchor) { actions_.sharePNG(DesktopServices::Anchor{anchor}); });
    buttonRow_.append(export_);
    buttonRow_.append(copy_);
    buttonRow_.append(share_);
    append(buttonRow_);

    styleCaption(sizeLabel_);
    styleCaption(status_);
    status_.set_selectable(true);
    append(sizeLabel_);
    append(status_);

    followTheCard();
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

void ControlsColumn::buildEditor() {
    editor_.add_css_class("card-editor");
    editor_.set_monospace(true);
    editor_.set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    editor_.set_top_margin(8);
    editor_.set_bottom_margin(8);
    editor_.set_left_margin(8);
    editor_.set_right_margin(8);
    setAccessibleLabel(editor_, _("Your card"));
    editor_.get_buffer()->signal_changed().connect([this] {
        if (!refreshing_) document_.setMarkdown(editor_.get_buffer()->get_text());
    });
    editorScroller_.add_css_class("card-editor-frame");
    editorScroller_.set_child(editor_);
    editorScroller_.set_min_content_height(160);
    editorScroller_.set_vexpand(true);
    editorScroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    append(editorScroller_);
    acceptDroppedFiles();
    acceptPastedPictures();
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

// The card's on/off settings: a row of the table is all a new one needs here.
void ControlsColumn::addSwitches() {
    const struct {
        const char* label;
        bool CardSettings::*setting;
    } table[] = {{N_("Tazu wordmark"), &CardSettings::wordmark},
                 {N_("Split into pages"), &CardSettings::pages},
                 {N_("Open with a cover"), &CardSettings::cover},
                 {N_("A card per heading"), &CardSettings::splitAtHeadings}};
    for (const auto& entry : table) {
        auto row = std::make_unique<SwitchRow>();
        row->setting = entry.setting;
        row->label.set_text(_(entry.label));
        row->label.set_hexpand(true);
        row->label.set_xalign(0);
        setAccessibleLabel(row->toggle, _(entry.label));
        row->toggle.property_active().signal_changed().connect([this, r = row.get()] {
            if (!refreshing_) document_.setSwitch(r->setting, r->toggle.get_active());
        });
        row->row.append(row->label);
        row->row.append(row->toggle);
        append(row->row);
        switches_.push_back(std::move(row));
    }
}

void ControlsColumn::showSwitches() {
    refreshing_ = true;
    for (const auto& row : switches_) {
        const bool on = document_.settings().*(row->setting);
        if (row->toggle.get_active() != on) row->toggle.set_active(on);
        // A cover and headings that split a set are offered while the note is split into pages.
        if (row->setting == &CardSettings::cover || row->setting == &CardSettings::splitAtHeadings)
            row->row.set_visible(document_.settings().pages);
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
