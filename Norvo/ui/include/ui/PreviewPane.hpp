#pragma once
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/spinner.h>
#include <gtkmm/stack.h>
#include <gtkmm/widget.h>

#include "image/CardImage.hpp"
#include "ui/Accessibility.hpp"

namespace norvo {

// Draws one card scaled to fit, with a soft drop shadow, 28 px from every edge. Read as a
// picture whose description is what the card says.
class CardView : public AccessibleRoleInit, public Gtk::Widget {
public:
    CardView();
    void setImage(CardImagePtr image);
    const CardImagePtr& image() const { return image_; }
    // The rectangle the card takes inside a pane of the given size (the shadow not counted).
    static Gdk::Rectangle fittedRect(int cardWidth, int cardHeight, int paneWidth, int paneHeight);

protected:
    void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                       int& minimum_baseline, int& natural_baseline) const override;

private:
    CardImagePtr image_;
    // The card pre-scaled to its on-screen size: GTK 4.8 only scales textures linearly.
    Glib::RefPtr<Gdk::Texture> scaled_;
    int scaledWidth_ = 0, scaledHeight_ = 0;
    bool firstCardShown_ = false;
    const CardImage* scaledFrom_ = nullptr;
};

// The preview: the latest card, or a spinner until the first one arrives.
class PreviewPane : public Gtk::Box {
public:
    PreviewPane();
    void setImage(CardImagePtr image);
    bool showsSpinner() const;
    CardView& cardView() { return card_; }

    // The pager under a set of cards: "2 / 5" between ‹ and ›, shown only for a set.
    void showPage(std::size_t index, std::size_t count);
    Gtk::Button& previousButton() { return previous_; }
    Gtk::Button& nextButton() { return next_; }
    Gtk::Label& pageLabel() { return pageLabel_; }
    Gtk::Box& pager() { return pager_; }

private:
    Gtk::Box pager_;
    Gtk::Button previous_, next_;
    Gtk::Label pageLabel_;
    Gtk::Stack stack_;
    Gtk::Spinner spinner_;
    CardView card_;
};

}  // namespace norvo
