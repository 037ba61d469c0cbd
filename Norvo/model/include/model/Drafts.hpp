#pragma once
#include <filesystem>
#include <memory>

#include "model/CardDocument.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// Nothing typed is lost: the note and the card's settings are kept in a draft file, written
// atomically at most once a second while they change and when the session ends. The next
// launch restores them once when the last session did not end with a normal quit (a crash,
// or a quit to install an update), and after every quit when "Reopen the last note" is on.
// Main thread only; the writes run on a worker, one at a time.
class Drafts {
public:
    enum class Ending { Quit, Update };

    // `file`: where the draft is kept ($XDG_STATE_HOME/norvo/draft.json for the app).
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

private:
    void changed();
    void writeNow();
    void writeSoon();

    CardDocument& document_;
    std::filesystem::path file_;
    bool keeping_ = false, ended_ = false, writing_ = false, dirty_ = false;
    unsigned timer_ = 0;
    std::vector<sigc::connection> connections_;
    Lifetime lifetime_;
    BackgroundTasks background_;  // last: joined before the rest goes
};

}  // namespace norvo
