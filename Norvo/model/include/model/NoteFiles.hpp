#pragma once
#include <filesystem>
#include <string>

#include "model/CardDocument.hpp"
#include "model/DesktopServices.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The note as a file: Open Note…, a file passed at launch or dropped on the editor, and
// Save Note As…. Every way in reads through the one note reader (1 MiB, UTF-8 text) and says
// in the status line why a file was refused. Files are read and written on a worker. Main
// thread only.
class NoteFiles {
public:
    NoteFiles(CardDocument& document, DesktopServices& services);
    NoteFiles(const NoteFiles&) = delete;
    NoteFiles& operator=(const NoteFiles&) = delete;

    // Asks which note to open, then opens it.
    void openNote();
    // Reads `path` into the editor; the note's file becomes `path`.
    void open(const std::filesystem::path& path);
    // Asks where to save the note's text, then writes it (atomically).
    void saveNoteAs();

private:
    CardDocument& document_;
    DesktopServices& services_;
    std::uint64_t opening_ = 0;  // the newest open asked for; older reads are dropped
    Lifetime lifetime_;
    BackgroundTasks background_;  // last: joined before the rest goes
};

}  // namespace norvo
