#pragma once
#include <cstddef>
#include <string>

namespace norvo {

// A note read from a file, or from standard input for "-", by one set of rules for every way
// a note comes in (the command line, Open Note…, a file dropped or passed at launch): never
// more than `limit` bytes (a longer file, an endless pipe or /dev/zero is refused once past
// it), UTF-8 text without NUL bytes. Blocking; any thread.
struct NoteFileRead {
    enum class Problem { None, System, Folder, TooLong, NulByte, NotUtf8 };
    std::string text;
    Problem problem = Problem::None;
    int error = 0;              // the errno, for System
    std::size_t nulOffset = 0;  // for NulByte
    bool ok() const { return problem == Problem::None; }
};

NoteFileRead readNoteFile(const std::string& path, std::size_t limit);

}  // namespace norvo
