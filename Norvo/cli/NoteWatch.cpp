#include "cli/NoteWatch.hpp"

#include <cstdio>

#include <giomm/file.h>
#include <glibmm/main.h>
#include <glib/gi18n.h>

#include "norvo/Card.hpp"

namespace norvo {

NoteWatch::NoteWatch(const RenderOptions& options, const CardStyle& runStyle, std::deque<Note>& notes, RenderRun& run)
    : options_(options), runStyle_(runStyle), notes_(notes), run_(run) {
    for (std::size_t k = 0; k < notes_.size(); ++k) {
        auto w = std::make_unique<Watched>();
        w->note = k;
        try {
            w->monitor = Gio::File::create_for_path(notes_[k].label)->monitor_file(Gio::FileMonitorFlags::WATCH_MOVES);
        } catch (const Glib::Error& e) {
            std::fprintf(stderr, _("norvo render: cannot watch %s: %s\n"), notes_[k].label.c_str(), e.what());
            continue;
        }
        Watched* raw = w.get();
        w->monitor->signal_changed().connect(
            [this, raw](const Glib::RefPtr<Gio::File>&, const Glib::RefPtr<Gio::File>&, Gio::FileMonitor::Event event) {
                changed(*raw, event);
            });
        watched_.push_back(std::move(w));
    }
}

NoteWatch::~NoteWatch() {
    for (auto& w : watched_) w->settle.disconnect();
}

void NoteWatch::changed(Watched& w, Gio::FileMonitor::Event event) {
    // Rights and times alone change nothing, unless the note could not be read.
    if (event == Gio::FileMonitor::Event::ATTRIBUTE_CHANGED && !w.unreadable) return;
    w.settle.disconnect();
    w.settle = Glib::signal_timeout().connect(
        [this, &w] {
            readAgain(w);
            return false;
        },
        100);
}

void NoteWatch::readAgain(Watched& w) {
    Note& note = notes_[w.note];
    std::error_code gone;
    if (!std::filesystem::exists(std::filesystem::symlink_status(note.label, gone))) {
        std::fprintf(stderr, _("norvo render: %s was removed; its cards stay, and it is drawn again if it comes back\n"),
                     note.label.c_str());
        return;
    }
    const NoteFileRead read = readNoteFile(note.label, Card::kMaxMarkdownBytes);
    w.unreadable = !read.ok();
    if (!readable(note.label, read)) return;
    // An editor that empties the file before it writes it: the good cards are kept until the
    // note has text again.
    if (read.text.find_first_not_of(" \t\r\n\f\v") == std::string::npos && !note.markdown.empty()) {
        std::fprintf(stderr, _("norvo render: %s: its cards stay until it has text again\n"), note.label.c_str());
        return;
    }
    note.markdown = read.text;
    // The note's new look, on the cards it had: their sizes and names stay for the run.
    const std::vector<Preset> presets = note.look.presets;
    const bool pages = note.look.settings.pages;
    note.look = lookOf(note.label, note.markdown, options_, runStyle_);
    note.look.presets = presets;
    note.look.settings.pages = pages;
    run_.again(w.note);
}

}  // namespace norvo
