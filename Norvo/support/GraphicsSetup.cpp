#include "support/GraphicsSetup.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace norvo::GraphicsSetup {

namespace {

// A render node is how a GPU is offered to programs; without one, OpenGL is software.
bool hasRenderNode() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error))
        if (entry.path().filename().string().rfind("renderD", 0) == 0) return true;
    return false;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

void choose(Use use) {
    // Offscreen views show nothing through DMA-BUF; their snapshots are drawn all the same.
    if (!isSet("WEBKIT_DISABLE_DMABUF_RENDERER")) setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
    const bool withoutGl = use == Use::Headless || !hasRenderNode();
    if (withoutGl && !isSet("GDK_DEBUG") && !isSet("GSK_RENDERER")) setenv("GDK_DEBUG", "gl-disable", 1);
    // A card looks the same whatever the user's language: fontconfig otherwise matches the
    // page's fonts for the locale's language (a Chinese desktop drew headings in a CJK face).
    // The page names each script's language itself; the window's text is Pango's, which
    // passes the language it wants.
    setenv("FC_LANG", "en", 1);
}

}  // namespace norvo::GraphicsSetup
