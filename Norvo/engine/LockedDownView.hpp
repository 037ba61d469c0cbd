#pragma once
#include <functional>

#include <webkit/webkit.h>

#include "support/GPtr.hpp"

namespace norvo::LockedDownView {

// A web view for untrusted card text: an ephemeral network session, no developer tools,
// WebGL, media, storage, file access across URLs, new windows or permissions.
GObjectPtr<WebKitWebView> create(WebKitUserContentManager* contentManager);

// Adds the rules that block every http(s), ws and ftp load to `contentManager`: a compiled
// copy from an earlier run when there is one, else compiled now (which takes a while).
// `settled` runs on the main thread once the rules are in place, or have failed to load (the
// page's own policy still blocks the network then).
void blockNetwork(WebKitUserContentManager* contentManager, std::function<void()> settled);

}  // namespace norvo::LockedDownView
