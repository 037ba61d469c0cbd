#include "engine/RenderEngine.hpp"

#include <deque>
#include <fstream>
#include <iterator>
#include <utility>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "engine/LockedDownView.hpp"
#include "support/GPtr.hpp"
#include "engine/PngEncoder.hpp"
#include "support/ResourceBundle.hpp"
#include "norvo/CardScript.hpp"

namespace norvo {

struct RenderEngine::Job {
    std::string markdown, theme, font;
    Preset preset;
    bool wordmark = true;
    double scale = 1.0;
    bool report = false;
    RenderEngine::ReportCompletion completion;
    bool preview = false;  // may be replaced by a newer preview while it waits
    // Drawn again after its page died: plain line breaking, which no known WebKit fault needs.
    bool plainLayout = false;
    // A set of pages instead of one card: each page is drawn and snapshotted in turn.
    RenderEngine::PagesCompletion pagesCompletion;
    std::size_t pageCount = 0;
    std::vector<CardImagePtr> pageImages;
    std::vector<std::string> pageReports;

    bool pages() const { return bool(pagesCompletion); }
    // Hears back with nothing, exactly once.
    void fail() {
        if (pages())
            pagesCompletion({}, {});
        else if (completion)
            completion(nullptr, {});
    }
};

namespace {

using Job = RenderEngine::Job;

// A job whose completion wants the card only.
Job makeJob(const std::string& markdown, const std::string& theme, const std::string& font, const Preset& preset,
            bool wordmark, double scale, RenderEngine::Completion completion) {
    Job job;
    job.markdown = markdown;
    job.theme = theme;
    job.font = font;
    job.preset = preset;
    job.wordmark = wordmark;
    job.scale = scale;
    if (!completion) completion = [](CardImagePtr) {};
    job.completion = [completion = std::move(completion)](CardImagePtr image, std::string) {
        completion(std::move(image));
    };
    return job;
}

}  // namespace

struct RenderEngine::State : std::enable_shared_from_this<State> {
    Options options;
    std::string hostUri;
    GObjectPtr<WebKitWebView> view;
    GObjectPtr<WebKitUserContentManager> contentManager;

    bool pageLoaded = false;
    bool loadFailed = false;
    // highlight.js costs a quarter second to load, so a page gets it with its first code block.
    std::optional<std::string> highlighter;
    bool highlighterInPage = false;
    std::size_t jobsOnThisProcess = 0;
    bool filterSettled = false;
    std::deque<Job> queue;
    std::optional<Job> current;
    std::string currentReport;
    std::shared_ptr<CardImage> spare;  // the last card's pixels, reused once nobody holds them
    std::uint64_t currentTicket = 0;
    GSource loadWatchdog, jobWatchdog, reloadTimer;

    // What an asynchronous WebKit callback needs to find its job again.
    struct Ticket {
        std::weak_ptr<State> state;
        std::uint64_t id;
    };

    ~State() {
        if (view) g_signal_handlers_disconnect_by_data(view.get(), this);
        // Callers of a dying engine still hear back, exactly once.
        if (current) current->fail();
        for (Job& j : queue) j.fail();
    }

    bool ready() const { return pageLoaded && filterSettled; }

    void create() {
        contentManager = adoptGObject(webkit_user_content_manager_new());
        view = LockedDownView::create(contentManager.get());

        g_signal_connect(view.get(), "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer self) {
                             static_cast<State*>(self)->onLoadChanged(e);
                         }), this);
        g_signal_connect(view.get(), "load-failed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError* error, gpointer self) -> gboolean {
                             // A load replaced by a newer one is not a failure of the page.
                             if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
                                 return FALSE;
                             g_warning("the card page failed to load: %s", error ? error->message : "no reason");
                             static_cast<State*>(self)->loadFailed = true;
                             return FALSE;
                         }), this);
        g_signal_connect(view.get(), "web-process-terminated",
                         G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
                             if (reason != WEBKIT_WEB_PROCESS_TERMINATED_BY_API)
                                 g_warning("the card page's web process %s; starting a fresh one",
                                           reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "ran out of memory"
                                                                                              : "crashed");
                             static_cast<State*>(self)->onWebProcessGone(reason != WEBKIT_WEB_PROCESS_TERMINATED_BY_API);
                         }), this);
        g_signal_connect(view.get(), "decide-policy", G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* d,
                                                                    WebKitPolicyDecisionType type, gpointer self) {
                             return static_cast<State*>(self)->decidePolicy(d, type);
                         }), this);
        LockedDownView::blockNetwork(contentManager.get(), [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->filterSettled = true;
                self->pump();
            }
        });
        std::filesystem::path page = options.hostPage;
        if (page.empty()) page = ResourceBundle::path() / "carder" / "host.html";
        GCharPtr uri(g_filename_to_uri(page.c_str(), nullptr, nullptr));
        hostUri = uri ? uri.get() : "";
        load();
    }

    static bool hasCodeFence(const std::string& markdown) {
        return markdown.find("```") != std::string::npos || markdown.find("~~~") != std::string::npos;
    }

    const std::string& highlighterSource() {
        if (!highlighter) {
            std::filesystem::path page = options.hostPage;
            if (page.empty()) page = ResourceBundle::path() / "carder" / "host.html";
            std::ifstream in(page.parent_path() / "highlight.js", std::ios::binary);
            highlighter = std::string(std::istreambuf_iterator<char>(in), {});
        }
        return *highlighter;
    }

    void load() {
        pageLoaded = false;
        loadFailed = false;
        highlighterInPage = false;
        jobsOnThisProcess = 0;
        if (hostUri.empty()) return;
        webkit_web_view_load_uri(view.get(), hostUri.c_str());
        armLoadWatchdog();
    }

    void armLoadWatchdog() {
        loadWatchdog = GSource(g_timeout_add(guint(options.loadTimeout.count()), +[](gpointer self) -> gboolean {
            auto* s = static_cast<State*>(self);
            s->loadWatchdog.forget();
            s->failQueued();
            s->load();
            return G_SOURCE_REMOVE;
        }, this));
    }

    void onLoadChanged(WebKitLoadEvent event) {
        if (event == WEBKIT_LOAD_STARTED) {
            loadFailed = false;
            // The page is being replaced: nothing drawn on it from now on is a card.
            pageLoaded = false;
            if (current) finish(nullptr);
        }
        if (event != WEBKIT_LOAD_FINISHED) return;
        if (loadFailed) {
            // A page that cannot load fails its waiting requests now and is retried shortly.
            loadWatchdog.reset();
            failQueued();
            reloadTimer = GSource(g_timeout_add(1000, +[](gpointer self) -> gboolean {
                auto* s = static_cast<State*>(self);
                s->reloadTimer.forget();
                s->load();
                return G_SOURCE_REMOVE;
            }, this));
            return;
        }
        loadWatchdog.reset();
        pageLoaded = true;
        pump();
    }

    void onWebProcessGone(bool died) {
        if (died && current) {
            failAndReload();
            return;
        }
        // Not ready before the faulted job finishes, so the jobs behind it wait for the
        // fresh page instead of being drawn on the dead one.
        pageLoaded = false;
        if (current) finish(nullptr);
        load();
    }

    // The card whose page died or failed is drawn once more, first on the fresh page, with a
    // layout that avoids the line breakers WebKit has crashed in. (A dying page may first
    // answer the script with an error, so both faults lead here.)
    void retryWithPlainLayout() {
        jobWatchdog.reset();
        Job job = std::move(*current);
        current.reset();
        currentReport.clear();
        ++currentTicket;  // late callbacks of the dead page are stale
        job.plainLayout = true;
        job.pageCount = 0;
        job.pageImages.clear();
        job.pageReports.clear();
        g_warning("drawing the card again on a fresh page with plain line breaking");
        queue.push_front(std::move(job));
    }

    // Ends the web process; web-process-terminated then reloads the page.
    void replaceWebProcess() {
        pageLoaded = false;
        webkit_web_view_terminate_web_process(view.get());
    }

    gboolean decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            if (uri && hostUri == uri) return FALSE;
        }
        webkit_policy_decision_ignore(decision);  // the page never navigates elsewhere
        return TRUE;
    }

    void failQueued() {
        std::deque<Job> failed;
        failed.swap(queue);
        for (Job& j : failed) j.fail();
    }

    void pump() {
        if (!ready() || current || queue.empty()) return;
        // A long-lived web process slowly keeps memory from cards of many sizes; a fresh
        // one between jobs costs about one page load every few thousand cards.
        if (options.recycleAfter > 0 && jobsOnThisProcess >= options.recycleAfter) {
            replaceWebProcess();
            return;
        }
        ++jobsOnThisProcess;
        current = std::move(queue.front());
        queue.pop_front();
        const std::uint64_t ticket = ++currentTicket;
        const Job& job = *current;

        const auto card = job.pages()
                              ? CardScript::buildPages(job.markdown, job.theme, job.font, job.preset.width,
                                                       job.preset.height, job.wordmark, job.scale)
                              : CardScript::build(job.markdown, job.theme, job.font, job.preset.width,
                                                  job.preset.height, job.wordmark, job.scale);
        if (!card) {
            finish(nullptr);
            return;
        }
        // The script answers with the job's ticket only when the page drew the card: a
        // throwing, blank or replaced page answers with an error or another ticket. A report
        // follows the ticket on the next line; for a set of pages, the number of pages first.
        std::string script;
        if (job.pages())
            script = "(function(){var pages=" + *card + ";return '" + std::to_string(ticket) +
                     "\\n'+pages+'\\n'+JSON.stringify(window.tazuCardReport());})()";
        else
            script = "(function(){" + *card + ";return " +
                     (job.report ? "'" + std::to_string(ticket) + "\\n'+JSON.stringify(window.tazuCardReport())"
                                 : "'" + std::to_string(ticket) + "'") +
                     ";})()";
        script = std::string("document.documentElement.classList.toggle('plain-layout',") +
                 (job.plainLayout ? "true" : "false") + ");" + script;
        if (!highlighterInPage && hasCodeFence(job.markdown)) {
            script = highlighterSource() + "\n;" + script;
            highlighterInPage = true;
        }
        jobWatchdog = GSource(g_timeout_add(guint(options.jobTimeout.count()), +[](gpointer self) -> gboolean {
            auto* s = static_cast<State*>(self);
            s->jobWatchdog.forget();
            // A page that stops answering is replaced; the jobs behind this one wait for
            // the fresh page.
            s->pageLoaded = false;
            s->finish(nullptr);
            s->replaceWebProcess();
            return G_SOURCE_REMOVE;
        }, this));

        GtkWidget* widget = GTK_WIDGET(view.get());
        const int w = int(job.preset.width), h = int(job.preset.height);
        gtk_widget_set_size_request(widget, w, h);
        const GtkAllocation area{0, 0, w, h};
        gtk_widget_size_allocate(widget, &area, -1);

        draw(script, ticket);
    }

    // Runs a script that draws the current job's card and answers with its ticket, then
    // snapshots what it drew.
    void draw(const std::string& script, std::uint64_t ticket) {
        webkit_web_view_evaluate_javascript(
            view.get(), script.c_str(), gssize(script.size()), nullptr, nullptr, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Ticket> t(static_cast<Ticket*>(data));
                GError* raw = nullptr;
                GObjectPtr<JSCValue> value(
                    webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &raw));
                GErrorPtr error(raw);
                auto self = t->state.lock();
                if (!self || self->currentTicket != t->id || !self->current) return;
                std::string answer;
                if (value && jsc_value_is_string(value.get())) {
                    GCharPtr text(jsc_value_to_string(value.get()));
                    answer = text ? text.get() : "";
                }
                const std::string ticket = std::to_string(t->id);
                bool drawn = answer.compare(0, ticket.size(), ticket) == 0 &&
                             (answer.size() == ticket.size() || answer[ticket.size()] == '\n');
                std::string rest = drawn && answer.size() > ticket.size() ? answer.substr(ticket.size() + 1) : "";
                if (drawn && self->current->pages()) {
                    // "<pages>\n<report>": how many pages the set has.
                    const std::size_t nl = rest.find('\n');
                    const long pages = std::strtol(rest.substr(0, nl).c_str(), nullptr, 10);
                    drawn = pages > 0 && nl != std::string::npos;
                    if (drawn) {
                        self->current->pageCount = std::size_t(pages);
                        rest = rest.substr(nl + 1);
                    }
                }
                self->currentReport = std::move(rest);
                if (!drawn) {
                    if (error) g_info("card script failed: %s", error->message);
                    self->failAndReload();
                    return;
                }
                self->snapshot(std::move(t));
            },
            std::make_unique<Ticket>(Ticket{weak_from_this(), ticket}).release());
    }

    // One page of a set is done: draw the next one, or hand over the whole set.
    void pageDone(CardImagePtr image) {
        Job& job = *current;
        if (!image) {
            finish(nullptr);
            return;
        }
        job.pageImages.push_back(std::move(image));
        job.pageReports.push_back(std::move(currentReport));
        currentReport.clear();
        if (job.pageImages.size() >= job.pageCount) {
            finish(job.pageImages.back());
            return;
        }
        const std::size_t next = job.pageImages.size() + 1;
        draw("(function(){var pages=window.tazuCardShowPage(" + std::to_string(next) + ");return '" +
                 std::to_string(currentTicket) + "\\n'+pages+'\\n'+JSON.stringify(window.tazuCardReport());})()",
             currentTicket);
    }

    void snapshot(std::unique_ptr<Ticket> ticket) {
        webkit_web_view_get_snapshot(
            view.get(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Ticket> t(static_cast<Ticket*>(data));
                GError* raw = nullptr;
                GObjectPtr<GdkTexture> texture(
                    webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &raw));
                GErrorPtr error(raw);
                auto self = t->state.lock();
                if (!self || self->currentTicket != t->id || !self->current) return;
                if (!texture) {
                    self->failAndReload();
                    return;
                }
                CardImagePtr image = self->exactImage(texture.get(), self->current->preset);
                if (self->current->pages())
                    self->pageDone(std::move(image));
                else
                    self->finish(std::move(image));
            },
            ticket.release());
    }

    // The snapshot's pixels, into the engine's one reused buffer when no one holds the last
    // card any more (else into a fresh one, never cleared first: every byte is written).
    CardImagePtr exactImage(GdkTexture* texture, const Preset& preset) {
        const int tw = gdk_texture_get_width(texture), th = gdk_texture_get_height(texture);
        if (!CardImage::validSize(tw, th) || !CardImage::validSize(preset.width, preset.height)) return nullptr;
        std::shared_ptr<CardImage> image;
        if (spare && spare.use_count() == 1 && spare->width() == tw && spare->height() == th)
            image = spare;
        else
            image = std::make_shared<CardImage>(CardImage::uninitialized(tw, th));
        spare = image;
        gdk_texture_download(texture, image->data(), gsize(image->stride()));
        if (tw == preset.width && th == preset.height) return image;
        return std::make_shared<CardImage>(image->scaledTo(int(preset.width), int(preset.height)));
    }

    // A page that failed a job may be dying or broken: the next job waits for a fresh load,
    // so it is never drawn on a page whose web process is about to be reported gone.
    void failAndReload() {
        pageLoaded = false;
        if (current->plainLayout)
            finish(nullptr);
        else
            retryWithPlainLayout();
        load();
    }

    void finish(CardImagePtr image) {
        jobWatchdog.reset();
        Job job = std::move(*current);
        current.reset();
        std::string report = image ? std::move(currentReport) : std::string();
        currentReport.clear();
        ++currentTicket;  // late callbacks of this job are now stale
        auto keepAlive = shared_from_this();
        if (job.pages()) {
            if (image)
                job.pagesCompletion(std::move(job.pageImages), std::move(job.pageReports));
            else
                job.pagesCompletion({}, {});
        } else {
            job.completion(std::move(image), std::move(report));
        }
        pump();
    }
};

RenderEngine::RenderEngine() : RenderEngine(Options{}) {}

RenderEngine::RenderEngine(Options options) : state_(std::make_shared<State>()) {
    state_->options = std::move(options);
    state_->create();
}

RenderEngine::~RenderEngine() = default;

void RenderEngine::render(const std::string& markdown, const std::string& theme, const std::string& font,
                          const Preset& preset, bool wordmark, double scale, Completion completion) {
    queue(makeJob(markdown, theme, font, preset, wordmark, scale, std::move(completion)));
}

void RenderEngine::renderWithReport(const std::string& markdown, const std::string& theme, const std::string& font,
                                    const Preset& preset, bool wordmark, double scale, ReportCompletion completion) {
    Job job = makeJob(markdown, theme, font, preset, wordmark, scale, {});
    job.report = true;
    if (completion) job.completion = std::move(completion);
    queue(std::move(job));
}

void RenderEngine::queue(Job job) {
    if (!CardImage::validSize(job.preset.width, job.preset.height)) {
        job.fail();
        return;
    }
    if (job.preview) {
        // A preview still waiting is replaced by the newer one in its place; both hear back
        // with the newer card, so every request still completes exactly once.
        for (auto it = state_->queue.rbegin(); it != state_->queue.rend(); ++it) {
            if (!it->preview) continue;
            auto earlier = std::move(it->completion);
            auto later = std::move(job.completion);
            *it = std::move(job);
            it->completion = [earlier = std::move(earlier), later = std::move(later)](CardImagePtr image,
                                                                                      std::string report) {
                later(image, report);  // the newest first: it is what the card now shows
                earlier(std::move(image), std::move(report));
            };
            return;
        }
    }
    state_->queue.push_back(std::move(job));
    state_->pump();
}

void RenderEngine::renderPreview(const std::string& markdown, const std::string& theme, const std::string& font,
                                 const Preset& preset, bool wordmark, double scale, Completion completion) {
    Job job = makeJob(markdown, theme, font, preset, wordmark, scale, std::move(completion));
    job.preview = true;
    queue(std::move(job));
}

void RenderEngine::renderPages(const std::string& markdown, const std::string& theme, const std::string& font,
                               const Preset& preset, bool wordmark, double scale, PagesCompletion completion) {
    if (!completion) completion = [](std::vector<CardImagePtr>, std::vector<std::string>) {};
    Job job = makeJob(markdown, theme, font, preset, wordmark, scale, {});
    job.pagesCompletion = std::move(completion);
    queue(std::move(job));
}

std::size_t RenderEngine::queueDepth() const { return state_->queue.size() + (state_->current ? 1 : 0); }

std::optional<std::vector<std::uint8_t>> RenderEngine::png(const CardImage& image, std::int64_t width,
                                                           std::int64_t height) {
    if (!CardImage::validSize(width, height)) return std::nullopt;
    if (image.width() == width && image.height() == height) return PngEncoder::encode(image);
    return PngEncoder::encode(image.scaledTo(int(width), int(height)));
}

bool RenderEngine::isLoaded() const { return state_->ready(); }

WebKitWebView* RenderEngine::webView() const { return state_->view.get(); }

}  // namespace norvo
