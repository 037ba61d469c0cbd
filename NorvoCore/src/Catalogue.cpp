#include "norvo/Catalogue.hpp"

#include <algorithm>

#include "ThemeTable.hpp"

// Labels are English here and translated where they are shown; N_ marks them for the
// translation template.
#define N_(text) text

namespace norvo {

namespace {

template <typename T>
bool contains(const std::vector<T>& all, std::string_view id) {
    return std::any_of(all.begin(), all.end(), [&](const T& t) { return t.id == id; });
}

template <typename T>
std::string listOf(const std::vector<T>& all) {
    std::string out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i) out += i + 1 == all.size() ? " or " : ", ";
        out += all[i].id;
    }
    return out;
}

}  // namespace

namespace Themes {
const std::vector<Theme>& all() {
    static const std::vector<Theme> themes = [] {
        std::vector<Theme> out;
        for (const ThemeTable::Entry& e : ThemeTable::all()) out.push_back({e.id, e.label});
        return out;
    }();
    return themes;
}
// The table's labels, for the translation template (a test keeps them equal to the table's).
[[maybe_unused]] const char* const kLabels[] = {N_("Paper"), N_("Ink"), N_("Sky")};
bool isKnown(std::string_view id) { return contains(all(), id); }
std::string idList() { return listOf(all()); }
}  // namespace Themes

namespace Fonts {
const std::vector<Font>& all() {
    static const std::vector<Font> fonts{
        {"sans", N_("Sans"), "-apple-system, 'SF Pro Text', 'Helvetica Neue', Arial, sans-serif"},
        {"serif", N_("Serif"), "Georgia, 'Times New Roman', serif"},
        {"mono", N_("Mono"), "'SF Mono', ui-monospace, Menlo, monospace"},
    };
    return fonts;
}
bool isKnown(std::string_view id) { return contains(all(), id); }
const Font& by(std::string_view id) {
    for (const Font& f : all())
        if (f.id == id) return f;
    return all().front();
}
std::string idList() { return listOf(all()); }
}  // namespace Fonts

}  // namespace norvo
