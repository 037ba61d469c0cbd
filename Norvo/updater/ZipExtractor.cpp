#include "updater/ZipExtractor.hpp"

#include "updater/RelativePath.hpp"

#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <sys/stat.h>

#include "updater/SystemLibraries.hpp"

namespace norvo::ZipExtractor {

namespace {

struct ReadFree {
    void operator()(archive* a) const { ArchiveFunctions::get()->readFree(a); }
};
struct WriteFree {
    void operator()(archive* a) const { ArchiveFunctions::get()->writeFree(a); }
};
using ArchiveReader = std::unique_ptr<archive, ReadFree>;
using ArchiveWriter = std::unique_ptr<archive, WriteFree>;

}  // namespace

bool extract(const std::filesystem::path& archivePath, const std::filesystem::path& folder, Limits limits) {
    std::error_code ec;
    if (!std::filesystem::create_directory(folder, ec) || ec) return false;

    const ArchiveFunctions* lib = ArchiveFunctions::get();
    if (!lib) return false;
    ArchiveReader in(lib->readNew());
    ArchiveWriter out(lib->writeDiskNew());
    if (!in || !out) return false;
    lib->readSupportFormatZip(in.get());
    // Names are checked here and then placed under `folder` as absolute paths, so
    // libarchive's own refusal of absolute paths cannot be used; its other guards stay.
    lib->writeDiskSetOptions(out.get(), ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                  ARCHIVE_EXTRACT_NO_OVERWRITE | ARCHIVE_EXTRACT_TIME |
                                                  ARCHIVE_EXTRACT_PERM);
    if (lib->readOpenFilename(in.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) return false;

    std::set<std::string> seen;
    std::uint64_t total = 0, entries = 0;
    archive_entry* entry = nullptr;
    while (true) {
        const int r = lib->readNextHeader(in.get(), &entry);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK) return false;
        if (++entries > limits.maxEntries) return false;

        const char* rawName = lib->entryPathname(entry);
        if (!rawName) return false;
        std::string name = rawName;
        const auto type = lib->entryFiletype(entry);
        if ((type != AE_IFREG && type != AE_IFDIR) || lib->entryHardlink(entry) || lib->entrySymlink(entry))
            return false;
        if (!RelativePath::isClean(name, true)) return false;
        while (name.back() == '/') name.pop_back();
        if (!seen.insert(name).second) return false;

        // Permissions are ours to choose (and restored exactly, whatever the umask):
        // executables 0755, everything else 0644.
        const bool executable = (lib->entryPerm(entry) & 0111) != 0;
        lib->entrySetPerm(entry, type == AE_IFDIR ? 0755 : (executable ? 0755 : 0644));
        lib->entrySetPathname(entry, (folder / name).c_str());
        if (lib->writeHeader(out.get(), entry) != ARCHIVE_OK) return false;
        if (type != AE_IFREG) continue;

        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        while (true) {
            const int d = lib->readDataBlock(in.get(), &block, &size, &offset);
            if (d == ARCHIVE_EOF) break;
            if (d != ARCHIVE_OK) return false;
            total += size;  // counted as read: the header's size is not trusted
            if (total > limits.maxTotalBytes) return false;
            if (lib->writeDataBlock(out.get(), block, size, offset) != ARCHIVE_OK) return false;
        }
        if (lib->writeFinishEntry(out.get()) != ARCHIVE_OK) return false;
    }
    return lib->writeClose(out.get()) == ARCHIVE_OK;
}

}  // namespace norvo::ZipExtractor
