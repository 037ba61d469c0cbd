#pragma once
#include <cstddef>
#include <string>

namespace norvo {

// A note read from a file, or from standard input for "-", by one set of rules for every way
// a note comes in (the command line, Open Note…, a file dropped or passed at launch): never
// more than `limit` bytes (a longer file or an endless pipe is refused once past it), UTF-8
// text without NUL bytes. A path must name a file: a FIFO, device or folder is refused
// without waiting on it; only standard input and the shell's own pipes (/dev/fd/N, as
// `<(command)` gives) are read as streams. Blocking on streams only; any thread.
struct NoteFileRead {
    enum class Problem { None, System, Folder, NotAFile, TooLong, NulByte, NotUtf8 };
    std::string text;
    Problem problem = Problem::None;
    int error = 0;              // the errno, for System
    std::size_t nulOffset = 0;  // for NulByte
    std::string notAFile;       // for NotAFile: what it is instead, as "it is a device, not a file"
    bool ok() const { return problem == Problem::None; }
};

NoteFileRead readNoteFile(const std::string& path, std::size_t limit);

}  // namespace norvo
