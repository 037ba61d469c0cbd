#pragma once
#include <string>
#include <vector>

#include "model/CardDocument.hpp"

namespace norvo {

// Which saved style the card wears: chosen from the Style row, remembered for the next launch,
// and read again when the style editor changes its file. Main thread.
class StyleChoice {
public:
    explicit StyleChoice(CardDocument& document) : document_(document) {}

    // The saved styles, by name.
    static std::vector<std::string> names();
    // Puts the style `name` on the card ("": the theme only) and remembers it. A style file
    // that cannot be read leaves the theme, and the status line says why.
    void choose(const std::string& name);
    const std::string& chosen() const { return chosen_; }
    // The style chosen at the last launch, if it is still there.
    void restore();
    // The saved styles changed (one was written, renamed or deleted): the chosen one is read
    // again (the theme when it went), and the list's followers hear of it.
    void stylesChanged();
    sigc::signal<void()>& signalStylesChanged() { return stylesChanged_; }

private:
    CardDocument& document_;
    std::string chosen_;
    sigc::signal<void()> stylesChanged_;
};

}  // namespace norvo
