#pragma once
#include <filesystem>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "model/CardDocument.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// Nothing typed is lost: the note and the card's settings are kept in a draft file, written
// atomically at most once a second while they change and when the session ends. The next
// launch restores them once when the last session did not end with a normal quit (a crash,
// or a quit to install an update), and after every quit when "Reopen the last note" is on.
// Each running instance keeps its own draft (draft.json, draft-2.json, ... each held by a
// lock while the instance runs), so two instances never write over each other's note; a launch
// takes over the slot of a session that crashed, whichever it was. Drafts are readable by their
// user only. A
// draft that cannot be read is set aside under a new name, never overwritten; a draft that
// cannot be kept says so in the status line.
// Main thread only; the writes run on a worker, one at a time.
class Drafts {
public:
    enum class Ending { Quit, Update };

    // `file`: where the first instance's draft is kept ($XDG_STATE_HOME/norvo/draft.json for
    // the app); others use the same name with "-2", "-3", ...
    Drafts(CardDocument& document, std::filesystem::path file);
    ~Drafts();
    Drafts(const Drafts&) = delete;
    Drafts& operator=(const Drafts&) = delete;

    static std::filesystem::path defaultFile();
    // The "Reopen the last note" setting (off: a normal launch starts fresh).
    static bool reopenLastNote();
    static void setReopenLastNote(bool on);

    // At launch: puts the draft back into the document when it should be, and says so in the
    // status line. From here on, changes are kept. Returns whether it restored anything.
    bool restore();
    // The session ends: the draft is written now, with how it ended.
    void end(Ending how);
    // The file this instance keeps its draft in (known once restore() ran).
    const std::filesystem::path& file() const { return file_; }

    // A draft file is read up to this size; a larger one is set aside unread.
    static constexpr std::uintmax_t kMostDraftBytes = 128u << 20;

private:
    void changed();
    void writeNow();
    void writeSoon();
    void claimSlot();
    int lockSlot(const std::filesystem::path& candidate);
    bool restoreFrom(const std::string& text);
    void setAside(const std::string& why);
    void failedToKeep(const std::error_code& error);

    CardDocument& document_;
    std::filesystem::path file_;
    int lockFd_ = -1;  // held while this instance keeps file_
    bool toldOfFailure_ = false;
    bool keeping_ = false, ended_ = false, writing_ = false, dirty_ = false;
    unsigned timer_ = 0;
    std::vector<sigc::connection> connections_;
    Lifetime lifetime_;
    BackgroundTasks background_;  // last: joined before the rest goes
};

}  // namespace norvo
