#pragma once
#include <functional>

#include <gtkmm/builder.h>
#include <gtkmm/button.h>

namespace norvo {

// "Share…" with the share icon before the title; its action gets the button as anchor.
// Made from a button of a layout, which draws its face.
class ShareButton : public Gtk::Button {
public:
    ShareButton(BaseObjectType* button, const Glib::RefPtr<Gtk::Builder>& ui);
    void setOnShare(std::function<void(Gtk::Widget*)> onShare) { onShare_ = std::move(onShare); }

private:
    std::function<void(Gtk::Widget*)> onShare_;
};

}  // namespace norvo
