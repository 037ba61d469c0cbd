#include "norvo/CardStyle.hpp"

#include <cctype>
#include <cmath>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "Utf8.hpp"

namespace norvo {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

bool isFontFile(const std::string& value) {
    const std::string ext = fs::path(value).extension().string();
    return ext == ".ttf" || ext == ".otf" || ext == ".TTF" || ext == ".OTF";
}

std::string absoluteIn(const std::string& folder, const std::string& path) {
    const fs::path p(path);
    return (p.is_absolute() ? p : fs::path(folder) / p).lexically_normal().string();
}

std::string relativeIn(const std::string& folder, const std::string& path) {
    const fs::path p(path), base(folder);
    if (folder.empty() || !p.is_absolute()) return path;
    const fs::path relative = p.lexically_relative(base);
    return !relative.empty() && *relative.begin() != ".." ? relative.string() : path;
}

struct Reader {
    const json& root;
    const std::string& folder;
    std::optional<StyleProblem> problem;

    bool fail(std::string key, std::string message) {
        if (!problem) problem = StyleProblem{std::move(key), std::move(message)};
        return false;
    }
    // A string member of `object` at `key` (named `path` in messages), if there.
    std::optional<std::string> text(const json& object, const char* key, const std::string& path) {
        if (!object.contains(key) || object[key].is_null()) return std::nullopt;
        if (!object[key].is_string()) {
            fail(path, "is not text");
            return std::nullopt;
        }
        return object[key].get<std::string>();
    }
    std::optional<std::string> color(const json& object, const char* key, const std::string& path) {
        const auto value = text(object, key, path);
        if (!value) return std::nullopt;
        const auto normal = normalColor(*value);
        if (!normal) fail(path, "\"" + *value + "\" is not a colour like #1a7f64");
        return normal;
    }
    std::string font(const json& fonts, const char* key) {
        const auto value = text(fonts, key, std::string("fonts.") + key);
        if (!value || value->empty()) return {};
        if (value->size() > 200) {
            fail(std::string("fonts.") + key, "is too long for a font name");
            return {};
        }
        return isFontFile(*value) ? absoluteIn(folder, *value) : *value;
    }
    // The background's "gradient" (two colours) and "angle", worn by `s` when both are right.
    void gradient(const json& bg, CardStyle& s) {
        const json& g = bg["gradient"];
        std::vector<std::string> colors;
        if (g.is_array() && g.size() == 2 && g[0].is_string() && g[1].is_string()) {
            for (const json& c : g)
                if (auto n = normalColor(c.get<std::string>())) colors.push_back(*n);
        }
        if (colors.size() != 2) {
            fail("background.gradient", "is not two colours like [\"#ff7e5f\", \"#feb47b\"]");
            return;
        }
        s.background = CardStyle::Background::Gradient;
        s.colors = colors;
        if (!bg.contains("angle")) return;
        if (!bg["angle"].is_number() || !std::isfinite(bg["angle"].get<double>()))
            fail("background.angle", "is not a number of degrees");
        else
            s.angle = std::fmod(bg["angle"].get<double>(), 360.0);
    }
};

}  // namespace

bool CardStyle::empty() const {
    return accent.empty() && background == Background::Theme && bodyFont.empty() && headingFont.empty() &&
           codeFont.empty() && signatureName.empty() && signatureHandle.empty() && avatar.empty();
}

std::optional<std::string> normalColor(std::string_view text) {
    if (text.size() != 4 && text.size() != 7) return std::nullopt;
    if (text[0] != '#') return std::nullopt;
    std::string out = "#";
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = char(std::tolower(static_cast<unsigned char>(text[i])));
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        out += c;
        if (text.size() == 4) out += c;
    }
    return out;
}

StyleRead parseStyle(std::string_view text, const std::string& name, const std::string& folder) {
    StyleRead read;
    read.style.name = name;
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        read.problem = StyleProblem{"", "is not a JSON object"};
        return read;
    }
    Reader r{root, folder, std::nullopt};
    CardStyle& s = read.style;
    if (auto accent = r.color(root, "accent", "accent")) s.accent = *accent;

    if (root.contains("background") && !root["background"].is_null()) {
        const json& bg = root["background"];
        if (!bg.is_object()) {
            r.fail("background", "is not an object with \"color\", \"gradient\" or \"image\"");
        } else if (bg.contains("color")) {
            if (auto c = r.color(bg, "color", "background.color")) {
                s.background = CardStyle::Background::Solid;
                s.colors = {*c};
            }
        } else if (bg.contains("gradient")) {
            r.gradient(bg, s);
        } else if (bg.contains("image")) {
            if (auto image = r.text(bg, "image", "background.image")) {
                if (image->empty()) {
                    r.fail("background.image", "names no file");
                } else {
                    s.background = CardStyle::Background::Image;
                    s.image = absoluteIn(folder, *image);
                }
            }
        } else {
            r.fail("background", "has none of \"color\", \"gradient\" or \"image\"");
        }
    }
    if (root.contains("fonts") && !root["fonts"].is_null()) {
        const json& fonts = root["fonts"];
        if (!fonts.is_object()) {
            r.fail("fonts", "is not an object with \"body\", \"heading\" or \"code\"");
        } else {
            s.bodyFont = r.font(fonts, "body");
            s.headingFont = r.font(fonts, "heading");
            s.codeFont = r.font(fonts, "code");
        }
    }
    if (root.contains("signature") && !root["signature"].is_null()) {
        const json& sig = root["signature"];
        if (!sig.is_object()) {
            r.fail("signature", "is not an object with \"name\", \"handle\" or \"avatar\"");
        } else {
            s.signatureName = utf8::prefix(r.text(sig, "name", "signature.name").value_or(""), 60);
            s.signatureHandle = utf8::prefix(r.text(sig, "handle", "signature.handle").value_or(""), 40);
            const std::string avatar = r.text(sig, "avatar", "signature.avatar").value_or("");
            if (!avatar.empty()) s.avatar = absoluteIn(folder, avatar);
        }
    }
    if (r.problem) {
        read.problem = r.problem;
        read.style = CardStyle{};
        read.style.name = name;
    }
    return read;
}

bool isStyleName(std::string_view name) {
    return !name.empty() && name.size() <= 100 && name.find('/') == std::string_view::npos && name[0] != '.' &&
           !(name.size() >= 5 && name.substr(name.size() - 5) == ".json") && name.find('\0') == std::string_view::npos;
}

std::string styleJson(const CardStyle& s, const std::string& folder) {
    json out = json::object();
    if (!s.accent.empty()) out["accent"] = s.accent;
    switch (s.background) {
    case CardStyle::Background::Theme: break;
    case CardStyle::Background::Solid: out["background"] = {{"color", s.colors.at(0)}}; break;
    case CardStyle::Background::Gradient: out["background"] = {{"gradient", s.colors}, {"angle", s.angle}}; break;
    case CardStyle::Background::Image: out["background"] = {{"image", relativeIn(folder, s.image)}}; break;
    }
    json fonts = json::object();
    auto font = [&](const char* key, const std::string& value) {
        if (!value.empty()) fonts[key] = isFontFile(value) ? relativeIn(folder, value) : value;
    };
    font("body", s.bodyFont);
    font("heading", s.headingFont);
    font("code", s.codeFont);
    if (!fonts.empty()) out["fonts"] = fonts;
    json sig = json::object();
    if (!s.signatureName.empty()) sig["name"] = s.signatureName;
    if (!s.signatureHandle.empty()) sig["handle"] = s.signatureHandle;
    if (!s.avatar.empty()) sig["avatar"] = relativeIn(folder, s.avatar);
    if (!sig.empty()) out["signature"] = sig;
    return out.dump(2) + "\n";
}

}  // namespace norvo
