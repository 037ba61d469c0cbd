#include "engine/PageHost.hpp"

#include <fstream>
#include <iterator>

#include <gtk/gtk.h>

#include "support/StartupTimeline.hpp"
#include "engine/LockedDownView.hpp"
#include "support/ResourceBundle.hpp"

namespace norvo {

namespace {

// What an asynchronous WebKit call carries to its callback.
template <typename Callback>
struct Pending {
    std::weak_ptr<PageHost*> host;
    Callback then;
};

}  // namespace

PageHost::PageHost(Options options, Events events) : options_(std::move(options)), events_(std::move(events)) {
    page_ = options_.hostPage.empty() ? ResourceBundle::path() / "carder" / "host.html" : options_.hostPage;
    GCharPtr uri(g_filename_to_uri(page_.c_str(), nullptr, nullptr));
    hostUri_ = uri ? uri.get() : "";

    contentManager_ = adoptGObject(webkit_user_content_manager_new());
    view_ = LockedDownView::create(contentManager_.get());
    StartupTimeline::markOnce("view-created");
    g_signal_connect(view_.get(), "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer self) {
                         static_cast<PageHost*>(self)->onLoadChanged(e);
                     }), this);
    g_signal_connect(view_.get(), "load-failed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError* error, gpointer self) -> gboolean {
                         // A load replaced by a newer one is not a failure of the page.
                         if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
                         g_warning("the card page failed to load: %s", error ? error->message : "no reason");
                         static_cast<PageHost*>(self)->loadFailed_ = true;
                         return FALSE;
                     }), this);
    g_signal_connect(view_.get(), "web-process-terminated",
                     G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
                         auto* self = static_cast<PageHost*>(data);
                         const bool died = reason != WEBKIT_WEB_PROCESS_TERMINATED_BY_API;
                         if (died)
                             g_warning("the card page's web process %s; starting a fresh one",
                                       reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "ran out of memory"
                                                                                          : "crashed");
                         // Not ready before the job on it hears, so the jobs behind it wait for
                         // the fresh page instead of being drawn on the dead one.
                         self->pageLoaded_ = false;
                         const std::weak_ptr<PageHost*> alive = self->self_;
                         self->events_.lost(died);
                         if (!alive.expired()) self->load();
                     }), this);
    g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* d,
                                                                 WebKitPolicyDecisionType type, gpointer self) {
                         return static_cast<PageHost*>(self)->decidePolicy(d, type);
                     }), this);
    LockedDownView::blockNetwork(contentManager_.get(), [weak = std::weak_ptr<PageHost*>(self_)] {
        if (auto self = weak.lock()) {
            (*self)->filterSettled_ = true;
            if ((*self)->ready()) (*self)->events_.ready();
        }
    });
    if (hostUri_.empty()) g_warning("the card page %s has no file URI", page_.c_str());
    load();
}

PageHost::~PageHost() {
    if (!view_) return;
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    // The page's process ends with its host: one started to replace a stuck page must not
    // outlive the command that started it and write into the next one's terminal.
    webkit_web_view_terminate_web_process(view_.get());
}

void PageHost::load() {
    pageLoaded_ = false;
    loadFailed_ = false;
    highlighterInPage_ = false;
    jobsOnThisProcess_ = 0;
    if (hostUri_.empty()) return;
    webkit_web_view_load_uri(view_.get(), hostUri_.c_str());
    armLoadWatchdog();
}

void PageHost::armLoadWatchdog() {
    loadWatchdog_ = GSource(g_timeout_add(guint(options_.loadTimeout.count()), +[](gpointer data) -> gboolean {
        auto* self = static_cast<PageHost*>(data);
        self->loadWatchdog_.forget();
        const std::weak_ptr<PageHost*> alive = self->self_;
        self->events_.unavailable();
        if (!alive.expired()) self->load();
        return G_SOURCE_REMOVE;
    }, this));
}

void PageHost::onLoadChanged(WebKitLoadEvent event) {
    if (event == WEBKIT_LOAD_STARTED) {
        StartupTimeline::markOnce("load-started");
        loadFailed_ = false;
        // The page is being replaced: nothing drawn on it from now on is a card.
        pageLoaded_ = false;
        events_.lost(false);
    }
    if (event != WEBKIT_LOAD_FINISHED) return;
    StartupTimeline::markOnce("load-finished");
    if (loadFailed_) {
        // A page that cannot load fails what waits for it now and is tried again shortly.
        loadWatchdog_.reset();
        const std::weak_ptr<PageHost*> alive = self_;
        events_.unavailable();
        if (alive.expired()) return;
        reloadTimer_ = GSource(g_timeout_add(1000, +[](gpointer data) -> gboolean {
            auto* self = static_cast<PageHost*>(data);
            self->reloadTimer_.forget();
            self->load();
            return G_SOURCE_REMOVE;
        }, this));
        return;
    }
    loadWatchdog_.reset();
    pageLoaded_ = true;
    if (ready()) events_.ready();
}

gboolean PageHost::decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        if (uri && hostUri_ == uri) return FALSE;
    }
    webkit_policy_decision_ignore(decision);  // the page never navigates elsewhere
    return TRUE;
}

bool PageHost::startJob() {
    // A long-lived web process slowly keeps memory from cards of many sizes; a fresh one
    // between jobs costs about one page load every few thousand cards.
    if (options_.recycleAfter > 0 && jobsOnThisProcess_ >= options_.recycleAfter) {
        reload(true);
        return false;
    }
    ++jobsOnThisProcess_;
    return true;
}

void PageHost::reload(bool replaceProcess) {
    pageLoaded_ = false;
    if (replaceProcess)
        webkit_web_view_terminate_web_process(view_.get());  // web-process-terminated loads again
    else
        load();
}

const std::string& PageHost::highlighterSource() {
    if (!highlighter_) {
        const auto file = page_.parent_path() / "highlight.js";
        std::ifstream in(file, std::ios::binary);
        highlighter_ = std::string(std::istreambuf_iterator<char>(in), {});
        // Code then shows plain: a card still comes out, and the log says why it is plain.
        if (!in.good() && highlighter_->empty()) g_warning("could not read %s: code is shown unhighlighted", file.c_str());
    }
    return *highlighter_;
}

std::string PageHost::withHighlighterFor(const std::string& markdown, std::string script) {
    // highlight.js costs a quarter second to load, so a page gets it with its first code block.
    const bool hasFence = markdown.find("```") != std::string::npos || markdown.find("~~~") != std::string::npos;
    if (highlighterInPage_ || !hasFence) return script;
    highlighterInPage_ = true;
    return highlighterSource() + "\n;" + script;
}

void PageHost::resize(int width, int height) {
    GtkWidget* widget = GTK_WIDGET(view_.get());
    gtk_widget_set_size_request(widget, width, height);
    const GtkAllocation area{0, 0, width, height};
    gtk_widget_size_allocate(widget, &area, -1);
}

void PageHost::evaluate(const std::string& script, std::function<void(std::optional<std::string>)> answer) {
    using P = Pending<std::function<void(std::optional<std::string>)>>;
    webkit_web_view_evaluate_javascript(
        view_.get(), script.c_str(), gssize(script.size()), nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<P> p(static_cast<P*>(data));
            GError* raw = nullptr;
            GObjectPtr<JSCValue> value(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &raw));
            GErrorPtr error(raw);
            if (p->host.expired()) return;
            if (!value || !jsc_value_is_string(value.get())) {
                if (error) g_info("card script failed: %s", error->message);
                p->then(std::nullopt);
                return;
            }
            GCharPtr text(jsc_value_to_string(value.get()));
            p->then(std::string(text ? text.get() : ""));
        },
        std::make_unique<P>(P{self_, std::move(answer)}).release());
}

void PageHost::evaluateAsync(const std::string& body, std::function<void(std::optional<std::string>)> answer) {
    using P = Pending<std::function<void(std::optional<std::string>)>>;
    webkit_web_view_call_async_javascript_function(
        view_.get(), body.c_str(), gssize(body.size()), nullptr, nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<P> p(static_cast<P*>(data));
            GError* raw = nullptr;
            GObjectPtr<JSCValue> value(
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &raw));
            GErrorPtr error(raw);
            if (p->host.expired()) return;
            if (!value || !(jsc_value_is_string(value.get()) || jsc_value_is_number(value.get()))) {
                if (error) g_info("card script failed: %s", error->message);
                p->then(std::nullopt);
                return;
            }
            GCharPtr text(jsc_value_to_string(value.get()));
            p->then(std::string(text ? text.get() : ""));
        },
        std::make_unique<P>(P{self_, std::move(answer)}).release());
}

void PageHost::snapshot(std::function<void(GObjectPtr<GdkTexture>)> then) {
    using P = Pending<std::function<void(GObjectPtr<GdkTexture>)>>;
    webkit_web_view_get_snapshot(
        view_.get(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<P> p(static_cast<P*>(data));
            GError* raw = nullptr;
            GObjectPtr<GdkTexture> texture(webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &raw));
            GErrorPtr error(raw);
            if (p->host.expired()) return;
            p->then(std::move(texture));
        },
        std::make_unique<P>(P{self_, std::move(then)}).release());
}

}  // namespace norvo
