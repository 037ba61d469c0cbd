#include "model/AppInfo.hpp"
#include "model/UpdateController.hpp"
#include "support/PrivateFolder.hpp"
#include "updater/SelfUpdater.hpp"
#include "updater/UpdateCheck.hpp"

// The real update source: the only place the model reaches the updater, so a build without
// self-update leaves this file, and the updater with its libraries, out.
namespace norvo {

UpdateController::Source UpdateController::Source::forThisApp() { return forThisApp(AppInfo::manifestURL()); }

UpdateController::Source UpdateController::Source::forThisApp(std::string manifestURL) {
    Source source;
    source.check = [manifestURL = std::move(manifestURL)](const std::string& currentVersion) {
        CurlHttpSession session(AppInfo::updateCaFile());
        return UpdateCheck::run(manifestURL, currentVersion, session);
    };
    source.install = [](const UpdateInfo& update) {
        CurlHttpSession session(AppInfo::updateCaFile());
        SelfUpdater::install(update, SelfUpdater::Setup::forThisProcess(session));
    };
    source.removeLeftovers = [] { SelfUpdater::removeLeftovers(PrivateFolder::root()); };
    return source;
}

}  // namespace norvo
