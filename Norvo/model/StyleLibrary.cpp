#include "model/StyleLibrary.hpp"

#include <algorithm>

#include <sys/stat.h>

#include <glibmm/i18n.h>
#include <glibmm/ustring.h>

#include "support/StyleFiles.hpp"

namespace norvo {

namespace fs = std::filesystem;

namespace {
std::string stampOf(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return {};
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_size);
}
}  // namespace

StyleLibrary::StyleLibrary(CardDocument& document, StyleChoice& choice) : document_(document), choice_(choice) {}

StyleLibrary::~StyleLibrary() { document_.setStyleLookup({}); }  // its lookup goes with it

std::vector<std::string> StyleLibrary::names() const { return StyleFiles::names(); }

StyleRead StyleLibrary::load(const std::string& name) {
    const std::string stamp = isStyleName(name) ? stampOf(StyleFiles::fileOf(name)) : std::string();
    if (const auto it = cache_.find(name); it != cache_.end() && !stamp.empty() && it->second.stamp == stamp)
        return it->second.read;
    StyleRead read = StyleFiles::loadSaved(name);
    if (stamp.empty()) cache_.erase(name);
    else cache_[name] = Cached{stamp, read};
    return read;
}

StyleLookup StyleLibrary::lookup() {
    return [this](const std::string& name, std::string& problem) -> std::optional<CardStyle> {
        StyleRead read = load(name);
        if (!read.problem) return std::move(read.style);
        problem = read.problem->message;
        return std::nullopt;
    };
}

std::string StyleLibrary::freeName(const std::string& base) const {
    const auto taken = names();
    std::string name = base;
    for (int n = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++n) name = base + " " + std::to_string(n);
    return name;
}

void StyleLibrary::change(std::function<std::string()> work, std::string wear, std::function<void(bool)> then) {
    worker_.run<std::string>(std::move(work), [this, wear = std::move(wear), then = std::move(then)](std::string error) {
        if (!error.empty())
            document_.setStatus(Glib::ustring::compose(_("The styles could not be changed: %1"), error));
        else
            choice_.choose(wear);
        choice_.stylesChanged();
        if (then) then(error.empty());
    });
}

void StyleLibrary::create(const std::string& base, const std::string& accent) {
    CardStyle style;
    style.name = freeName(base);
    style.accent = accent;
    change([style] { return StyleFiles::save(style); }, style.name);
}

void StyleLibrary::duplicate(const CardStyle& style, const std::string& suffix) {
    CardStyle copy = style;
    copy.name = freeName(style.name + " " + suffix);
    change([copy] { return StyleFiles::save(copy); }, copy.name);
}

bool StyleLibrary::refuseBundled(const std::string& name) {
    if (!StyleFiles::isBundled(name)) return false;
    document_.setStatus(Glib::ustring::compose(
        _("\u201c%1\u201d comes with Norvo and cannot be changed; duplicate it to make it your own"), name));
    return true;
}

void StyleLibrary::save(CardStyle style) {
    const std::string name = style.name;
    if (refuseBundled(name)) return;
    change([style = std::move(style)] { return StyleFiles::save(style); }, name);
}

void StyleLibrary::rename(const CardStyle& style, const std::string& to, std::function<void(bool)> then) {
    if (refuseBundled(style.name)) {
        if (then) then(false);
        return;
    }
    const auto taken = names();
    if (!isStyleName(to) || std::find(taken.begin(), taken.end(), to) != taken.end()) {
        document_.setStatus(_("A style needs a name of its own, without \u201c/\u201d"));
        if (then) then(false);
        return;
    }
    CardStyle renamed = style;
    renamed.name = to;
    change(
        [renamed, old = style.name] {
            if (std::string error = StyleFiles::save(renamed); !error.empty()) return error;
            std::error_code ec;
            fs::remove(StyleFiles::folder() / (old + ".json"), ec);  // the style's own file, written by Norvo
            return ec ? ec.message() : std::string();
        },
        to, std::move(then));
}

void StyleLibrary::remove(const std::string& name) {
    if (!isStyleName(name) || refuseBundled(name)) return;
    StyleRead read = load(name);
    if (!read.problem) removed_ = std::move(read.style);
    change(
        [name] {
            std::error_code ec;
            fs::remove(StyleFiles::folder() / (name + ".json"), ec);
            return ec ? ec.message() : std::string();
        },
        "");
}

void StyleLibrary::undoRemove() {
    if (!removed_) return;
    CardStyle style = std::move(*removed_);
    removed_.reset();
    const auto taken = names();
    if (std::find(taken.begin(), taken.end(), style.name) != taken.end()) style.name = freeName(style.name);
    const std::string name = style.name;
    change([style = std::move(style)] { return StyleFiles::save(style); }, name);
}

void StyleLibrary::keep(const std::string& style, const fs::path& file, std::function<void(std::optional<std::string>)> then) {
    worker_.run<std::optional<std::string>>(
        [style, file]() -> std::optional<std::string> {
            const fs::path folder = StyleFiles::folder();
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (file.parent_path() == folder) return file.string();
            const fs::path kept = folder / (style + "-" + file.filename().string());
            fs::copy_file(file, kept, fs::copy_options::overwrite_existing, ec);
            if (ec) return std::nullopt;
            return kept.string();
        },
        [this, then = std::move(then)](std::optional<std::string> kept) {
            if (!kept) document_.setStatus(_("The picture could not be copied into the styles folder"));
            then(std::move(kept));
        });
}

}  // namespace norvo
