#include "ClipboardServer.hpp"

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <glib.h>
#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include "image/PngEncoder.hpp"
#include "support/AtomicFile.hpp"
#include "support/GPtr.hpp"
#include "support/PrivateFolder.hpp"

namespace norvo::ClipboardServer {

namespace {
constexpr guint kServeSeconds = 10 * 60;

std::string ownExecutable() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}
}  // namespace

bool hand(const CardImage& card, const std::string& altText) {
    // Servers read their folder and remove it at once; one killed before that left it behind.
    PrivateFolder::removeLeftovers("copy", false, std::chrono::minutes(1));
    std::error_code error;
    const std::filesystem::path folder = PrivateFolder::make("copy", error);
    const auto png = PngEncoder::encode(card);
    if (error || !png || writeFileAtomically(folder / "card.png", *png) ||
        writeFileAtomically(folder / "card.txt", std::string_view(altText))) {
        std::fprintf(stderr, _("norvo render: could not prepare the card for the clipboard\n"));
        return false;
    }
    const std::string self = ownExecutable();
    const char* argv[] = {self.c_str(), "--serve-clipboard", folder.c_str(), nullptr};
    GPid pid = 0;
    int out = -1;
    GError* raw = nullptr;
    // Its own session: the server stays when the terminal or the calling script goes.
    const gboolean started = g_spawn_async_with_pipes(
        nullptr, const_cast<char**>(argv), nullptr, GSpawnFlags(G_SPAWN_STDERR_TO_DEV_NULL | G_SPAWN_STDIN_FROM_DEV_NULL),
        +[](gpointer) { setsid(); }, nullptr, &pid, nullptr, &out, nullptr, &raw);
    GErrorPtr spawnError(raw);
    if (!started) {
        std::fprintf(stderr, _("norvo render: could not start the clipboard server: %s\n"), spawnError->message);
        std::filesystem::remove_all(folder, error);
        return false;
    }
    g_spawn_close_pid(pid);
    // "ready" once the clipboard is the server's; a server that ends first has failed.
    std::string said;
    pollfd waiting{out, POLLIN, 0};
    char buffer[64];
    while (said.find('\n') == std::string::npos && poll(&waiting, 1, 15'000) > 0) {
        const ssize_t n = ::read(out, buffer, sizeof buffer);
        if (n <= 0) break;
        said.append(buffer, std::size_t(n));
    }
    ::close(out);
    if (said.rfind("ready", 0) != 0) {
        std::fprintf(stderr, _("norvo render: the clipboard could not take the card\n"));
        return false;
    }
    return true;
}

int serve(const std::filesystem::path& folder) {
    // Only ever a folder that `norvo render --copy` made: anything else is left untouched.
    if (!PrivateFolder::isMadeHere(folder, "copy")) {
        std::fprintf(stderr, _("norvo: --serve-clipboard takes only a folder that norvo render --copy made\n"));
        return 2;
    }
    struct Cleanup {
        std::filesystem::path folder;
        ~Cleanup() { removeNow(); }
        void removeNow() {
            std::error_code ignored;
            if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
            folder.clear();
        }
    } cleanup{folder};
    // The card and its text are read first and the folder goes: a server killed later leaves
    // nothing behind.
    GError* raw = nullptr;
    gchar* pngBytes = nullptr;
    gsize pngSize = 0;
    gchar* text = nullptr;
    const bool read = g_file_get_contents((folder / "card.png").c_str(), &pngBytes, &pngSize, nullptr) &&
                      g_file_get_contents((folder / "card.txt").c_str(), &text, nullptr, nullptr);
    GCharPtr altText(text);
    GBytesPtr cardBytes(pngBytes ? g_bytes_new_take(pngBytes, pngSize) : nullptr);
    cleanup.removeNow();
    if (!read || !gtk_init_check()) return 1;
    GObjectPtr<GdkTexture> texture = adoptGObject(gdk_texture_new_from_bytes(cardBytes.get(), &raw));
    GErrorPtr error(raw);
    if (!texture) return 1;

    GdkClipboard* clipboard = gdk_display_get_clipboard(gdk_display_get_default());
    GdkContentProvider* parts[] = {gdk_content_provider_new_typed(GDK_TYPE_TEXTURE, texture.get()),
                                   gdk_content_provider_new_typed(G_TYPE_STRING, altText.get())};
    GObjectPtr<GdkContentProvider> both = adoptGObject(gdk_content_provider_new_union(parts, 2));
    gdk_clipboard_set_content(clipboard, both.get());

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    // Something else copied: the clipboard is no longer ours, and the server's work is done.
    g_signal_connect(clipboard, "changed", G_CALLBACK(+[](GdkClipboard* c, gpointer data) {
                         if (!gdk_clipboard_is_local(c)) g_main_loop_quit(static_cast<GMainLoop*>(data));
                     }),
                     loop);
    g_timeout_add_seconds(kServeSeconds, +[](gpointer data) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(data));
        return G_SOURCE_REMOVE;
    }, loop);
    // The clipboard is set once the display has heard of it.
    gdk_display_sync(gdk_display_get_default());
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    // Nothing more is said: the caller has gone.
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) {
        ::dup2(devnull, STDOUT_FILENO);
        ::close(devnull);
    }
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return 0;
}

}  // namespace norvo::ClipboardServer
