#pragma once
#include <filesystem>
#include <string>

#include <sys/types.h>

#include "updater/HttpSession.hpp"
#include "norvo/Updater.hpp"
#include "updater/UpdateError.hpp"

namespace norvo::SelfUpdater {

// Where an install happens and whom it trusts; the app takes the defaults, tests their own.
struct Setup {
    std::filesystem::path destination;    // the installed Norvo.app
    // A folder only this user can use: the update's working folder is made in it.
    std::filesystem::path temporaryFolder;
    std::string publicKey;                // base64 line of the maker's minisign.pub
    HttpSession* session = nullptr;
    pid_t pid = 0;                        // the process the swap waits for
    std::chrono::milliseconds downloadTimeout{10 * 60 * 1000};
    std::size_t maxDownloadBytes = 512u << 20;
    HttpSession::Pace pace;  // a stalled server does not hold the install

    // The running program's own bundle, the user's private folder, the compiled-in key,
    // this process.
    static Setup forThisProcess(HttpSession& session);
};

// Downloads, unpacks and verifies `update`, then starts the swap script. Blocking: run it on
// a worker thread. Throws UpdateFailure, NetworkError, or std::filesystem/system errors.
void install(const UpdateInfo& update, const Setup& setup);

// The bundle must carry a valid seal of the maker; throws UpdateFailure(badSignature)
// otherwise. Returns the sealed version.
std::string verifySignature(const std::filesystem::path& bundle, const std::string& publicKey);

// Removes the working folders ("update-<pid>-XXXXXX") of updates whose process no longer runs.
void removeLeftovers(const std::filesystem::path& temporaryFolder);

// Writes swap.sh into the update's working folder `work` and starts it with /bin/sh in its
// own session; the script removes `work` when the swap is done.
void launchSwap(const std::filesystem::path& newApp, const std::filesystem::path& dest,
                const std::filesystem::path& work, const Setup& setup);

// The script text for a process id (tests read it).
std::string swapScript(pid_t pid);

// The compiled-in maker key.
std::string makerPublicKey();

}  // namespace norvo::SelfUpdater
