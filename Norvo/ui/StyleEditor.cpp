#include "ui/StyleEditor.hpp"

#include <filesystem>

#include <glibmm/i18n.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/dialog.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/filefilter.h>
#include <gtkmm/stringlist.h>
#include <pangomm/fontdescription.h>

#include "ui/CardTexture.hpp"
#include "support/StyleFiles.hpp"
#include "ui/Accessibility.hpp"

namespace norvo {

namespace fs = std::filesystem;

namespace {

const char* const kBackgrounds[] = {N_("The theme's"), N_("Colour"), N_("Gradient"), N_("Photo")};

std::string hexOf(const Gdk::RGBA& c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", int(c.get_red() * 255 + 0.5), int(c.get_green() * 255 + 0.5),
                  int(c.get_blue() * 255 + 0.5));
    return text;
}

Gdk::RGBA rgbaOf(const std::string& hex, const char* fallback) {
    Gdk::RGBA c;
    if (!c.set(hex.empty() ? fallback : hex)) c.set(fallback);
    return c;
}


}  // namespace

StyleEditor::StyleEditor(StyleChoice& choice, StyleLibrary& library, CardDocument& document)
    : choice_(choice),
      library_(library),
      document_(document),
      layout_(Gtk::Orientation::HORIZONTAL, 18),
      side_(Gtk::Orientation::VERTICAL, 8),
      sideButtons_(Gtk::Orientation::HORIZONTAL, 6),
      form_(Gtk::Orientation::VERTICAL, 12),
      backgroundRow_(Gtk::Orientation::HORIZONTAL, 6),
      avatarRow_(Gtk::Orientation::HORIZONTAL, 6),
      photoRow_(Gtk::Orientation::HORIZONTAL, 6),
      new_(_("New")),
      duplicate_(_("Duplicate")),
      delete_(_("Delete")),
      undoDelete_(_("Undo")),
      photo_(_("Choose Photo\u2026")),
      avatar_(_("Choose Picture\u2026")),
      noAvatar_(_("Remove")),
      useAccent_(_("Own colour")),
      angle_(Gtk::Adjustment::create(135, 0, 359, 5, 45, 0)),
      useBody_(_("Body")),
      useHeading_(_("Headings")),
      useCode_(_("Code")) {
    set_title(_("Styles"));
    set_default_size(860, 560);
    layout_.set_margin(18);

    // The saved styles.
    list_.set_selection_mode(Gtk::SelectionMode::SINGLE);
    list_.set_size_request(200, -1);
    list_.set_vexpand(true);
    list_.add_css_class("boxed-list");
    setAccessibleLabel(list_, _("Styles"));
    list_.signal_row_selected().connect([this](Gtk::ListBoxRow* row) {
        if (showing_ || !row) return;
        select(static_cast<Gtk::Label*>(row->get_child())->get_text().raw());
    });
    new_.signal_clicked().connect([this] { library_.create(_("New Style"), "#1a7f64"); });
    duplicate_.signal_clicked().connect([this] {
        if (!editing_.name.empty()) library_.duplicate(editing_, _("copy"));
    });
    delete_.signal_clicked().connect([this] {
        if (editing_.name.empty()) return;
        library_.remove(editing_.name);
        undoDelete_.set_visible(bool(library_.removed()));
    });
    // A deleted style comes back with one click, until another style is deleted.
    undoDelete_.set_tooltip_text(_("Bring back the style just deleted"));
    undoDelete_.set_visible(false);
    undoDelete_.signal_clicked().connect([this] {
        library_.undoRemove();
        undoDelete_.set_visible(false);
    });
    sideButtons_.append(new_);
    sideButtons_.append(duplicate_);
    sideButtons_.append(delete_);
    sideButtons_.append(undoDelete_);
    side_.append(list_);
    side_.append(sideButtons_);
    layout_.append(side_);

    // The selected style.
    grid_.set_row_spacing(10);
    grid_.set_column_spacing(12);
    name_.signal_activate().connect([this] { rename(); });
    auto focus = Gtk::EventControllerFocus::create();
    focus->signal_leave().connect([this] { rename(); });
    name_.add_controller(focus);
    addRow(0, _("Name"), name_);
    // Each field and button says what it sets; the grid's captions are only seen.
    const std::pair<Gtk::Widget*, Glib::ustring> names[] = {
        {&name_, _("Style name")},           {&accent_, _("Accent colour")},
        {&background1_, _("First background colour")}, {&background2_, _("Second background colour")},
        {&angle_, _("Gradient angle")},       {&bodyFont_, _("Body font")},
        {&headingFont_, _("Heading font")},   {&codeFont_, _("Code font")},
        {&signatureName_, _("Signature name")}, {&signatureHandle_, _("Signature handle")},
    };
    for (const auto& [widget, name] : names) setAccessibleLabel(*widget, name);

    auto accentRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    accentRow->append(useAccent_);
    accentRow->append(accent_);
    addRow(1, _("Accent"), *accentRow);

    auto kinds = Gtk::StringList::create({});
    for (const char* k : kBackgrounds) kinds->append(_(k));
    backgroundKind_.set_model(kinds);
    setAccessibleLabel(backgroundKind_, _("Background"));
    angle_.set_tooltip_text(_("Angle of the gradient, in degrees"));
    backgroundRow_.append(backgroundKind_);
    backgroundRow_.append(background1_);
    backgroundRow_.append(background2_);
    backgroundRow_.append(angle_);
    addRow(2, _("Background"), backgroundRow_);
    photoName_.add_css_class("dim-label");
    photoName_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    photoRow_.append(photo_);
    photoRow_.append(photoName_);
    addRow(3, "", photoRow_);

    auto fontRow = [&](int row, const char* label, Gtk::CheckButton& use, Gtk::FontButton& font) {
        auto box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
        font.set_level(Gtk::FontChooser::Level::FAMILY);
        font.set_use_font(true);
        use.set_label(label);
        box->append(use);
        box->append(font);
        addRow(row, row == 4 ? _("Fonts") : "", *box);
    };
    fontRow(4, _("Body"), useBody_, bodyFont_);
    fontRow(5, _("Headings"), useHeading_, headingFont_);
    fontRow(6, _("Code"), useCode_, codeFont_);

    signatureName_.set_placeholder_text(_("Your name"));
    signatureHandle_.set_placeholder_text(_("@handle"));
    addRow(7, _("Signature"), signatureName_);
    addRow(8, "", signatureHandle_);
    avatarName_.add_css_class("dim-label");
    avatarName_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    avatarRow_.append(avatar_);
    avatarRow_.append(noAvatar_);
    avatarRow_.append(avatarName_);
    addRow(9, "", avatarRow_);
    problem_.add_css_class("error");
    problem_.set_wrap(true);
    problem_.set_xalign(0);
    bundledNote_.set_wrap(true);
    bundledNote_.set_xalign(0);
    bundledNote_.add_css_class("dim-label");
    bundledNote_.set_text(_("This style comes with Norvo: duplicate it to make your own."));
    form_.append(bundledNote_);
    form_.append(grid_);
    form_.append(problem_);
    layout_.append(form_);

    preview_.set_content_fit(Gtk::ContentFit::CONTAIN);
    preview_.set_size_request(280, 280);
    preview_.set_hexpand(true);
    setAccessibleLabel(preview_, _("The card in this style"));
    layout_.append(preview_);
    set_child(layout_);

    // Every change is saved at once, and the card wears it.
    for (Gtk::CheckButton* check : {&useAccent_, &useBody_, &useHeading_, &useCode_})
        check->signal_toggled().connect([this] { saveEdits(); });
    for (Gtk::ColorButton* color : {&accent_, &background1_, &background2_})
        color->signal_color_set().connect([this] { saveEdits(); });
    for (Gtk::FontButton* font : {&bodyFont_, &headingFont_, &codeFont_})
        font->signal_font_set().connect([this] { saveEdits(); });
    backgroundKind_.property_selected().signal_changed().connect([this] { saveEdits(); });
    angle_.signal_value_changed().connect([this] { saveEdits(); });
    signatureName_.signal_changed().connect([this] { saveEdits(); });
    signatureHandle_.signal_changed().connect([this] { saveEdits(); });
    photo_.signal_clicked().connect([this] {
        chooseFile(_("Background Photo"), [this](std::string file) {
            editing_.image = file;
            backgroundKind_.set_selected(3);
            saveEdits();
        });
    });
    avatar_.signal_clicked().connect([this] {
        chooseFile(_("Signature Picture"), [this](std::string file) {
            editing_.avatar = file;
            saveEdits();
        });
    });
    noAvatar_.signal_clicked().connect([this] {
        editing_.avatar.clear();
        saveEdits();
    });

    choice_.signalStylesChanged().connect([this] { fillList(); });
    document_.signalStyleChanged().connect([this] { select(choice_.chosen()); });
    document_.signalPreviewChanged().connect([this] {
        if (document_.preview()) preview_.set_paintable(makeTexture(*document_.preview()));
    });
    if (document_.preview()) preview_.set_paintable(makeTexture(*document_.preview()));
    fillList();
    // Focus on opening would select the list's first style, and the card would wear it.
    set_focus(new_);
}

void StyleEditor::addRow(int row, const char* label, Gtk::Widget& widget) {
    auto caption = Gtk::make_managed<Gtk::Label>(label);
    caption->set_xalign(1);
    caption->add_css_class("dim-label");
    grid_.attach(*caption, 0, row);
    widget.set_hexpand(true);
    grid_.attach(widget, 1, row);
}

void StyleEditor::fillList() {
    showing_ = true;
    while (auto* row = list_.get_row_at_index(0)) list_.remove(*row);
    for (const std::string& name : StyleChoice::names()) {
        auto label = Gtk::make_managed<Gtk::Label>(name);
        label->set_xalign(0);
        label->set_margin(8);
        list_.append(*label);
    }
    showing_ = false;
    select(choice_.chosen());
}

// Shows the style `name` in the form (the card wears it); nothing selected: the form is idle.
void StyleEditor::select(const std::string& name) {
    if (name != choice_.chosen()) {
        choice_.choose(name);  // comes back here through the document's style signal
        return;
    }
    showing_ = true;
    Gtk::ListBoxRow* selected = nullptr;
    for (int i = 0; auto* row = list_.get_row_at_index(i); ++i)
        if (static_cast<Gtk::Label*>(row->get_child())->get_text().raw() == name) selected = row;
    if (selected) list_.select_row(*selected);
    else list_.unselect_all();
    showing_ = false;
    StyleRead read = name.empty() ? StyleRead{} : library_.load(name);
    // A bundled style is shown as it is; its duplicate is the user's to edit.
    const bool bundled = !name.empty() && StyleFiles::isBundled(name);
    problem_.set_text(read.problem ? read.problem->message : "");
    bundledNote_.set_visible(bundled);
    grid_.set_sensitive(!name.empty() && !bundled);
    form_.set_sensitive(!name.empty());
    duplicate_.set_sensitive(!name.empty());
    delete_.set_sensitive(!name.empty() && !bundled);
    editing_ = read.style;
    editing_.name = name;
    showStyle(editing_);
}

void StyleEditor::showStyle(const CardStyle& s) {
    showing_ = true;
    name_.set_text(s.name);
    useAccent_.set_active(!s.accent.empty());
    accent_.set_rgba(rgbaOf(s.accent, "#1a7f64"));
    backgroundKind_.set_selected(guint(s.background));
    background1_.set_rgba(rgbaOf(s.colors.empty() ? "" : s.colors[0], "#0f2a2e"));
    background2_.set_rgba(rgbaOf(s.colors.size() < 2 ? "" : s.colors[1], "#ff7e5f"));
    angle_.set_value(s.angle);
    const bool gradient = s.background == CardStyle::Background::Gradient;
    background1_.set_visible(s.background == CardStyle::Background::Solid || gradient);
    background2_.set_visible(gradient);
    angle_.set_visible(gradient);
    photoRow_.set_visible(s.background == CardStyle::Background::Image);
    photoName_.set_text(s.image.empty() ? _("No photo yet") : fs::path(s.image).filename().string());
    const std::pair<Gtk::CheckButton*, Gtk::FontButton*> fonts[] = {
        {&useBody_, &bodyFont_}, {&useHeading_, &headingFont_}, {&useCode_, &codeFont_}};
    const std::string* families[] = {&s.bodyFont, &s.headingFont, &s.codeFont};
    for (int i = 0; i < 3; ++i) {
        fonts[i].first->set_active(!families[i]->empty());
        if (!families[i]->empty() && families[i]->find('/') == std::string::npos) fonts[i].second->set_font(*families[i]);
    }
    signatureName_.set_text(s.signatureName);
    signatureHandle_.set_text(s.signatureHandle);
    avatarName_.set_text(s.avatar.empty() ? "" : fs::path(s.avatar).filename().string());
    noAvatar_.set_sensitive(!s.avatar.empty());
    showing_ = false;
}

void StyleEditor::saveEdits() {
    if (showing_ || editing_.name.empty()) return;
    CardStyle& s = editing_;
    s.accent = useAccent_.get_active() ? hexOf(accent_.get_rgba()) : "";
    s.background = CardStyle::Background(std::min<guint>(backgroundKind_.get_selected(), 3));
    s.colors = {hexOf(background1_.get_rgba())};
    if (s.background == CardStyle::Background::Gradient) s.colors.push_back(hexOf(background2_.get_rgba()));
    if (s.background == CardStyle::Background::Theme || s.background == CardStyle::Background::Image) s.colors.clear();
    if (s.background == CardStyle::Background::Image && s.image.empty()) s.background = CardStyle::Background::Theme;
    s.angle = angle_.get_value();
    auto family = [](Gtk::CheckButton& use, Gtk::FontButton& font, const std::string& was) -> std::string {
        if (!use.get_active()) return {};
        if (was.find('/') != std::string::npos) return was;  // a font file stays
        return Pango::FontDescription(font.get_font()).get_family();
    };
    s.bodyFont = family(useBody_, bodyFont_, s.bodyFont);
    s.headingFont = family(useHeading_, headingFont_, s.headingFont);
    s.codeFont = family(useCode_, codeFont_, s.codeFont);
    s.signatureName = signatureName_.get_text();
    s.signatureHandle = signatureHandle_.get_text();
    library_.save(s);
    showStyle(s);
}

void StyleEditor::rename() {
    const std::string wanted = name_.get_text();
    if (editing_.name.empty() || wanted == editing_.name) return;
    library_.rename(editing_, wanted, [this](bool renamed) {
        if (!renamed) {
            problem_.set_text(_("A style needs a name of its own, without \u201c/\u201d"));
            name_.set_text(editing_.name);
        }
    });
}

void StyleEditor::chooseFile(const std::string& title, std::function<void(std::string)> then) {
    chooser_ = Gtk::FileChooserNative::create(title, *this, Gtk::FileChooser::Action::OPEN, _("_Choose"), _("_Cancel"));
    auto pictures = Gtk::FileFilter::create();
    pictures->set_name(_("Pictures"));
    for (const char* type : {"image/png", "image/jpeg", "image/webp", "image/gif"}) pictures->add_mime_type(type);
    chooser_->add_filter(pictures);
    chooser_->signal_response().connect([this, then = std::move(then)](int response) {
        if (response != int(Gtk::ResponseType::ACCEPT)) return;
        const auto file = chooser_->get_file();
        if (!file || file->get_path().empty()) return;
        // A picture chosen for a style is copied beside its file, so that the styles folder can
        // move to another machine whole.
        library_.keep(editing_.name, file->get_path(), [then](std::optional<std::string> kept) {
            if (kept) then(*kept);
        });
    });
    chooser_->show();
}

}  // namespace norvo
