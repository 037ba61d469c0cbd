#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo {

// The user's own look on top of a theme: an accent colour, a background, fonts for the body,
// headings and code, and a signature. Every part is optional; an empty style is the theme as
// it is. Colours are "#rrggbb"; paths are absolute (a style file's relative paths are read
// against its folder).
struct CardStyle {
    enum class Background { Theme, Solid, Gradient, Image };

    std::string name;      // what the user calls it (its file's name); empty: theme only
    std::string accent;
    Background background = Background::Theme;
    std::vector<std::string> colors;  // Solid: one; Gradient: two
    double angle = 135;               // Gradient: degrees, as CSS draws them
    std::string image;                // Image: the picture's file
    // Each a font family installed here, or a .ttf/.otf file; empty: as the font setting says.
    std::string bodyFont, headingFont, codeFont;
    std::string signatureName, signatureHandle, avatar;  // avatar: a picture's file

    bool empty() const;
    bool operator==(const CardStyle&) const = default;
};

// What is wrong with a style file: the key and, in words for the user, why.
struct StyleProblem {
    std::string key;
    std::string message;
};

// A style as its JSON file writes it (named `name`, its relative paths against `folder`).
// Unknown keys are ignored; a wrong value is a problem naming its key.
struct StyleRead {
    CardStyle style;
    std::optional<StyleProblem> problem;
};
StyleRead parseStyle(std::string_view json, const std::string& name, const std::string& folder);
// Whether `name` can name a saved style: not empty, no "/", not hidden, not a file's name
// ending in ".json", at most 100 bytes.
bool isStyleName(std::string_view name);
// The style as JSON text, paths inside `folder` written relative to it.
std::string styleJson(const CardStyle& style, const std::string& folder);

// "#RGB" or "#RRGGBB" (any case) as "#rrggbb"; nothing for anything else.
std::optional<std::string> normalColor(std::string_view text);

}  // namespace norvo
