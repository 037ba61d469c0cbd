#include "model/NoteFiles.hpp"

#include <glibmm/i18n.h>
#include <glibmm/convert.h>
#include <glibmm/miscutils.h>
#include <glibmm/ustring.h>
#include <gio/gio.h>
#include <giomm/file.h>
#include <giomm/init.h>
#include <glibmm/main.h>

#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/GPtr.hpp"
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
    if (document_.noteFile().empty()) return !text.empty() && text != CardDocument::sampleMarkdown();
    return !fileText_ || *fileText_ != text;
}

Glib::ustring NoteFiles::noteName() const {
    return document_.noteFile().empty() ? Glib::ustring(_("the note"))
                                        : Glib::ustring::compose("\u201c%1\u201d", displayName(document_.noteFile()));
}

void NoteFiles::askToSave(const Glib::ustring& question, std::function<void()> then) {
    services_.showAlert({question, _("Your edits are lost if you don't save them."), {_("Save"), _("Discard"), _("Cancel")}},
                        lifetime_.guard([this, then = std::move(then)](std::size_t answer) {
                            if (answer == 1) then();
                            if (answer != 0) return;
                            if (document_.noteFile().empty()) {
                                saveNoteAs();  // the user goes on once this note has a home
                                return;
                            }
                            write(document_.noteFile(), then);
                        }));
}

// Another note over unsaved edits: Save (then open), Discard or Cancel.
void NoteFiles::open(const std::filesystem::path& path) {
    if (!hasUnsavedEdits()) {
        openNow(path);
        return;
    }
    askToSave(Glib::ustring::compose(_("Save the changes to %1 before opening \u201c%2\u201d?"), noteName(), displayName(path)),
              [this, path] { openNow(path); });
}

// An empty note without a file. What the editor holds that is not saved anywhere (typed
// here or an opened file's edits) is asked about first: a new note would replace it.
void NoteFiles::newNote() {
    auto start = [this] {
        ++opening_;  // a file still being read for an open is dropped
        settle_.disconnect();
        if (monitor_) monitor_->cancel();
        monitor_.reset();
        fileText_.reset();
        document_.setNoteFile({});
        document_.setMarkdown("");
        document_.setStatus("");
    };
    if (!hasUnsavedEdits()) {
        start();
        return;
    }
    askToSave(Glib::ustring::compose(_("Save the changes to %1 before starting a new note?"), noteName()), start);
}

// A note typed here (no file) is kept by the draft; an opened one is the user's file.
void NoteFiles::closeNote(std::function<void()> then) {
    if (mayCloseAtOnce()) {
        then();
        return;
    }
    askToSave(Glib::ustring::compose(_("Save the changes to %1 before quitting?"), noteName()), std::move(then));
}

void NoteFiles::followRestoredNote() {
    const std::filesystem::path path = document_.noteFile();
    if (path.empty()) return;
    const std::uint64_t ticket = opening_;
    background_.run<NoteFileRead>([path] { return readNoteFile(path.string(), Card::kMaxMarkdownBytes); },
                                  [this, path, ticket](NoteFileRead read) {
                                      if (ticket != opening_ || path != document_.noteFile()) return;
                                      if (read.ok()) fileText_ = std::move(read.text);
                                      follow(path);
                                  });
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

namespace {

// GIO writes as GNOME's editors do: a link is written through, the file keeps its mode and
// owner, and a file with hard links is written in place so that every name sees the edit.
std::string replaceContents(const std::filesystem::path& path, const std::string& text) {
    const GObjectPtr<GFile> file = adoptGObject(g_file_new_for_path(path.c_str()));
    GError* raw = nullptr;
    const bool saved = g_file_replace_contents(file.get(), text.data(), text.size(), nullptr, FALSE, G_FILE_CREATE_NONE,
                                               nullptr, nullptr, &raw);
    const GErrorPtr error(raw);
    if (saved) return {};
    // "Error opening file “/the/whole/path”: Permission denied": the status line names the file.
    const std::string why = error ? error->message : "unknown error";
    const std::size_t colon = why.rfind(": ");
    return colon == std::string::npos ? why : why.substr(colon + 2);
}
}  // namespace

// Saving the note's own file first checks that nobody changed it since it was read.
void NoteFiles::write(const std::filesystem::path& path, std::function<void()> then) {
    if (path != document_.noteFile()) {
        writeNow(path, std::move(then));
        return;
    }
    background_.run<std::optional<std::string>>(
        [path] {
            const NoteFileRead read = readNoteFile(path.string(), Card::kMaxMarkdownBytes);
            return read.ok() ? std::optional(read.text) : std::nullopt;
        },
        [this, path, text = document_.markdown(), then = std::move(then)](std::optional<std::string> onDisk) mutable {
            const bool changed = onDisk && *onDisk != text && (!fileText_ || *onDisk != *fileText_);
            if (!changed) {
                writeNow(path, std::move(then));
                return;
            }
            services_.showAlert({Glib::ustring::compose(_("\u201c%1\u201d changed on disk since it was read"), displayName(path)),
                                 _("Saving replaces its new text with yours."),
                                 {_("Cancel"), _("Replace")}},
                                lifetime_.guard([this, path, then = std::move(then)](std::size_t answer) mutable {
                                    if (answer == 1) writeNow(path, std::move(then));
                                }));
        });
}

void NoteFiles::writeNow(const std::filesystem::path& path, std::function<void()> then) {
    const std::string text = document_.markdown();
    background_.run<std::string>(
        [path, text] { return replaceContents(path, text); },
        [this, path, text, then = std::move(then)](std::string error) {
            if (!error.empty()) {
                document_.setStatus(Glib::ustring::compose(_("Couldn't save \u201c%1\u201d: %2"), displayName(path),
                                                           Glib::ustring(error)));
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
        // A note opened through a link changes where the link leads.
        monitor_ = Gio::File::create_for_path(pathThroughLinks(path).string())
                       ->monitor_file(Gio::FileMonitorFlags::WATCH_MOVES);
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
