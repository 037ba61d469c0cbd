#include "norvo/Backdrop.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "ThemeTable.hpp"

// Every operation below mirrors backdrop.js in order and precision (doubles, with the grid
// and the interpolated line stored as floats, and JavaScript's clamped rounding): the same
// expression in another order, or fused into one multiply-add, changes a pixel here and there.

namespace norvo::Backdrop {

namespace {

using ThemeTable::Glow;
using ThemeTable::Rgb;
using ThemeTable::Stop;
using Theme = ThemeTable::Entry;

// An unknown theme is paper (the table's first).
const Theme& themeNamed(const std::string& name) {
    for (const Theme& t : ThemeTable::all())
        if (t.id == name) return t;
    return ThemeTable::all().front();
}

// A glow placed on a card of a given size.
struct PlacedGlow {
    double x, y, rx, ry, r, g, b, alpha;
};

// The backdrop's exact colour at (x, y), stored as the page's Float32Array stores it.
void colorAt(const Theme& theme, const std::vector<PlacedGlow>& glows, double width, double height, double x,
             double y, float* out) {
    const double a = theme.angle * M_PI / 180, dx = std::sin(a), dy = -std::cos(a);
    const double length = std::abs(width * dx) + std::abs(height * dy);
    double t = ((x - width / 2) * dx + (y - height / 2) * dy) / length + 0.5;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    std::size_t i = 1;
    while (i < theme.stops.size() - 1 && t > theme.stops[i].at) i++;
    const Stop& from = theme.stops[i - 1];
    const Stop& to = theme.stops[i];
    const double span = to.at - from.at;
    const double f = (t - from.at) / (span != 0 ? span : 1);
    double r = from.color.r + (to.color.r - from.color.r) * f;
    double g = from.color.g + (to.color.g - from.color.g) * f;
    double b = from.color.b + (to.color.b - from.color.b) * f;
    for (const PlacedGlow& glow : glows) {
        const double ex = (x - glow.x) / glow.rx, ey = (y - glow.y) / glow.ry;
        const double d = std::sqrt(ex * ex + ey * ey);
        if (d >= 1) continue;
        const double k = glow.alpha * (1 - d);
        r += (glow.r - r) * k;
        g += (glow.g - g) * k;
        b += (glow.b - b) * k;
    }
    out[0] = float(r);
    out[1] = float(g);
    out[2] = float(b);
}

// JavaScript's Uint8ClampedArray store: halves round to even.
std::uint8_t clamped(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return std::uint8_t(std::nearbyint(v));
}

constexpr std::array<int, 64> kBayer = {0,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26,
                                        12, 44, 4,  36, 14, 46, 6,  38, 60, 28, 52, 20, 62, 30, 54, 22,
                                        3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27, 49, 17, 57, 25,
                                        15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21};

}  // namespace

void paint(const std::string& themeName, int width, int height, std::uint8_t* bgra, std::size_t stride) {
    if (width <= 0 || height <= 0) return;
    const Theme& theme = themeNamed(themeName);
    const double w = width, h = height;
    std::vector<PlacedGlow> glows;
    for (const Glow& g : theme.glows)
        glows.push_back({g.cx * w, g.cy * h, g.rx * w * g.end, g.ry * h * g.end, g.color.r, g.color.g, g.color.b,
                         g.alpha});
    // Exact colours on a grid every few pixels, interpolated in between, dithered per pixel.
    const int step = 6;
    const int cols = int(std::ceil(w / step)) + 1, rows = int(std::ceil(h / step)) + 1;
    std::vector<float> grid(std::size_t(cols) * std::size_t(rows) * 3);
    for (int j = 0; j < rows; j++)
        for (int i = 0; i < cols; i++)
            colorAt(theme, glows, w, h, double(i * step), double(j * step), &grid[(std::size_t(j) * cols + i) * 3]);
    std::vector<int> columnAt(static_cast<std::size_t>(width));
    std::vector<double> fractionAt(static_cast<std::size_t>(width));
    for (int x = 0; x < width; x++) {
        const int i = int(std::floor((x + 0.5) / step));
        columnAt[std::size_t(x)] = i * 3;
        fractionAt[std::size_t(x)] = (x + 0.5) / step - i;
    }
    std::vector<float> line(std::size_t(cols) * 3);
    std::array<double, 8> dithers{};
    const std::size_t rowFloats = std::size_t(cols) * 3;
    for (int y = 0; y < height; y++) {
        const int j = int(std::floor((y + 0.5) / step));
        const double fy = (y + 0.5) / step - j;
        const float* up = &grid[std::size_t(j) * rowFloats];
        const float* down = &grid[std::size_t(std::min(j + 1, rows - 1)) * rowFloats];
        for (std::size_t k = 0; k < rowFloats; k++) {
            const double u = up[k], d = down[k];
            line[k] = float(u + (d - u) * fy);
        }
        const int bayerRow = (y & 7) << 3;
        for (int k = 0; k < 8; k++) dithers[std::size_t(k)] = ((kBayer[std::size_t(bayerRow | k)] + 0.5) / 64 - 0.5) + 0.5;
        std::uint8_t* out = bgra + std::size_t(y) * stride;
        for (int x = 0; x < width; x++, out += 4) {
            const float* l = &line[std::size_t(columnAt[std::size_t(x)])];
            const double fx = fractionAt[std::size_t(x)], dither = dithers[std::size_t(x & 7)];
            const double l0 = l[0], l1 = l[1], l2 = l[2], l3 = l[3], l4 = l[4], l5 = l[5];
            out[2] = clamped(l0 + (l3 - l0) * fx + dither);
            out[1] = clamped(l1 + (l4 - l1) * fx + dither);
            out[0] = clamped(l2 + (l5 - l2) * fx + dither);
            out[3] = 255;
        }
    }
}

}  // namespace norvo::Backdrop
