#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace norvo {

// A card theme: its id (what the page and the command line know it by) and the label the
// pickers show (translated by the UI).
struct Theme {
    std::string id;
    std::string label;
};

// A card font: id, label, and the CSS font stack the engine sets on the card.
struct Font {
    std::string id;
    std::string label;
    std::string stack;
};

namespace Themes {
// In the order the picker shows them; the first is the default.
const std::vector<Theme>& all();
bool isKnown(std::string_view id);
// "paper, ink or sky", for messages.
std::string idList();
}  // namespace Themes

namespace Fonts {
const std::vector<Font>& all();
bool isKnown(std::string_view id);
// The font whose id matches exactly, else the default (sans); never fails.
const Font& by(std::string_view id);
std::string idList();
}  // namespace Fonts

}  // namespace norvo
