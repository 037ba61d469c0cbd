#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

namespace norvo {

// Writes bytes to `path` through a temporary file made exclusively in the same folder
// (never through a link, never a name someone could guess and prepare), flushed to disk
// and renamed into place: a reader sees the old file or the whole new one. On failure the
// reason is returned and nothing of the attempt is left behind.
std::error_code writeFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

// The same for a file written a piece at a time (a PDF as its pages come): the file appears
// at `path` only on commit(); when the writer goes without a commit, nothing is left.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool write(const std::uint8_t* data, std::size_t size);  // false once anything failed
    std::error_code commit();
    const std::error_code& error() const { return error_; }

private:
    class TemporaryFile;
    std::filesystem::path path_;
    std::unique_ptr<TemporaryFile> temp_;
    std::error_code error_;
    bool committed_ = false;
};
std::error_code writeFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text);

}  // namespace norvo
