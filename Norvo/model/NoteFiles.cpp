#include "model/NoteFiles.hpp"

#include <glibmm/i18n.h>
#include <glibmm/convert.h>
#include <glibmm/miscutils.h>
#include <glibmm/ustring.h>
#include <giomm/file.h>
#include <giomm/init.h>
#include <glibmm/main.h>

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

NoteFiles::NoteFiles(CardDocument& document, DesktopServices& services) : document_(document), services_(services) {
    Gio::init();  // the file monitor is a giomm wrapper; without GTK's start, giomm needs its own (once)
}

void NoteFiles::openNote() {
    services_.chooseFileToOpen(lifetime_.guard([this](std::optional<std::filesystem::path> path) {
        if (path) open(*path);
    }));
}

NoteFiles::~NoteFiles() {
    // The file stops being followed before anything it would reach goes.
    settle_.disconnect();
    if (monitor_) monitor_->cancel();
}

bool NoteFiles::hasUnsavedEdits() const {
    const std::string& text = document_.markdown();
    if (document_.noteFile().empty()) return !text.empty() && text != CardDocument::kSampleMarkdown;
    return !fileText_ || *fileText_ != text;
}

// Another note over unsaved edits: Save (then open), Discard or Cancel.
void NoteFiles::open(const std::filesystem::path& path) {
    if (!hasUnsavedEdits()) {
        openNow(path);
        return;
    }
    const Glib::ustring name = document_.noteFile().empty() ? Glib::ustring(_("the note")) :
                               Glib::ustring::compose("\u201c%1\u201d", displayName(document_.noteFile()));
    services_.showAlert(
        {Glib::ustring::compose(_("Save the changes to %1 before opening \u201c%2\u201d?"), name, displayName(path)),
         _("Your edits are lost if you don't save them."),
         {_("Save"), _("Discard"), _("Cancel")}},
        lifetime_.guard([this, path](std::size_t answer) {
            if (answer == 1) openNow(path);
            if (answer != 0) return;
            if (document_.noteFile().empty()) {
                saveNoteAs();  // the user opens the other note once this one has a home
                return;
            }
            write(document_.noteFile(), [this, path] { openNow(path); });
        }));
}

void NoteFiles::openNow(const std::filesystem::path& path) {
    const std::uint64_t ticket = ++opening_;
    background_.run<NoteFileRead>([path] { return readNoteFile(path.string(), Card::kMaxMarkdownBytes); },
                                  [this, path, ticket](NoteFileRead read) {
                                      if (ticket != opening_) return;  // another file was asked for since
                                      if (!read.ok()) {
                                          document_.setStatus(Glib::ustring::compose(_("Couldn't open \u201c%1\u201d: %2"),
                                                                                     displayName(path), whyRefused(read)));
                                          return;
                                      }
                                      fileText_ = read.text;
                                      document_.setNoteFile(path);
                                      document_.setMarkdown(std::move(read.text));
                                      document_.setStatus(
                                          Glib::ustring::compose(_("Opened \u201c%1\u201d"), displayName(path)));
                                      follow(path);
                                  });
}

void NoteFiles::save() {
    if (document_.noteFile().empty()) saveNoteAs();
    else write(document_.noteFile());
}

void NoteFiles::saveNoteAs() {
    const std::filesystem::path current = document_.noteFile();
    const std::string suggested = current.empty() ? Card::slug(document_.markdown(), "note") + ".md"
                                                  : current.filename().string();
    services_.chooseSaveFile(suggested, lifetime_.guard([this](std::optional<std::filesystem::path> path) {
        if (path) write(*path);
    }));
}

void NoteFiles::write(const std::filesystem::path& path, std::function<void()> then) {
    const std::string text = document_.markdown();
    background_.run<std::error_code>(
        [path, text] { return writeFileAtomically(path, std::string_view(text)); },
        [this, path, text, then = std::move(then)](std::error_code error) {
            if (error) {
                document_.setStatus(Glib::ustring::compose(_("Couldn't save \u201c%1\u201d: %2"), displayName(path),
                                                           Glib::ustring(error.message())));
                return;
            }
            fileText_ = text;
            document_.setNoteFile(path);
            document_.setStatus(Glib::ustring::compose(_("Saved \u2713 %1"), displayName(path)));
            follow(path);
            if (then) then();
        });
}

// Another editor saving the file (in place, or a new file renamed over it) reaches the note a
// moment after its last write.
void NoteFiles::follow(const std::filesystem::path& path) {
    if (monitor_) monitor_->cancel();
    settle_.disconnect();
    try {
        monitor_ = Gio::File::create_for_path(path.string())->monitor_file(Gio::FileMonitorFlags::WATCH_MOVES);
    } catch (const Glib::Error&) {
        monitor_.reset();  // a file system that cannot be watched: the note simply is not followed
        return;
    }
    monitor_->signal_changed().connect(
        [this](const Glib::RefPtr<Gio::File>&, const Glib::RefPtr<Gio::File>&, Gio::FileMonitor::Event event) {
            if (event == Gio::FileMonitor::Event::ATTRIBUTE_CHANGED || event == Gio::FileMonitor::Event::DELETED) return;
            settle_.disconnect();
            settle_ = Glib::signal_timeout().connect(
                [this] {
                    readAgain();
                    return false;
                },
                kSettleMs);
        });
}

void NoteFiles::readAgain() {
    const std::filesystem::path path = document_.noteFile();
    if (path.empty()) return;
    const std::uint64_t ticket = opening_;
    background_.run<NoteFileRead>([path] { return readNoteFile(path.string(), Card::kMaxMarkdownBytes); },
                                  [this, path, ticket](NoteFileRead read) {
                                      if (ticket != opening_ || path != document_.noteFile() || !read.ok()) return;
                                      if (fileText_ && read.text == *fileText_) return;  // our own save, or no change
                                      if (read.text == document_.markdown()) {
                                          fileText_ = read.text;
                                          return;
                                      }
                                      auto reload = [this, path, text = read.text] {
                                          fileText_ = text;
                                          document_.setMarkdown(text);
                                          document_.setStatus(Glib::ustring::compose(
                                              _("Reloaded \u201c%1\u201d: it changed on disk"), displayName(path)));
                                      };
                                      if (!hasUnsavedEdits()) {
                                          reload();
                                          return;
                                      }
                                      // Edits here and there: the user decides; nothing is overwritten unasked.
                                      fileText_ = read.text;
                                      services_.showAlert(
                                          {Glib::ustring::compose(_("\u201c%1\u201d changed on disk"), displayName(path)),
                                           _("Reload it and lose your edits here, or keep your edits (saving them "
                                             "replaces the file's new text)."),
                                           {_("Keep My Edits"), _("Reload")}},
                                          lifetime_.guard([reload](std::size_t answer) {
                                              if (answer == 1) reload();
                                          }));
                                  });
}

}  // namespace norvo
