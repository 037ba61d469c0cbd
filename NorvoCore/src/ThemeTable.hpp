#pragma once
#include <string>
#include <vector>

namespace norvo::ThemeTable {

// One theme as themes.json defines it (in the page's bundle too): what the catalogue and the
// backdrop painter read.
struct Rgb {
    double r, g, b;
};
struct Stop {
    double at;
    Rgb color;
};
struct Glow {
    double rx, ry, cx, cy;
    Rgb color;
    double alpha, end;
};
struct Entry {
    std::string id, label;
    bool dark = false;
    double angle = 180;
    std::vector<Stop> stops;
    std::vector<Glow> glows;  // bottom layer first
};

// Every theme, in the order the picker shows them; the first is the default.
const std::vector<Entry>& all();

}  // namespace norvo::ThemeTable
