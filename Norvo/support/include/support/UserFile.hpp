#pragma once
// Files the user (or a note, or a style) names: they may be a FIFO, a device, a folder or a
// link, huge, or anything else. Opened without blocking and checked for their type before a
// byte is read. Blocking only on a regular file's read; any thread.
#include <cstdint>
#include <filesystem>
#include <string>

#include <sys/types.h>

namespace norvo::UserFile {

enum class Links { Follow, Refuse };

struct Read {
    std::string bytes;
    std::string problem;  // empty when read; else why not, as "it is a folder"
    int error = 0;        // the errno, where the system refused
    bool ok() const { return problem.empty(); }
};

// The whole of a regular file of at most `maxBytes`; a FIFO, device, socket or folder is
// refused with the reason, and never opened for long enough to block.
Read readRegular(const std::filesystem::path& file, std::uintmax_t maxBytes, Links links = Links::Follow);

// Why something of mode `mode` is not a file to read, in words for the user ("it is a
// folder"), or empty for a regular file.
std::string notAFile(mode_t mode);

// Opens `file` for reading without blocking (a FIFO with no writer included), with the
// descriptor's blocking mode restored; -1 with errno set on failure.
int openWithoutBlocking(const std::filesystem::path& file, Links links = Links::Follow);

}  // namespace norvo::UserFile
