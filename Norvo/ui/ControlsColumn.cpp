#include "ui/Accessibility.hpp"
#include "ui/ControlsColumn.hpp"

#include <glibmm/i18n.h>
#include <glibmm/ustring.h>
#include <gtkmm/droptarget.h>
#include <giomm/file.h>

#include "norvo/Presets.hpp"

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

constexpr std::size_t kMaxDroppedBytes = 1 << 20;

}  // namespace

ControlsColumn::ControlsColumn(NorvoModel& model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 14),
      model_(model),
      title_("Norvo"),
      tagline_(_("Markdown in, a picture out.")),
      editorLabel_(_("Your card")),
      theme_(_("Theme"), {{_("Paper"), "paper"}, {_("Ink"), "ink"}, {_("Sky"), "sky"}}),
      font_(_("Font"), {{_("Sans"), "sans"}, {_("Serif"), "serif"}, {_("Mono"), "mono"}}),
      size_(_("Size"), presetOptions()),
      scaleRow_(Gtk::Orientation::HORIZONTAL, 8),
      wordmarkRow_(Gtk::Orientation::HORIZONTAL, 12),
      buttonRow_(Gtk::Orientation::HORIZONTAL, 8),
      scaleLabel_(_("Text")),
      smaller_("A"),
      larger_("A"),
      wordmarkLabel_(_("Tazu wordmark")),
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
    theme_.signalChosen().connect([this](const std::string& v) { model_.setThemeID(v); });
    font_.signalChosen().connect([this](const std::string& v) { model_.setFontID(v); });
    size_.signalChosen().connect([this](const std::string& v) { model_.setPresetID(v); });

    scaleLabel_.add_css_class("scale-caption");
    smaller_.add_css_class("dim-label");
    smaller_.add_css_class("size-smaller");
    larger_.add_css_class("dim-label");
    larger_.add_css_class("size-larger");
    scale_.set_draw_value(false);
    scale_.set_hexpand(true);
    setAccessibleLabel(scale_, _("Text size"));
    scale_.signal_value_changed().connect([this] {
        if (!refreshing_) model_.setFontScale(scale_.get_value());
    });
    scaleRow_.append(scaleLabel_);
    scaleRow_.append(smaller_);
    scaleRow_.append(scale_);
    scaleRow_.append(larger_);
    append(scaleRow_);

    wordmarkLabel_.set_hexpand(true);
    wordmarkLabel_.set_xalign(0);
    setAccessibleLabel(wordmark_, _("Tazu wordmark"));
    wordmark_.property_active().signal_changed().connect([this] {
        if (!refreshing_) model_.setWordmark(wordmark_.get_active());
    });
    wordmarkRow_.append(wordmarkLabel_);
    wordmarkRow_.append(wordmark_);
    append(wordmarkRow_);

    export_.add_css_class("suggested-action");
    export_.set_tooltip_text(_("Save the card as a PNG file (Ctrl+S)"));
    export_.signal_clicked().connect([this] { model_.exportPNG(); });
    copy_.set_tooltip_text(_("Copy the card as an image (Shift+Ctrl+C)"));
    copy_.signal_clicked().connect([this] { model_.copyPNG(); });
    share_.setOnShare([this](Gtk::Widget* anchor) { model_.sharePNG(anchor); });
    buttonRow_.append(export_);
    buttonRow_.append(copy_);
    buttonRow_.append(share_);
    append(buttonRow_);

    styleCaption(sizeLabel_);
    styleCaption(status_);
    status_.set_selectable(true);
    append(sizeLabel_);
    append(status_);

    model_.signalChanged().connect(sigc::mem_fun(*this, &ControlsColumn::refresh));
    refresh();
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
        if (!refreshing_) model_.setMarkdown(editor_.get_buffer()->get_text());
    });
    editorScroller_.add_css_class("card-editor-frame");
    editorScroller_.set_child(editor_);
    editorScroller_.set_min_content_height(200);
    editorScroller_.set_vexpand(true);
    editorScroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    append(editorScroller_);
    acceptDroppedFiles();
}

void ControlsColumn::acceptDroppedFiles() {
    // A Markdown file dropped on the editor replaces the note.
    auto target = Gtk::DropTarget::create(G_TYPE_FILE, Gdk::DragAction::COPY);
    target->signal_drop().connect(
        [this](const Glib::ValueBase& value, double, double) {
            GFile* raw = static_cast<GFile*>(g_value_get_object(value.gobj()));
            if (!raw) return false;
            auto file = Glib::wrap(raw, true);
            try {
                char* contents = nullptr;
                gsize length = 0;
                std::string etag;
                if (!file->load_contents(contents, length, etag)) return false;
                std::string text(contents, length);
                g_free(contents);
                if (length > kMaxDroppedBytes || !g_utf8_validate(text.data(), gssize(text.size()), nullptr))
                    return false;
                model_.setMarkdown(std::move(text));
                return true;
            } catch (const Glib::Error&) {
                return false;
            }
        },
        false);
    editor_.add_controller(target);
}

void ControlsColumn::refresh() {
    refreshing_ = true;
    auto buffer = editor_.get_buffer();
    if (buffer->get_text().raw() != model_.markdown()) buffer->set_text(model_.markdown());
    theme_.setValue(model_.themeID());
    font_.setValue(model_.fontID());
    size_.setValue(model_.presetID());
    if (scale_.get_value() != model_.fontScale()) scale_.set_value(model_.fontScale());
    if (wordmark_.get_active() != model_.wordmark()) wordmark_.set_active(model_.wordmark());
    const Preset preset = Presets::by(model_.presetID());
    sizeLabel_.set_text(Glib::ustring::sprintf(_("%lld \u00d7 %lld px"), static_cast<long long>(preset.width),
                                               static_cast<long long>(preset.height)));
    status_.set_text(model_.lastStatus());
    status_.set_visible(!model_.lastStatus().empty());
    refreshing_ = false;
}

}  // namespace norvo
