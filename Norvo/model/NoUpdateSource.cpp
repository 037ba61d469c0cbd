#include "model/UpdateController.hpp"

// Built without self-update (distribution packages: the system updates Norvo). The app
// never offers an update, so nothing here is ever asked; an empty source says so.
namespace norvo {

UpdateController::Source UpdateController::Source::forThisApp() { return {}; }

UpdateController::Source UpdateController::Source::forThisApp(std::string) { return {}; }

}  // namespace norvo
