#pragma once
// The saved styles as a service: listed and read (a read is kept until its file changes),
// and written, renamed, deleted, duplicated and given pictures on a worker. What fails is
// said in the status line; the chosen style and the Style row follow every change. Main
// thread only (the file work runs on its worker).
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/CardDocument.hpp"
#include "model/StyleChoice.hpp"
#include "norvo/CardSettings.hpp"
#include "support/MainThread.hpp"

namespace norvo {

class StyleLibrary {
public:
    StyleLibrary(CardDocument& document, StyleChoice& choice);
    ~StyleLibrary();
    StyleLibrary(const StyleLibrary&) = delete;
    StyleLibrary& operator=(const StyleLibrary&) = delete;

    std::vector<std::string> names() const;
    // The saved style `name`, or why not; read again only when its file has changed.
    StyleRead load(const std::string& name);
    // For a note's front matter: load() as an overlay asks for it (while the library lives).
    StyleLookup lookup();

    // A new style (its name the first free one from `base`, "Name", "Name 2", ...), then worn.
    void create(const std::string& base, const std::string& accent);
    void duplicate(const CardStyle& style, const std::string& suffix);
    // Writes `style` under its name; the card wears it. The bundled styles are read-only:
    // saving, renaming or removing one only says so.
    void save(CardStyle style);
    // `style` under the name `to` (which no other saved style has); the old file goes.
    void rename(const CardStyle& style, const std::string& to, std::function<void(bool renamed)> then = {});
    // Deletes the style's file; the last style deleted can be brought back with undoRemove().
    void remove(const std::string& name);
    void undoRemove();
    // The name of the style undoRemove() would bring back, or nothing.
    const std::optional<CardStyle>& removed() const { return removed_; }
    // Copies `file` (a picture or font the user chose) beside the styles as "<style>-<name>",
    // so the styles folder can move whole; `then` hears the copy's path, or nothing.
    void keep(const std::string& style, const std::filesystem::path& file,
              std::function<void(std::optional<std::string>)> then);

    // The first name from `base` that no saved style has.
    std::string freeName(const std::string& base) const;

    // Whether `name` is bundled: then nothing changes, and the status line says why.
    bool refuseBundled(const std::string& name);

private:
    // Runs `work` (an error message, or empty) on the worker; then wears `wear` and tells.
    void change(std::function<std::string()> work, std::string wear, std::function<void(bool)> then = {});

    struct Cached {
        std::string stamp;  // the file's change time and size when read
        StyleRead read;
    };
    CardDocument& document_;
    StyleChoice& choice_;
    std::map<std::string, Cached> cache_;
    std::optional<CardStyle> removed_;  // the last style deleted, for an undo
    BackgroundTasks worker_;  // last: joined first
};

}  // namespace norvo
