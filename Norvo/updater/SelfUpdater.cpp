#include "updater/SelfUpdater.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>

#include <signal.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <glib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "BuildConfig.hpp"
#include "support/PrivateFolder.hpp"
#include "support/ResourceBundle.hpp"
#include "support/AtomicFile.hpp"
#include "updater/BundleSeal.hpp"
#include "updater/ZipExtractor.hpp"

namespace norvo {

namespace SelfUpdater {

namespace {

bool isReadOnlyLocation(const std::filesystem::path& destination) {
    if (destination.string().find("/AppTranslocation/") != std::string::npos) return true;
    // Only a Norvo.app folder can be swapped; a loose build or a system install cannot.
    if (destination.extension() != ".app") return true;
    struct statvfs fs {};
    if (statvfs(destination.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) return true;
    return access(destination.parent_path().c_str(), W_OK) != 0;
}

constexpr std::string_view kWorkPrefix = "update-";

// The update's working folder, "update-<pid>-XXXXXX": made new by mkdtemp (mode 0700, a name
// nobody can prepare), removed when the install fails at any step, handed to the swap script
// (which removes it after the swap) when it succeeds.
class WorkFolder {
public:
    explicit WorkFolder(const Setup& setup) {
        std::string pattern =
            (setup.temporaryFolder / (std::string(kWorkPrefix) + std::to_string(setup.pid) + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::filesystem::filesystem_error("cannot make the update's working folder", pattern,
                                                    std::error_code(errno, std::generic_category()));
        path_ = pattern;
    }
    ~WorkFolder() {
        if (handedOver_) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        if (ec) g_warning("could not remove %s: %s", path_.c_str(), ec.message().c_str());
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    void handOver() { handedOver_ = true; }

private:
    std::filesystem::path path_;
    bool handedOver_ = false;
};

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Streams the download into `archive`; memory stays flat whatever its size.
void download(const UpdateInfo& update, const Setup& setup, const std::filesystem::path& archive) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(archive.c_str(), "wbx"));
    if (!file)
        throw std::filesystem::filesystem_error("cannot write the update archive", archive,
                                                std::error_code(errno, std::generic_category()));
    const auto status =
        setup.session->download(update.downloadURL, file.get(), setup.downloadTimeout, setup.maxDownloadBytes, setup.pace);
    if (!status) throw NetworkError("the update could not be downloaded");
    if (*status != 200) throw UpdateFailure(UpdateError::download);
    if (std::fclose(file.release()) != 0)
        throw std::filesystem::filesystem_error("cannot write the update archive", archive,
                                                std::error_code(errno, std::generic_category()));
}

bool processIsGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

std::filesystem::path firstTopLevelApp(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".app") return entry.path();
    return {};
}

}  // namespace

Setup Setup::forThisProcess(HttpSession& session) {
    Setup s;
    s.destination = ResourceBundle::executableFolder();
    s.temporaryFolder = PrivateFolder::root();
    s.publicKey = makerPublicKey();
    s.session = &session;
    s.pid = getpid();
    return s;
}

std::string makerPublicKey() { return NORVO_UPDATE_PUBLIC_KEY; }

std::string verifySignature(const std::filesystem::path& bundle, const std::string& publicKey) {
    const auto version = BundleSeal::verify(bundle, publicKey);
    if (!version) throw UpdateFailure(UpdateError::badSignature);
    return *version;
}

void install(const UpdateInfo& update, const Setup& setup) {
    const std::filesystem::path destination = setup.destination;
    if (isReadOnlyLocation(destination)) throw UpdateFailure(UpdateError::readOnlyLocation);

    WorkFolder work(setup);
    const std::filesystem::path archive = work.path() / "update.zip";
    download(update, setup, archive);

    const std::filesystem::path unpacked = work.path() / "unpacked";
    if (!ZipExtractor::extract(archive, unpacked)) throw UpdateFailure(UpdateError::unpack);
    const std::filesystem::path newApp = firstTopLevelApp(unpacked);
    if (newApp.empty()) throw UpdateFailure(UpdateError::notFound);
    // The seal names its version: an older signed release offered as a newer one is refused.
    if (verifySignature(newApp, setup.publicKey) != update.version) throw UpdateFailure(UpdateError::badSignature);
    std::filesystem::remove(archive);  // not needed by the swap
    launchSwap(newApp, destination, work.path(), setup);
    work.handOver();
}

void removeLeftovers(const std::filesystem::path& temporaryFolder) {
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(temporaryFolder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        // "update-<pid>-XXXXXX"
        const std::string name = it->path().filename().string();
        if (name.rfind(kWorkPrefix, 0) != 0 || name.size() < kWorkPrefix.size() + 9) continue;
        const std::string digits = name.substr(kWorkPrefix.size(), name.size() - kWorkPrefix.size() - 7);
        if (name[name.size() - 7] != '-' || digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = pid_t(std::stol(digits));
        if (pid <= 0 || !processIsGone(pid)) continue;
        // Only our own leftovers: a folder of another user's is not ours to judge.
        struct stat st {};
        if (lstat(it->path().c_str(), &st) != 0 || st.st_uid != getuid()) continue;
        std::error_code removeError;
        std::filesystem::remove_all(it->path(), removeError);
        if (removeError) g_warning("could not remove %s: %s", it->path().c_str(), removeError.message().c_str());
    }
}

std::string swapScript(pid_t pid) {
    // The new bundle is copied beside the installed one and swapped in only when complete;
    // on any failure the old bundle stands (or is put back) and is the one relaunched.
    // $1 is the verified new bundle inside $3, the update's working folder; both go once
    // the swap is done, and so does the script itself.
    return "#!/bin/sh\n"
           "while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 0.2; done\n"
           "new=\"$2.new\"\n"
           "if rm -rf \"$2.bak\" \"$new\" && cp -a \"$1\" \"$new\" && mv \"$2\" \"$2.bak\" && mv \"$new\" \"$2\"; then\n"
           "  rm -rf \"$2.bak\"\n"
           "else\n"
           "  rm -rf \"$new\"\n"
           "  [ -d \"$2.bak\" ] && [ ! -e \"$2\" ] && mv \"$2.bak\" \"$2\"\n"
           "fi\n"
           "rm -rf \"$3\"; rm -f \"$0\"\n"
           "\"$2/norvo\" </dev/null >/dev/null 2>&1 &\n";
}

void launchSwap(const std::filesystem::path& newApp, const std::filesystem::path& dest,
                const std::filesystem::path& work, const Setup& setup) {
    const std::filesystem::path script = work / "swap.sh";
    const std::string text = swapScript(setup.pid);
    if (const auto error = writeFileAtomically(script, text))
        throw std::filesystem::filesystem_error("cannot write the swap script", script, error);
    const std::string sh = "/bin/sh";
    std::vector<char*> argv{const_cast<char*>(sh.c_str()), const_cast<char*>(script.c_str()),
                            const_cast<char*>(newApp.c_str()), const_cast<char*>(dest.c_str()),
                            const_cast<char*>(work.c_str()), nullptr};
    GError* error = nullptr;
    // Its own session: the script outlives Norvo and is not stopped with it.
    const gboolean started = g_spawn_async(
        nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, [](gpointer) { setsid(); }, nullptr, nullptr, &error);
    if (!started) {
        std::error_code ignored;
        std::filesystem::remove(script, ignored);
        const std::string message = error ? error->message : "cannot start /bin/sh";
        if (error) g_error_free(error);
        throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), message);
    }
}

}  // namespace SelfUpdater
}  // namespace norvo
