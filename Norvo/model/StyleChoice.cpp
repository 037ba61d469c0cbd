#include "model/StyleChoice.hpp"

#include <algorithm>

#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "UserDefaults.hpp"
#include "support/StyleFiles.hpp"

namespace norvo {

namespace {
constexpr const char* kStyleKey = "style";
}  // namespace

std::vector<std::string> StyleChoice::names() { return StyleFiles::names(); }

void StyleChoice::choose(const std::string& name) {
    chosen_ = name;
    UserDefaults::setString(kStyleKey, name);
    if (name.empty()) {
        document_.setStyle({});
        return;
    }
    StyleRead read = StyleFiles::load(name);
    if (read.problem) {
        document_.setStatus(Glib::ustring::compose(_("The style \u201c%1\u201d is not used: %2"), name,
                                                   read.problem->message));
        document_.setStyle({});
        return;
    }
    document_.setStyle(std::move(read.style));
}

void StyleChoice::stylesChanged() {
    const auto saved = names();
    choose(std::find(saved.begin(), saved.end(), chosen_) != saved.end() ? chosen_ : std::string());
    stylesChanged_.emit();
}

void StyleChoice::restore() {
    const std::string name = UserDefaults::string(kStyleKey).value_or("");
    if (name.empty()) return;
    const auto saved = names();
    if (std::find(saved.begin(), saved.end(), name) != saved.end()) choose(name);
}

}  // namespace norvo
