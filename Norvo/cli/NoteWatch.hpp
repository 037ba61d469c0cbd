#pragma once
// --watch: a note's cards are drawn again, under the same names, once its file has been saved
// and then left alone for 0.1 s (an editor's save is often several writes, or a new file
// renamed over the old one). Main thread only.
#include <deque>
#include <memory>
#include <vector>

#include <giomm/filemonitor.h>

#include "cli/NoteInputs.hpp"
#include "cli/RenderRun.hpp"

namespace norvo {

class NoteWatch {
public:
    // Watches every note of `notes` (each read again by `options` and `runStyle`) for `run`.
    NoteWatch(const RenderOptions& options, const CardStyle& runStyle, std::deque<Note>& notes, RenderRun& run);
    ~NoteWatch();
    NoteWatch(const NoteWatch&) = delete;
    NoteWatch& operator=(const NoteWatch&) = delete;

private:
    struct Watched {
        std::size_t note = 0;
        Glib::RefPtr<Gio::FileMonitor> monitor;
        sigc::connection settle;
        bool unreadable = false;  // its last save could not be read: a change of rights may fix it
    };
    void changed(Watched& watched, Gio::FileMonitor::Event event);
    void readAgain(Watched& watched);

    const RenderOptions& options_;
    const CardStyle& runStyle_;
    std::deque<Note>& notes_;
    RenderRun& run_;
    std::vector<std::unique_ptr<Watched>> watched_;
};

}  // namespace norvo
