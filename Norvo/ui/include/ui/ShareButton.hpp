#pragma once
#include <functional>

#include <gtkmm/button.h>

namespace norvo {

// "Share…" with the share icon before the title; its action gets the button as anchor.
class ShareButton : public Gtk::Button {
public:
    ShareButton();
    void setOnShare(std::function<void(Gtk::Widget*)> onShare) { onShare_ = std::move(onShare); }

private:
    std::function<void(Gtk::Widget*)> onShare_;
};

}  // namespace norvo
