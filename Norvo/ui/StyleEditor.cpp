#include "ui/StyleEditor.hpp"

#include <filesystem>

#include <glibmm/i18n.h>
#include <gtkmm/dialog.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/filefilter.h>
#include <pangomm/fontdescription.h>

#include "ui/CardTexture.hpp"
#include "support/StyleFiles.hpp"
#include "ui/Accessibility.hpp"
#include "ui/UiFile.hpp"

namespace norvo {

namespace fs = std::filesystem;

namespace {

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
    : StyleEditor(choice, library, document, UiFile::load("StyleEditor.ui")) {}

StyleEditor::StyleEditor(StyleChoice& choice, StyleLibrary& library, CardDocument& document,
                         const Glib::RefPtr<Gtk::Builder>& ui)
    : choice_(choice),
      library_(library),
      document_(document),
      form_(UiFile::widget<Gtk::Box>(ui, "form")),
      photoRow_(UiFile::widget<Gtk::Box>(ui, "photo_row")),
      list_(UiFile::widget<Gtk::ListBox>(ui, "list")),
      new_(UiFile::widget<Gtk::Button>(ui, "new")),
      duplicate_(UiFile::widget<Gtk::Button>(ui, "duplicate")),
      delete_(UiFile::widget<Gtk::Button>(ui, "delete")),
      undoDelete_(UiFile::widget<Gtk::Button>(ui, "undo_delete")),
      photo_(UiFile::widget<Gtk::Button>(ui, "photo")),
      avatar_(UiFile::widget<Gtk::Button>(ui, "avatar")),
      noAvatar_(UiFile::widget<Gtk::Button>(ui, "no_avatar")),
      grid_(UiFile::widget<Gtk::Grid>(ui, "grid")),
      name_(UiFile::widget<Gtk::Entry>(ui, "name")),
      signatureName_(UiFile::widget<Gtk::Entry>(ui, "signature_name")),
      signatureHandle_(UiFile::widget<Gtk::Entry>(ui, "signature_handle")),
      useAccent_(UiFile::widget<Gtk::CheckButton>(ui, "use_accent")),
      accent_(UiFile::widget<Gtk::ColorButton>(ui, "accent")),
      background1_(UiFile::widget<Gtk::ColorButton>(ui, "background1")),
      background2_(UiFile::widget<Gtk::ColorButton>(ui, "background2")),
      backgroundKind_(UiFile::widget<Gtk::DropDown>(ui, "background_kind")),
      angle_(UiFile::widget<Gtk::SpinButton>(ui, "angle")),
      photoName_(UiFile::widget<Gtk::Label>(ui, "photo_name")),
      avatarName_(UiFile::widget<Gtk::Label>(ui, "avatar_name")),
      problem_(UiFile::widget<Gtk::Label>(ui, "problem")),
      bundledNote_(UiFile::widget<Gtk::Label>(ui, "bundled_note")),
      bodyFont_(UiFile::widget<Gtk::FontButton>(ui, "body_font")),
      headingFont_(UiFile::widget<Gtk::FontButton>(ui, "heading_font")),
      codeFont_(UiFile::widget<Gtk::FontButton>(ui, "code_font")),
      useBody_(UiFile::widget<Gtk::CheckButton>(ui, "use_body")),
      useHeading_(UiFile::widget<Gtk::CheckButton>(ui, "use_heading")),
      useCode_(UiFile::widget<Gtk::CheckButton>(ui, "use_code")),
      preview_(UiFile::widget<Gtk::Picture>(ui, "preview")) {
    set_title(_("Styles"));
    set_default_size(860, 560);
    set_hide_on_close(true);  // the app keeps the window and shows it again
    set_child(UiFile::widget<Gtk::Box>(ui, "layout"));
    for (Gtk::Widget* named : std::initializer_list<Gtk::Widget*>{&accent_, &background1_, &background2_, &backgroundKind_,
                                                                  &bodyFont_, &headingFont_, &codeFont_})
        nameInnerButtonsAfter(*named);
    connectList();
    connectForm();
    connectPictures();

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

// The layout goes while the editor is still whole, and shows nothing: a widget that changes
// as it is taken down saves nothing. (A window closed by the user is gone already.)
StyleEditor::~StyleEditor() {
    showing_ = true;
    if (gobj()) unset_child();
}

// The saved styles and the buttons under them.
void StyleEditor::connectList() {
    list_.signal_row_selected().connect([this](Gtk::ListBoxRow* row) {
        if (showing_ || !row) return;
        select(static_cast<Gtk::Label*>(row->get_child())->get_text().raw());
    });
    new_.signal_clicked().connect([this] { library_.create(_("New Style"), "#1a7f64"); });
    duplicate_.signal_clicked().connect([this] {
        if (!editing_.name.empty()) library_.duplicate(editing_, _("copy"));
    });
    // A deleted style comes back with one click, until another style is deleted.
    delete_.signal_clicked().connect([this] {
        if (editing_.name.empty()) return;
        library_.remove(editing_.name);
        undoDelete_.set_visible(bool(library_.removed()));
    });
    undoDelete_.signal_clicked().connect([this] {
        library_.undoRemove();
        undoDelete_.set_visible(false);
    });
}

// Every change is saved at once, and the card wears it; a new name when it is given.
void StyleEditor::connectForm() {
    name_.signal_activate().connect([this] { rename(); });
    auto focus = Gtk::EventControllerFocus::create();
    focus->signal_leave().connect([this] { rename(); });
    name_.add_controller(focus);
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
}

// The pictures a style names are chosen from files, and copied beside it.
void StyleEditor::connectPictures() {
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
}

void StyleEditor::fillList() {
    showing_ = true;
    while (auto* row = list_.get_row_at_index(0)) list_.remove(*row);
    for (const std::string& name : StyleChoice::names()) {
        auto label = Gtk::make_managed<Gtk::Label>(name);
        label->set_xalign(0);
        label->set_margin(8);
        list_.append(*label);
        if (Gtk::Widget* row = label->get_parent()) setAccessibleLabel(*row, name);
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
    setShownText(problem_, read.problem ? read.problem->message : "");
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
    setShownText(photoName_, s.image.empty() ? _("No photo yet") : fs::path(s.image).filename().string());
    const std::pair<Gtk::CheckButton*, Gtk::FontButton*> fonts[] = {
        {&useBody_, &bodyFont_}, {&useHeading_, &headingFont_}, {&useCode_, &codeFont_}};
    const std::string* families[] = {&s.bodyFont, &s.headingFont, &s.codeFont};
    for (int i = 0; i < 3; ++i) {
        fonts[i].first->set_active(!families[i]->empty());
        if (!families[i]->empty() && families[i]->find('/') == std::string::npos) fonts[i].second->set_font(*families[i]);
    }
    signatureName_.set_text(s.signatureName);
    signatureHandle_.set_text(s.signatureHandle);
    setShownText(avatarName_, s.avatar.empty() ? "" : fs::path(s.avatar).filename().string());
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
            setShownText(problem_, _("A style needs a name of its own, without \u201c/\u201d"));
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
