#pragma once
// libcurl and libarchive, opened at the first update instead of with every start: a run that
// renders cards never maps them, nor the TLS, LDAP and compression libraries they bring.
#include <archive.h>
#include <archive_entry.h>
#include <curl/curl.h>

namespace norvo {

// The libcurl functions the update uses. Any thread.
struct CurlFunctions {
    decltype(&::curl_global_init) globalInit = nullptr;
    decltype(&::curl_easy_init) easyInit = nullptr;
    decltype(&::curl_easy_setopt) easySetopt = nullptr;
    decltype(&::curl_easy_perform) easyPerform = nullptr;
    decltype(&::curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&::curl_easy_cleanup) easyCleanup = nullptr;

    // The functions, or null when libcurl cannot be opened (a warning says why): the update
    // then fails like one without a network.
    static const CurlFunctions* get();
};

// The libarchive functions the update uses. Any thread.
struct ArchiveFunctions {
    decltype(&::archive_read_new) readNew = nullptr;
    decltype(&::archive_read_free) readFree = nullptr;
    decltype(&::archive_read_support_format_zip) readSupportFormatZip = nullptr;
    decltype(&::archive_read_open_filename) readOpenFilename = nullptr;
    decltype(&::archive_read_next_header) readNextHeader = nullptr;
    decltype(&::archive_read_data_block) readDataBlock = nullptr;
    decltype(&::archive_write_disk_new) writeDiskNew = nullptr;
    decltype(&::archive_write_disk_set_options) writeDiskSetOptions = nullptr;
    decltype(&::archive_write_header) writeHeader = nullptr;
    decltype(&::archive_write_data_block) writeDataBlock = nullptr;
    decltype(&::archive_write_finish_entry) writeFinishEntry = nullptr;
    decltype(&::archive_write_close) writeClose = nullptr;
    decltype(&::archive_write_free) writeFree = nullptr;
    decltype(&::archive_entry_pathname) entryPathname = nullptr;
    decltype(&::archive_entry_filetype) entryFiletype = nullptr;
    decltype(&::archive_entry_hardlink) entryHardlink = nullptr;
    decltype(&::archive_entry_symlink) entrySymlink = nullptr;
    decltype(&::archive_entry_perm) entryPerm = nullptr;
    decltype(&::archive_entry_set_perm) entrySetPerm = nullptr;
    decltype(&::archive_entry_set_pathname) entrySetPathname = nullptr;

    // The functions, or null when libarchive cannot be opened (a warning says why).
    static const ArchiveFunctions* get();
};

}  // namespace norvo
