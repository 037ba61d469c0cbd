#include "model/Drafts.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <glibmm/i18n.h>
#include <glibmm/ustring.h>
#include <nlohmann/json.hpp>

#include "model/UserDefaults.hpp"
#include "norvo/Card.hpp"
#include "support/AtomicFile.hpp"
#include "support/UserFile.hpp"

namespace norvo {

namespace {
constexpr const char* kReopenKey = "reopenLastNote";
// How a session stands in its draft: still running (so a launch that finds it knows the last
// one crashed), quit, or quit to install an update.
constexpr const char* kRunning = "running";
constexpr const char* kQuit = "quit";
constexpr const char* kUpdate = "update";
// A draft holds the note's text: only its user may read it.
constexpr WriteRules kPrivate{.mode = 0600};

// The draft: the card's settings (as they travel everywhere, the style by its name) with the
// note, its file and how the session stands.
std::string snapshot(const CardDocument& d, const char* session) {
    nlohmann::json draft = nlohmann::json::parse(d.settings().toJson());
    draft["session"] = session;
    draft["markdown"] = d.markdown();
    draft["noteFile"] = d.noteFile().string();
    return draft.dump();
}
}  // namespace

Drafts::Drafts(CardDocument& document, std::filesystem::path file) : document_(document), file_(std::move(file)) {}

Drafts::~Drafts() {
    if (timer_) g_source_remove(timer_);
    for (auto& c : connections_) c.disconnect();
    background_.waitForAll();
    if (lockFd_ >= 0) ::close(lockFd_);  // the slot is free for the next launch
}

namespace {
// The draft file of slot `n` (from 1): draft.json, draft-2.json, ...
std::filesystem::path slotFile(const std::filesystem::path& base, int n) {
    std::filesystem::path file = base;
    if (n > 1) file.replace_filename(base.stem().string() + "-" + std::to_string(n) + base.extension().string());
    return file;
}

// Whether the draft at `file` is of a session that never ended (a crash, or a quit to update).
bool holdsUnfinishedSession(const std::filesystem::path& file) {
    const UserFile::Read read = UserFile::readRegular(file, Drafts::kMostDraftBytes);
    if (!read.ok()) return false;
    const nlohmann::json draft = nlohmann::json::parse(read.bytes, nullptr, false);
    const auto session = draft.is_object() ? draft.find("session") : draft.end();
    return draft.is_object() && session != draft.end() && session->is_string() &&
           (*session == kRunning || *session == kUpdate);
}
}  // namespace

// The lock of `candidate`'s slot, held for this instance's life: its descriptor, or -1 when
// another instance holds it, and -2 when no lock can be made there at all.
int Drafts::lockSlot(const std::filesystem::path& candidate) {
    const std::string lock = candidate.string() + ".lock";
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        const std::error_code why{errno, std::generic_category()};
        file_ = candidate;
        failedToKeep(why);  // a folder nobody may write in: the user hears of it
        return -2;
    }
    struct stat lockStat {};
    if (::fstat(fd, &lockStat) == 0 && S_ISREG(lockStat.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    ::close(fd);
    return -1;
}

// The slot this instance keeps its draft in, its lock taken: the first free slot holding a
// session that never ended (so a crash draft comes back at the next launch, whichever slot it
// was in), else the first free slot. A slot whose draft is not a file (a folder or a FIFO
// someone put there) is passed over.
void Drafts::claimSlot() {
    const std::filesystem::path base = file_;
    std::error_code ignored;
    std::filesystem::create_directories(base.parent_path(), ignored);
    int firstFree = -1;
    std::filesystem::path firstFreeFile = base;  // every slot busy: share the first, as before there were slots
    for (int n = 1; n <= 32; ++n) {
        const std::filesystem::path candidate = slotFile(base, n);
        struct stat st {};
        const bool exists = ::lstat(candidate.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) continue;
        if (!exists && firstFree >= 0) continue;  // nothing to bring back, and a free slot is found
        const int fd = lockSlot(candidate);
        if (fd == -2) return;
        if (fd < 0) continue;
        if (exists && holdsUnfinishedSession(candidate)) {
            if (firstFree >= 0) ::close(firstFree);
            file_ = candidate;
            lockFd_ = fd;
            return;
        }
        if (firstFree >= 0) {
            ::close(fd);
            continue;
        }
        firstFree = fd;
        firstFreeFile = candidate;
    }
    file_ = firstFreeFile;
    lockFd_ = firstFree;
}

// An unreadable draft keeps its bytes under a new name beside it; the user is told where.
void Drafts::setAside(const std::string& why) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::filesystem::path aside = file_;
    aside.replace_filename(file_.stem().string() + "-unreadable-" + stamp + file_.extension().string());
    if (::renameat2(AT_FDCWD, file_.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
        g_warning("the draft %s %s; it was set aside as %s", file_.c_str(), why.c_str(), aside.c_str());
        document_.setStatus(Glib::ustring::compose(_("The last draft could not be read; it was kept as %1"),
                                                   aside.filename().string()));
    } else {
        // Not moved: it stays, and this session keeps its draft under another name.
        g_warning("the draft %s %s and could not be set aside: %s", file_.c_str(), why.c_str(), std::strerror(errno));
        file_.replace_filename(file_.stem().string() + "-" + std::to_string(::getpid()) + file_.extension().string());
        document_.setStatus(_("The last draft could not be read; it was left where it was"));
    }
}

void Drafts::failedToKeep(const std::error_code& error) {
    g_warning("could not keep the draft %s: %s", file_.c_str(), error.message().c_str());
    if (toldOfFailure_) return;
    toldOfFailure_ = true;
    document_.setStatus(Glib::ustring::compose(_("Your note cannot be kept if Norvo stops: %1"), error.message()));
}

std::filesystem::path Drafts::defaultFile() {
    return std::filesystem::path(g_get_user_state_dir()) / "norvo" / "draft.json";
}

bool Drafts::reopenLastNote() { return UserDefaults::string(kReopenKey).value_or("false") == "true"; }
void Drafts::setReopenLastNote(bool on) { UserDefaults::setString(kReopenKey, on ? "true" : "false"); }

bool Drafts::restoreFrom(const std::string& text) {
    const nlohmann::json draft = nlohmann::json::parse(text, nullptr, false);
    if (!draft.is_object()) {
        setAside("is not a draft");
        return false;
    }
    const std::string session = draft.value("session", std::string());
    const bool unfinished = session == kRunning || session == kUpdate;
    const std::string markdown = draft.value("markdown", std::string());
    if (!(unfinished || (session == kQuit && reopenLastNote())) ||
        !g_utf8_validate(markdown.data(), gssize(markdown.size()), nullptr))
        return false;
    // Unknown values fall back as any setting does.
    document_.setNoteFile(draft.value("noteFile", std::string()));
    // The style comes back with the style choice, which loads it.
    document_.setSettings(CardSettings::fromJson(text, document_.settings()));
    document_.setMarkdown(markdown);
    if (unfinished)
        document_.setStatus(session == kUpdate ? _("Your note is back as it was before the update")
                                               : _("Your note is back as it was when Norvo stopped"));
    return true;
}

bool Drafts::restore() {
    bool restored = false;
    claimSlot();
    const UserFile::Read read = UserFile::readRegular(file_, kMostDraftBytes);
    if (!read.ok() && read.error != ENOENT) {
        setAside(read.problem);
    } else if (read.ok()) {
        try {
            restored = restoreFrom(read.bytes);
        } catch (const std::exception& e) {  // a value of the wrong kind
            setAside(std::string("is not a draft (") + e.what() + ")");
        }
    }
    keeping_ = true;
    for (auto* signal :
         {&document_.signalMarkdownChanged(), &document_.signalSettingsChanged(), &document_.signalNoteFileChanged()})
        connections_.push_back(signal->connect(sigc::mem_fun(*this, &Drafts::changed)));
    writeSoon();  // this session is running from now on
    return restored;
}

void Drafts::end(Ending how) {
    if (!keeping_ || ended_) return;
    ended_ = true;
    if (timer_) g_source_remove(timer_);
    timer_ = 0;
    // Written here, on the main thread: the process is about to go. A write still running on
    // the worker finishes first (it is older), then this one replaces it.
    const std::string text = snapshot(document_, how == Ending::Update ? kUpdate : kQuit);
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    background_.waitForAll();
    if (const auto failed = writeFileAtomically(file_, std::string_view(text), kPrivate)) failedToKeep(failed);
}

void Drafts::changed() {
    if (!ended_) writeSoon();
}

// At most one write a second while the note changes.
void Drafts::writeSoon() {
    if (timer_ || ended_) return;
    timer_ = g_timeout_add(1000, +[](gpointer data) -> gboolean {
        auto* self = static_cast<Drafts*>(data);
        self->timer_ = 0;
        self->writeNow();
        return G_SOURCE_REMOVE;
    }, this);
}

// One write at a time, so that an older draft never lands over a newer one.
void Drafts::writeNow() {
    if (writing_) {
        dirty_ = true;
        return;
    }
    writing_ = true;
    background_.run<std::error_code>(
        [file = file_, text = snapshot(document_, kRunning)] {
            std::error_code ignored;
            std::filesystem::create_directories(file.parent_path(), ignored);
            return writeFileAtomically(file, std::string_view(text), kPrivate);
        },
        [this](std::error_code error) {
            if (error) failedToKeep(error);
            else toldOfFailure_ = false;
            writing_ = false;
            if (dirty_ && !ended_) {
                dirty_ = false;
                writeSoon();
            }
        });
}

}  // namespace norvo
