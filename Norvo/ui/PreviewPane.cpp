#include "ui/PreviewPane.hpp"

#include "ui/Accessibility.hpp"

#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include <algorithm>
#include <cmath>

#include <gtk/gtk.h>
#include <gtkmm/snapshot.h>

#include "support/StartupTimeline.hpp"
#include "ui/CardTexture.hpp"

namespace norvo {

namespace {
constexpr int kPadding = 28;
constexpr float kShadowOpacity = 0.22f, kShadowBlur = 18.f, kShadowOffsetY = 8.f;
}  // namespace

CardView::CardView() : Glib::ObjectBase("NorvoCardView"), AccessibleRoleInit(GTK_ACCESSIBLE_ROLE_IMG) {
    setAccessibleLabel(*this, _("Card preview"));
    set_hexpand(true);
    set_vexpand(true);
    set_overflow(Gtk::Overflow::VISIBLE);
}

void CardView::setImage(CardImagePtr image) {
    image_ = std::move(image);
    queue_draw();
}

Gdk::Rectangle CardView::fittedRect(int cardWidth, int cardHeight, int paneWidth, int paneHeight) {
    const double aw = paneWidth - 2 * kPadding, ah = paneHeight - 2 * kPadding;
    if (cardWidth <= 0 || cardHeight <= 0 || aw <= 0 || ah <= 0) return {0, 0, 0, 0};
    const double scale = std::min(aw / cardWidth, ah / cardHeight);
    const int w = std::max(1, int(std::lround(cardWidth * scale)));
    const int h = std::max(1, int(std::lround(cardHeight * scale)));
    return {(paneWidth - w) / 2, (paneHeight - h) / 2, w, h};
}

Gtk::SizeRequestMode CardView::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

void CardView::measure_vfunc(Gtk::Orientation, int, int& minimum, int& natural, int& minimum_baseline,
                             int& natural_baseline) const {
    minimum = 2 * kPadding + 16;
    natural = 400;
    minimum_baseline = natural_baseline = -1;
}

namespace {
// Tells the one-shot paint handler apart from others on the frame clock.
char kFirstPaintTag = 0;
}  // namespace

void CardView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
    if (!image_) return;
    const Gdk::Rectangle r = fittedRect(image_->width(), image_->height(), get_width(), get_height());
    if (r.get_width() <= 0 || r.get_height() <= 0) return;

    const int scale = get_scale_factor();
    const int tw = std::min(image_->width(), r.get_width() * scale);
    const int th = std::min(image_->height(), r.get_height() * scale);
    if (!scaled_ || scaledFrom_ != image_.get() || tw != scaledWidth_ || th != scaledHeight_) {
        scaled_ = (tw == image_->width() && th == image_->height()) ? makeTexture(*image_)
                                                                   : makeTexture(image_->scaledTo(tw, th));
        scaledFrom_ = image_.get();
        scaledWidth_ = tw;
        scaledHeight_ = th;
    }

    GtkSnapshot* s = snapshot->gobj();
    const graphene_rect_t bounds = GRAPHENE_RECT_INIT(float(r.get_x()), float(r.get_y()), float(r.get_width()),
                                                      float(r.get_height()));
    GskRoundedRect outline;
    gsk_rounded_rect_init_from_rect(&outline, &bounds, 0.f);
    const GdkRGBA shadow{0.f, 0.f, 0.f, kShadowOpacity};
    gtk_snapshot_append_outset_shadow(s, &outline, &shadow, 0.f, kShadowOffsetY, 0.f, kShadowBlur);
    gtk_snapshot_append_texture(s, scaled_->gobj(), &bounds);
    // The first card on screen is when the frame that holds it has been painted.
    if (!firstCardShown_) {
        firstCardShown_ = true;
        if (GdkFrameClock* clock = gtk_widget_get_frame_clock(gobj()))
            g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* c, gpointer) {
                                 StartupTimeline::markOnce("preview-painted");
                                 g_signal_handlers_disconnect_matched(c, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr,
                                                                      &kFirstPaintTag);
                             }),
                             &kFirstPaintTag);
    }
}

PreviewPane::PreviewPane()
    : Gtk::Box(Gtk::Orientation::VERTICAL), pager_(Gtk::Orientation::HORIZONTAL, 10) {
    add_css_class("preview-pane");
    set_hexpand(true);
    set_vexpand(true);
    set_size_request(460, -1);
    spinner_.set_size_request(32, 32);
    spinner_.set_halign(Gtk::Align::CENTER);
    spinner_.set_valign(Gtk::Align::CENTER);
    spinner_.start();
    setAccessibleLabel(spinner_, _("Drawing the card\u2026"));
    stack_.add(spinner_, "spinner");
    stack_.add(card_, "card");
    stack_.set_hexpand(true);
    stack_.set_vexpand(true);
    stack_.set_visible_child("spinner");
    append(stack_);

    for (Gtk::Button* b : {&previous_, &next_}) b->add_css_class("flat");
    previous_.set_icon_name("go-previous-symbolic");
    next_.set_icon_name("go-next-symbolic");
    previous_.set_tooltip_text(_("Previous card (Page Up)"));
    next_.set_tooltip_text(_("Next card (Page Down)"));
    setAccessibleLabel(previous_, _("Previous card"));
    setAccessibleLabel(next_, _("Next card"));
    pageLabel_.add_css_class("numeric");
    pager_.set_halign(Gtk::Align::CENTER);
    pager_.set_margin_bottom(14);
    pager_.append(previous_);
    pager_.append(pageLabel_);
    pager_.append(next_);
    pager_.set_visible(false);
    append(pager_);
}

void PreviewPane::showPage(std::size_t index, std::size_t count) {
    pager_.set_visible(count > 1);
    if (count < 2) return;
    pageLabel_.set_text(Glib::ustring::compose(_("%1 / %2"), index + 1, count));
    previous_.set_sensitive(index > 0);
    next_.set_sensitive(index + 1 < count);
}

void PreviewPane::setImage(CardImagePtr image) {
    const bool has = bool(image);
    card_.setImage(std::move(image));
    stack_.set_visible_child(has ? "card" : "spinner");
    if (has) spinner_.stop(); else spinner_.start();
}

bool PreviewPane::showsSpinner() const { return stack_.get_visible_child_name() == "spinner"; }

}  // namespace norvo
