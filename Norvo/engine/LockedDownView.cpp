#include "engine/LockedDownView.hpp"

#include <memory>
#include <string>

namespace norvo::LockedDownView {

namespace {

// Content-blocker rules: the page may never load anything from the network. The rule
// syntax has no alternation, hence one rule per scheme.
constexpr const char* kBlockNetworkRules = R"([
  {"trigger":{"url-filter":"^https?:"},"action":{"type":"block"}},
  {"trigger":{"url-filter":"^wss?:"},"action":{"type":"block"}},
  {"trigger":{"url-filter":"^ftp:"},"action":{"type":"block"}}
])";
// Named by version: a changed rule set must not meet an older compiled copy.
constexpr const char* kFilterId = "norvo-block-network-1";

void harden(WebKitSettings* s) {
    webkit_settings_set_enable_developer_extras(s, FALSE);
    webkit_settings_set_enable_webgl(s, FALSE);
    webkit_settings_set_enable_webaudio(s, FALSE);
    webkit_settings_set_enable_media(s, FALSE);
    webkit_settings_set_enable_media_stream(s, FALSE);
    webkit_settings_set_enable_mediasource(s, FALSE);
    webkit_settings_set_enable_encrypted_media(s, FALSE);
    webkit_settings_set_enable_webrtc(s, FALSE);
    webkit_settings_set_enable_html5_local_storage(s, FALSE);
    webkit_settings_set_enable_html5_database(s, FALSE);
    webkit_settings_set_enable_page_cache(s, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(s, FALSE);
    webkit_settings_set_allow_file_access_from_file_urls(s, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(s, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(s, FALSE);
    webkit_settings_set_hardware_acceleration_policy(s, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

// What the asynchronous filter steps carry from one to the next.
struct FilterRequest {
    GObjectPtr<WebKitUserContentManager> manager;
    GObjectPtr<WebKitUserContentFilterStore> store;
    std::function<void()> settled;

    void use(WebKitUserContentFilter* filter) {
        if (filter) {
            webkit_user_content_manager_add_filter(manager.get(), filter);
            webkit_user_content_filter_unref(filter);
        }
        settled();
    }
};

void compile(std::unique_ptr<FilterRequest> request) {
    GBytesPtr rules(g_bytes_new_static(kBlockNetworkRules, std::char_traits<char>::length(kBlockNetworkRules)));
    WebKitUserContentFilterStore* store = request->store.get();
    webkit_user_content_filter_store_save(
        store, kFilterId, rules.get(), nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<FilterRequest> r(static_cast<FilterRequest*>(data));
            GError* raw = nullptr;
            WebKitUserContentFilter* filter =
                webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &raw);
            GErrorPtr error(raw);
            if (error) g_warning("could not compile the network filter: %s", error->message);
            r->use(filter);
        },
        request.release());
}

}  // namespace

GObjectPtr<WebKitWebView> create(WebKitUserContentManager* contentManager) {
    GObjectPtr<WebKitNetworkSession> session = adoptGObject(webkit_network_session_new_ephemeral());
    GObjectPtr<WebKitSettings> settings = adoptGObject(webkit_settings_new());
    harden(settings.get());
    GtkWidget* widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session.get(), "settings",
                                                settings.get(), "user-content-manager", contentManager, nullptr));
    GObjectPtr<WebKitWebView> view(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    g_signal_connect(view.get(), "permission-request",
                     G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* r, gpointer) -> gboolean {
                         webkit_permission_request_deny(r);
                         return TRUE;
                     }),
                     nullptr);
    g_signal_connect(view.get(), "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) -> GtkWidget* {
                         return nullptr;  // no new windows
                     }),
                     nullptr);
    return view;
}

void blockNetwork(WebKitUserContentManager* contentManager, std::function<void()> settled) {
    GCharPtr folder(g_build_filename(g_get_user_cache_dir(), "norvo", "content-filters", nullptr));
    auto request = std::make_unique<FilterRequest>();
    request->manager.reset(WEBKIT_USER_CONTENT_MANAGER(g_object_ref(contentManager)));
    request->store = adoptGObject(webkit_user_content_filter_store_new(folder.get()));
    request->settled = std::move(settled);
    WebKitUserContentFilterStore* store = request->store.get();
    // Compiling the rules takes a while; a compiled copy from an earlier run is reused.
    webkit_user_content_filter_store_load(
        store, kFilterId, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<FilterRequest> r(static_cast<FilterRequest*>(data));
            GError* raw = nullptr;
            WebKitUserContentFilter* filter =
                webkit_user_content_filter_store_load_finish(WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &raw);
            GErrorPtr error(raw);
            if (filter)
                r->use(filter);
            else
                compile(std::move(r));
        },
        request.release());
}

}  // namespace norvo::LockedDownView
