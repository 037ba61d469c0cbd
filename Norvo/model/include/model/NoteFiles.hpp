#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <giomm/filemonitor.h>
#include <glibmm/ustring.h>

#include "model/CardDocument.hpp"
#include "model/DesktopServices.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The note as a file: Open Note…, a file passed at launch or dropped on the editor, Save Note
// and Save Note As…. Every way in reads through the one note reader (1 MiB, UTF-8 text) and says
// in the status line why a file was refused. The opened file is followed: changed on disk (by
// another editor), it is read again, or, over unsaved edits, the user is asked; opening
// another note or quitting over unsaved edits asks to save them first, and saving over a file
// that changed since it was read asks before replacing it. A note is saved as GNOME's editors
// save (GIO): through a link to the file it names, keeping its mode, owner and hard links.
// Files are read and written on a worker. Main thread only.
class NoteFiles {
public:
    NoteFiles(CardDocument& document, DesktopServices& services);
    ~NoteFiles();
    NoteFiles(const NoteFiles&) = delete;
    NoteFiles& operator=(const NoteFiles&) = delete;

    // Starts an empty note without a file, asking first over what is not saved.
    void newNote();
    // Asks which note to open, then opens it.
    void openNote();
    // Reads `path` into the editor; the note's file becomes `path`.
    void open(const std::filesystem::path& path);
    // Asks where to save the note's text, then writes it (atomically).
    void saveNoteAs();
    // Writes the note to its file, or asks where when it has none.
    void save();
    // Whether the editor holds text its file (or, without one, nothing) does not.
    bool hasUnsavedEdits() const;
    // Before the app quits: an opened note with unsaved edits asks to Save, Discard or Cancel.
    // `then` runs unless the user cancels (after the save, once it worked).
    void closeNote(std::function<void()> then);
    // Whether closeNote() would go on without asking.
    bool mayCloseAtOnce() const { return document_.noteFile().empty() || !hasUnsavedEdits(); }
    // The note a draft brought back names its file: the file is read (to know what is unsaved)
    // and followed, as an opened one is.
    void followRestoredNote();

    // How long a file keeps changing before it is read again (an editor's save is a burst).
    static constexpr int kSettleMs = 100;

private:
    void openNow(const std::filesystem::path& path);
    Glib::ustring noteName() const;  // “plan.md”, or "the note" for one typed here
    // Asks `question` over unsaved edits: Save (then `then`), Discard (`then`) or Cancel.
    void askToSave(const Glib::ustring& question, std::function<void()> then);
    void write(const std::filesystem::path& path, std::function<void()> then = {});
    void writeNow(const std::filesystem::path& path, std::function<void()> then);
    void follow(const std::filesystem::path& path);
    void readAgain();

    CardDocument& document_;
    DesktopServices& services_;
    std::uint64_t opening_ = 0;  // the newest open asked for; older reads are dropped
    std::optional<std::string> fileText_;  // the opened file's text as last read or written
    Glib::RefPtr<Gio::FileMonitor> monitor_;
    sigc::connection settle_;
    Lifetime lifetime_;
    BackgroundTasks background_;  // last: joined before the rest goes
};

}  // namespace norvo
