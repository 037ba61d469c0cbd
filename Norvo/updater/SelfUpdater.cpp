#include "updater/SelfUpdater.hpp"

#include <fstream>

#include <fcntl.h>
#include <glib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "BuildConfig.hpp"
#include "engine/ResourceBundle.hpp"
#include "model/DesktopServices.hpp"
#include "updater/BundleSeal.hpp"
#include "updater/ZipExtractor.hpp"

namespace norvo {

const char* UpdateFailure::what() const noexcept {
    switch (error_) {
        case UpdateError::download: return "update download failed";
        case UpdateError::unpack: return "update archive could not be unpacked";
        case UpdateError::notFound: return "update archive holds no application";
        case UpdateError::badSignature: return "update is not signed by the maker";
        case UpdateError::readOnlyLocation: return "the application cannot be replaced where it is";
    }
    return "update failed";
}

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

std::filesystem::path firstTopLevelApp(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".app") return entry.path();
    return {};
}

}  // namespace

Setup Setup::forThisProcess(HttpSession& session) {
    Setup s;
    s.destination = ResourceBundle::executableFolder();
    s.temporaryFolder = g_get_tmp_dir();
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

    const std::string name = "tazu-update-" + std::to_string(setup.pid);
    const std::filesystem::path work = setup.temporaryFolder / name;
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    std::filesystem::create_directories(work);
    // Only this user may touch what is verified here before it is copied into place.
    std::filesystem::permissions(work, std::filesystem::perms::owner_all);

    const auto response = setup.session->get(update.downloadURL, setup.downloadTimeout, setup.maxDownloadBytes);
    if (!response) throw NetworkError("the update could not be downloaded");
    if (response->status != 200) throw UpdateFailure(UpdateError::download);
    const std::filesystem::path archive = work / "update.zip";
    if (!writeFileAtomically(archive, std::vector<std::uint8_t>(response->body.begin(), response->body.end())))
        throw std::filesystem::filesystem_error("cannot write the update archive", archive,
                                                std::make_error_code(std::errc::io_error));

    const std::filesystem::path unpacked = work / "unpacked";
    if (!ZipExtractor::extract(archive, unpacked)) throw UpdateFailure(UpdateError::unpack);
    const std::filesystem::path newApp = firstTopLevelApp(unpacked);
    if (newApp.empty()) throw UpdateFailure(UpdateError::notFound);
    // The seal names its version: an older signed release offered as a newer one is refused.
    if (verifySignature(newApp, setup.publicKey) != update.version) throw UpdateFailure(UpdateError::badSignature);
    launchSwap(newApp, destination, setup);
}

std::string swapScript(pid_t pid) {
    // The new bundle is copied beside the installed one and swapped in only when complete;
    // on any failure the old bundle stands (or is put back) and is the one relaunched.
    return "#!/bin/sh\n"
           "while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 0.2; done\n"
           "new=\"$2.new\"\n"
           "if rm -rf \"$2.bak\" \"$new\" && cp -a \"$1\" \"$new\" && mv \"$2\" \"$2.bak\" && mv \"$new\" \"$2\"; then\n"
           "  rm -rf \"$2.bak\"\n"
           "else\n"
           "  rm -rf \"$new\"\n"
           "  [ -d \"$2.bak\" ] && [ ! -e \"$2\" ] && mv \"$2.bak\" \"$2\"\n"
           "fi\n"
           "\"$2/norvo\" </dev/null >/dev/null 2>&1 &\n";
}

void launchSwap(const std::filesystem::path& newApp, const std::filesystem::path& dest, const Setup& setup) {
    const std::filesystem::path script =
        setup.temporaryFolder / ("tazu-update-" + std::to_string(setup.pid) + ".sh");
    const std::string text = swapScript(setup.pid);
    if (!writeFileAtomically(script, std::vector<std::uint8_t>(text.begin(), text.end())))
        throw std::filesystem::filesystem_error("cannot write the swap script", script,
                                                std::make_error_code(std::errc::io_error));
    const std::string sh = "/bin/sh";
    std::vector<char*> argv{const_cast<char*>(sh.c_str()), const_cast<char*>(script.c_str()),
                            const_cast<char*>(newApp.c_str()), const_cast<char*>(dest.c_str()), nullptr};
    GError* error = nullptr;
    // Its own session: the script outlives Norvo and is not stopped with it.
    const gboolean started = g_spawn_async(
        nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, [](gpointer) { setsid(); }, nullptr, nullptr, &error);
    if (!started) {
        const std::string message = error ? error->message : "cannot start /bin/sh";
        if (error) g_error_free(error);
        throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), message);
    }
}

}  // namespace SelfUpdater
}  // namespace norvo
