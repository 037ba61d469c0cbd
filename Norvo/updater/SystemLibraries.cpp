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

// The function table `Functions` from `soname`, filled by `fill(functions, take)`, where
// `take(slot, name)` looks one function up; nothing when the library or a function is missing.
template <typename Functions, typename Fill>
std::optional<Functions> load(const SharedLibrary& library, const char* soname, Fill fill) {
    if (!library.loaded()) {
        g_warning("cannot open %s: %s", soname, library.error().c_str());
        return std::nullopt;
    }
    Functions functions;
    bool complete = true;
    fill(functions, [&](auto& slot, const char* name) { take(library, slot, name, complete); });
    if (!complete) return std::nullopt;
    return functions;
}

}  // namespace

const CurlFunctions* CurlFunctions::get() {
    static const SharedLibrary library("libcurl.so.4");
    static const auto functions = load<CurlFunctions>(library, "libcurl.so.4", [](CurlFunctions& f, auto take) {
        take(f.globalInit, "curl_global_init");
        take(f.easyInit, "curl_easy_init");
        take(f.easySetopt, "curl_easy_setopt");
        take(f.easyPerform, "curl_easy_perform");
        take(f.easyGetinfo, "curl_easy_getinfo");
        take(f.easyCleanup, "curl_easy_cleanup");
    });
    return functions ? &*functions : nullptr;
}

const ArchiveFunctions* ArchiveFunctions::get() {
    static const SharedLibrary library("libarchive.so.13");
    static const auto functions = load<ArchiveFunctions>(library, "libarchive.so.13", [](ArchiveFunctions& f, auto take) {
        take(f.readNew, "archive_read_new");
        take(f.readFree, "archive_read_free");
        take(f.readSupportFormatZip, "archive_read_support_format_zip");
        take(f.readOpenFilename, "archive_read_open_filename");
        take(f.readNextHeader, "archive_read_next_header");
        take(f.readDataBlock, "archive_read_data_block");
        take(f.writeDiskNew, "archive_write_disk_new");
        take(f.writeDiskSetOptions, "archive_write_disk_set_options");
        take(f.writeHeader, "archive_write_header");
        take(f.writeDataBlock, "archive_write_data_block");
        take(f.writeFinishEntry, "archive_write_finish_entry");
        take(f.writeClose, "archive_write_close");
        take(f.writeFree, "archive_write_free");
        take(f.entryPathname, "archive_entry_pathname");
        take(f.entryFiletype, "archive_entry_filetype");
        take(f.entryHardlink, "archive_entry_hardlink");
        take(f.entrySymlink, "archive_entry_symlink");
        take(f.entryPerm, "archive_entry_perm");
        take(f.entrySetPerm, "archive_entry_set_perm");
        take(f.entrySetPathname, "archive_entry_set_pathname");
    });
    return functions ? &*functions : nullptr;
}

}  // namespace norvo
