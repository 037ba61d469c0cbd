#include "updater/SystemLibraries.hpp"

#include <optional>
#include <type_traits>

#include <glib.h>

#include "support/SharedLibrary.hpp"

namespace norvo {

namespace {

// Fills `slot` with `name` from `library`; `complete` turns false when it is missing.
template <typename Pointer>
void take(const SharedLibrary& library, Pointer& slot, const char* name, bool& complete) {
    slot = library.function<std::remove_pointer_t<Pointer>>(name);
    if (!slot) {
        g_warning("%s is missing from its library", name);
        complete = false;
    }
}

bool opened(const SharedLibrary& library, const char* soname) {
    if (!library.loaded()) g_warning("cannot open %s: %s", soname, library.error().c_str());
    return library.loaded();
}

}  // namespace

const CurlFunctions* CurlFunctions::get() {
    static const std::optional<CurlFunctions> functions = []() -> std::optional<CurlFunctions> {
        static const SharedLibrary library("libcurl.so.4");
        if (!opened(library, "libcurl.so.4")) return std::nullopt;
        CurlFunctions f;
        bool complete = true;
        take(library, f.globalInit, "curl_global_init", complete);
        take(library, f.easyInit, "curl_easy_init", complete);
        take(library, f.easySetopt, "curl_easy_setopt", complete);
        take(library, f.easyPerform, "curl_easy_perform", complete);
        take(library, f.easyGetinfo, "curl_easy_getinfo", complete);
        take(library, f.easyCleanup, "curl_easy_cleanup", complete);
        if (!complete) return std::nullopt;
        return f;
    }();
    return functions ? &*functions : nullptr;
}

const ArchiveFunctions* ArchiveFunctions::get() {
    static const std::optional<ArchiveFunctions> functions = []() -> std::optional<ArchiveFunctions> {
        static const SharedLibrary library("libarchive.so.13");
        if (!opened(library, "libarchive.so.13")) return std::nullopt;
        ArchiveFunctions f;
        bool complete = true;
        take(library, f.readNew, "archive_read_new", complete);
        take(library, f.readFree, "archive_read_free", complete);
        take(library, f.readSupportFormatZip, "archive_read_support_format_zip", complete);
        take(library, f.readOpenFilename, "archive_read_open_filename", complete);
        take(library, f.readNextHeader, "archive_read_next_header", complete);
        take(library, f.readDataBlock, "archive_read_data_block", complete);
        take(library, f.writeDiskNew, "archive_write_disk_new", complete);
        take(library, f.writeDiskSetOptions, "archive_write_disk_set_options", complete);
        take(library, f.writeHeader, "archive_write_header", complete);
        take(library, f.writeDataBlock, "archive_write_data_block", complete);
        take(library, f.writeFinishEntry, "archive_write_finish_entry", complete);
        take(library, f.writeClose, "archive_write_close", complete);
        take(library, f.writeFree, "archive_write_free", complete);
        take(library, f.entryPathname, "archive_entry_pathname", complete);
        take(library, f.entryFiletype, "archive_entry_filetype", complete);
        take(library, f.entryHardlink, "archive_entry_hardlink", complete);
        take(library, f.entrySymlink, "archive_entry_symlink", complete);
        take(library, f.entryPerm, "archive_entry_perm", complete);
        take(library, f.entrySetPerm, "archive_entry_set_perm", complete);
        take(library, f.entrySetPathname, "archive_entry_set_pathname", complete);
        if (!complete) return std::nullopt;
        return f;
    }();
    return functions ? &*functions : nullptr;
}

}  // namespace norvo
