#include "model/NoteFiles.hpp"

#include <glibmm/i18n.h>
#include <glibmm/convert.h>
#include <glibmm/miscutils.h>
#include <glibmm/ustring.h>

#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/NoteFile.hpp"

namespace norvo {

namespace {
Glib::ustring displayName(const std::filesystem::path& path) {
    return Glib::filename_display_basename(path.string());
}

Glib::ustring whyRefused(const NoteFileRead& read) {
    switch (read.problem) {
    case NoteFileRead::Problem::System:
        return g_strerror(read.error);
    case NoteFileRead::Problem::Folder:
        return _("it is a folder");
    case NoteFileRead::Problem::NotAFile:
        return _("it is not a file (a pipe or a device)");
    case NoteFileRead::Problem::TooLong:
        return _("a note may hold up to 1 MiB");
    case NoteFileRead::Problem::NulByte:
    case NoteFileRead::Problem::NotUtf8:
        return _("it is not UTF-8 text");
    case NoteFileRead::Problem::None:
        break;
    }
    return {};
}
}  // namespace

NoteFiles::NoteFiles(CardDocument& document, DesktopServices& services) : document_(document), services_(services) {}

void NoteFiles::openNote() {
    services_.chooseFileToOpen(lifetime_.guard([this](std::optional<std::filesystem::path> path) {
        if (path) open(*path);
    }));
}

void NoteFiles::open(const std::filesystem::path& path) {
    const std::uint64_t ticket = ++opening_;
    background_.run<NoteFileRead>([path] { return readNoteFile(path.string(), Card::kMaxMarkdownBytes); },
                                  [this, path, ticket](NoteFileRead read) {
                                      if (ticket != opening_) return;  // another file was asked for since
                                      if (!read.ok()) {
                                          document_.setStatus(Glib::ustring::compose(_("Couldn't open \u201c%1\u201d: %2"),
                                                                                     displayName(path), whyRefused(read)));
                                          return;
                                      }
                                      document_.setNoteFile(path);
                                      document_.setMarkdown(std::move(read.text));
                                      document_.setStatus(
                                          Glib::ustring::compose(_("Opened \u201c%1\u201d"), displayName(path)));
                                  });
}

void NoteFiles::saveNoteAs() {
    const std::filesystem::path current = document_.noteFile();
    const std::string suggested = current.empty() ? Card::slug(document_.markdown(), "note") + ".md"
                                                  : current.filename().string();
    services_.chooseSaveFile(suggested, lifetime_.guard([this](std::optional<std::filesystem::path> path) {
        if (!path) return;
        const std::string text = document_.markdown();
        background_.run<std::error_code>(
            [path = *path, text] { return writeFileAtomically(path, std::string_view(text)); },
            [this, path = *path](std::error_code error) {
                if (error) {
                    document_.setStatus(Glib::ustring::compose(_("Couldn't save \u201c%1\u201d: %2"), displayName(path),
                                                               Glib::ustring(error.message())));
                    return;
                }
                document_.setNoteFile(path);
                document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1"), displayName(path)));
            });
    }));
}

}  // namespace norvo
