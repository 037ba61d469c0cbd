#include "updater/ZipExtractor.hpp"

#include "updater/RelativePath.hpp"

#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

namespace norvo::ZipExtractor {

namespace {

struct ReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
using ArchiveReader = std::unique_ptr<archive, ReadFree>;
using ArchiveWriter = std::unique_ptr<archive, WriteFree>;

}  // namespace

bool extract(const std::filesystem::path& archivePath, const std::filesystem::path& folder, Limits limits) {
    std::error_code ec;
    if (!std::filesystem::create_directory(folder, ec) || ec) return false;

    ArchiveReader in(archive_read_new());
    ArchiveWriter out(archive_write_disk_new());
    if (!in || !out) return false;
    archive_read_support_format_zip(in.get());
    // Names are checked here and then placed under `folder` as absolute paths, so
    // libarchive's own refusal of absolute paths cannot be used; its other guards stay.
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                  ARCHIVE_EXTRACT_NO_OVERWRITE | ARCHIVE_EXTRACT_TIME |
                                                  ARCHIVE_EXTRACT_PERM);
    if (archive_read_open_filename(in.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) return false;

    std::set<std::string> seen;
    std::uint64_t total = 0, entries = 0;
    archive_entry* entry = nullptr;
    while (true) {
        const int r = archive_read_next_header(in.get(), &entry);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK) return false;
        if (++entries > limits.maxEntries) return false;

        const char* rawName = archive_entry_pathname(entry);
        if (!rawName) return false;
        std::string name = rawName;
        const auto type = archive_entry_filetype(entry);
        if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_hardlink(entry) || archive_entry_symlink(entry))
            return false;
        if (!RelativePath::isClean(name, true)) return false;
        while (name.back() == '/') name.pop_back();
        if (!seen.insert(name).second) return false;

        // Permissions are ours to choose (and restored exactly, whatever the umask):
        // executables 0755, everything else 0644.
        const bool executable = (archive_entry_perm(entry) & 0111) != 0;
        archive_entry_set_perm(entry, type == AE_IFDIR ? 0755 : (executable ? 0755 : 0644));
        archive_entry_set_pathname(entry, (folder / name).c_str());
        if (archive_write_header(out.get(), entry) != ARCHIVE_OK) return false;
        if (type != AE_IFREG) continue;

        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        while (true) {
            const int d = archive_read_data_block(in.get(), &block, &size, &offset);
            if (d == ARCHIVE_EOF) break;
            if (d != ARCHIVE_OK) return false;
            total += size;  // counted as read: the header's size is not trusted
            if (total > limits.maxTotalBytes) return false;
            if (archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK) return false;
        }
        if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) return false;
    }
    return archive_write_close(out.get()) == ARCHIVE_OK;
}

}  // namespace norvo::ZipExtractor
