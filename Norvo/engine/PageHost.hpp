#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <webkit/webkit.h>

#include "support/GPtr.hpp"

namespace norvo {

// The offscreen view and its page's life: loading it, the load watchdog, reloading a page
// that failed, replacing the web process every so many jobs, and running scripts and
// snapshots on it. Knows nothing of cards. Main thread only; no callback of it runs after
// it is gone.
class PageHost {
public:
    struct Options {
        std::filesystem::path hostPage;  // empty: carder/host.html in the resource bundle
        std::chrono::milliseconds loadTimeout{15'000};
        std::size_t recycleAfter = 500;  // jobs per web process (0: never replaced)
    };
    struct Events {
        std::function<void()> ready;  // the page can take a job
        // The page under the current job went away: its web process died (`died`), or it
        // was replaced or reloaded.
        std::function<void(bool died)> lost;
        std::function<void()> unavailable;  // the page failed to load: nothing can be drawn for now
    };

    PageHost(Options options, Events events);
    ~PageHost();
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    bool ready() const { return pageLoaded_ && filterSettled_; }
    WebKitWebView* view() const { return view_.get(); }

    // Counts a job on this web process; false when the process is due to be replaced first
    // (ready() then turns true again on the fresh one).
    bool startJob();
    // The page is suspect (a failed or hung job): loads it again, on a fresh web process
    // when `replaceProcess`.
    void reload(bool replaceProcess);

    // Makes the page `markdown`-ready: highlight.js joins the page with its first code block.
    std::string withHighlighterFor(const std::string& markdown, std::string script);

    void resize(int width, int height);
    // Runs `script`; `answer` gets its string value, or nothing when it failed.
    void evaluate(const std::string& script, std::function<void(std::optional<std::string>)> answer);
    // Runs `body` as the body of an async function and waits for what it returns (a
    // promise is awaited); `answer` gets its string value, or nothing when it failed.
    void evaluateAsync(const std::string& body, std::function<void(std::optional<std::string>)> answer);
    // The view's pixels; `then` gets nothing when the snapshot failed.
    void snapshot(std::function<void(GObjectPtr<GdkTexture>)> then);

private:
    void load();
    void armLoadWatchdog();
    void onLoadChanged(WebKitLoadEvent event);
    gboolean decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    const std::string& highlighterSource();

    Options options_;
    Events events_;
    std::filesystem::path page_;
    std::string hostUri_;
    GObjectPtr<WebKitUserContentManager> contentManager_;
    GObjectPtr<WebKitWebView> view_;
    bool pageLoaded_ = false, loadFailed_ = false, filterSettled_ = false;
    std::size_t jobsOnThisProcess_ = 0;
    std::optional<std::string> highlighter_;
    bool highlighterInPage_ = false;
    GSource loadWatchdog_, reloadTimer_;
    std::shared_ptr<PageHost*> self_ = std::make_shared<PageHost*>(this);  // for late callbacks
};

}  // namespace norvo
