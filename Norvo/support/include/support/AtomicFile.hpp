#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

namespace norvo {

// How a write treats what it finds at its path.
struct WriteRules {
    // Replace: a link at the path is replaced as a link, never written through (Norvo's own
    // files, where someone may have put a link to make the write land elsewhere).
    // WriteThrough: the user named the path: a link leads to the file that is written (the
    // link stays), and a name of an open file descriptor (/dev/stdout, /dev/fd/N,
    // /proc/self/fd/N) writes into that descriptor.
    enum class Links { Replace, WriteThrough };
    Links links = Links::Replace;
    unsigned mode = 0666;  // of a new file, less the umask (0600: only the user may read it)
};

// The descriptor a path names for the process itself (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N, through links to them), if it names one.
std::optional<int> descriptorNamedBy(const std::filesystem::path& path);
// Notes the descriptors the process was started with (first thing in main): only those are
// written through by name, never one the process opened itself (its display's connection).
// Without a note, standard input, output and error are.
void noteInheritedDescriptors();
// The path a chain of links at `path` ends in: the file a write through them reaches.
std::filesystem::path pathThroughLinks(std::filesystem::path path);

// Writes bytes to `path` through a temporary file made exclusively in the same folder
// (never through a link, never a name someone could guess and prepare), flushed to disk
// and renamed into place: a reader sees the old file or the whole new one. On failure the
// reason is returned and nothing of the attempt is left behind.
// A link at `path` is replaced, never written through. Where `path` is not a file, nothing is
// renamed over it: a FIFO with a reader or a character device (a pipe to
// another program, /dev/null, /dev/stdout) is written into, anything else is refused.
std::error_code writeFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                                    WriteRules rules = {});

// The same for a file written a piece at a time (a PDF as its pages come): the file appears
// at `path` only on commit(); when the writer goes without a commit, nothing is left.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path path, WriteRules rules = {});
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool write(const std::uint8_t* data, std::size_t size);  // false once anything failed
    std::error_code commit();
    const std::error_code& error() const { return error_; }

    // Whether the bytes go straight into a FIFO or device rather than a file put in place.
    bool streams() const { return streamFd_ >= 0; }

private:
    class TemporaryFile;
    int fd() const;
    void openStream();
    std::filesystem::path path_;
    std::unique_ptr<TemporaryFile> temp_;
    int streamFd_ = -1;
    std::error_code error_;
    bool committed_ = false;
};
std::error_code writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                                    WriteRules rules = {});

// Takes back a file written above, when what it belonged to failed: a regular file is
// removed; a FIFO or device that was written into is left as it is.
void removeWrittenFile(const std::filesystem::path& path);
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text, WriteRules rules = {});

}  // namespace norvo
