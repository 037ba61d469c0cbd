#include <gtest/gtest.h>

#include <csignal>
#include <set>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "TestSupport.hpp"
#include "WebTestSupport.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Presets.hpp"

using namespace norvo;
using namespace std::chrono_literals;
using norvo::testing::evaluate;
using norvo::testing::runUntil;

namespace {

RenderEngine::Options recorderPage() {
    RenderEngine::Options o;
    o.hostPage = std::filesystem::path(NORVO_TEST_PAGES) / "recorder.html";
    return o;
}

nlohmann::json calls(const RenderEngine& engine) {
    return nlohmann::json::parse(evaluate(engine.webView(), "JSON.stringify(window.calls)"));
}

// Renders once and waits; `done` tells whether the completion ran.
CardImagePtr renderAndWait(RenderEngine& engine, const std::string& markdown, const Preset& preset,
                           const std::string& font = "sans", bool* done = nullptr) {
    CardImagePtr image;
    bool finished = false;
    engine.render(CardRequest{.markdown = markdown, .settings = {.font = font, .size = preset}}, [&](CardImagePtr i) {
        image = std::move(i);
        finished = true;
    });
    runUntil([&] { return finished; }, 30s);
    if (done) *done = finished;
    return image;
}

}  // namespace

TEST(RenderEngine, QueuedRequestsRunAfterLoadInOrderAtExactSizes) {
    RenderEngine engine;  // the real host page
    ASSERT_FALSE(engine.isLoaded());
    std::vector<std::string> order;
    std::vector<CardImagePtr> images;
    for (const Preset& p : Presets::all())
        engine.render(CardRequest{.markdown = "# " + p.name, .settings = {.theme = "ink", .font = "serif", .size = p}}, [&, id = p.id](CardImagePtr image) {
            order.push_back(id);
            images.push_back(std::move(image));
        });
    // The first card asked for again, as a preview, while it waits: one drawing serves both.
    CardImagePtr again;
    engine.renderPreview(CardRequest{.markdown = "# Square", .settings = {.theme = "ink", .font = "serif"}},
                         [&](CardImagePtr image) {
                             order.push_back("square again");
                             again = std::move(image);
                         });
    ASSERT_TRUE(runUntil([&] { return order.size() == 5; }, 30s));
    EXPECT_EQ(order, (std::vector<std::string>{"square", "square again", "portrait", "landscape", "story"}));
    EXPECT_EQ(again, images[0]);
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(images[i]) << i;
        EXPECT_EQ(images[i]->width(), Presets::all()[i].width);
        EXPECT_EQ(images[i]->height(), Presets::all()[i].height);
        EXPECT_TRUE(images[i]->isOpaque());
    }
}

// What a script carries is the page protocol's own test; here it reaches a real page whole,
// the view sized before the script runs.
TEST(RenderEngine, ArgumentsReachThePageUnchanged) {
    RenderEngine engine(recorderPage());
    const std::string tricky = "Quote \" back\\slash\nline two </script><b>é 東京 👩‍👩‍👧 \u2028 end";
    ASSERT_TRUE(renderAndWait(engine, tricky, Presets::by("landscape"), "serif"));
    ASSERT_TRUE(renderAndWait(engine, "second", Presets::by("story")));
    const auto got = calls(engine);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0]["markdown"], tricky);
    EXPECT_EQ(got[0]["innerWidth"], 1200);
    EXPECT_EQ(got[0]["innerHeight"], 630);
    EXPECT_EQ(got[0]["font"], "Georgia, \"Times New Roman\", serif");
    EXPECT_EQ(got[1]["innerHeight"], 1920);
}

TEST(RenderEngine, OnlyCardsThePageDrewAreDelivered) {
    RenderEngine engine(recorderPage());
    bool done = false;
    EXPECT_FALSE(renderAndWait(engine, "throw", Presets::by("portrait"), "sans", &done));
    EXPECT_TRUE(done);
    const CardImagePtr image = renderAndWait(engine, "fine", Presets::by("portrait"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 1080);
    EXPECT_EQ(image->height(), 1350);
    const std::uint8_t* px = image->row(600) + 4 * 500;  // the page's green
    EXPECT_EQ(px[1], 200);

    done = false;
    EXPECT_FALSE(renderAndWait(engine, "bad \xff utf-8", Presets::by("square"), "sans", &done));
    EXPECT_TRUE(done);
}

TEST(RenderEngine, HungOrKilledPageDoesNotBlockLaterRequests) {
    RenderEngine::Options options = recorderPage();
    options.jobTimeout = 1500ms;
    RenderEngine engine(options);
    // Requests queued behind a hung one wait for the fresh page: only the hung one fails,
    // and nothing is drawn on the dead page.
    std::vector<CardImagePtr> results;
    for (const char* note : {"hang", "queued one", "queued two"})
        engine.render(CardRequest{.markdown = note},
                      [&](CardImagePtr image) { results.push_back(std::move(image)); });
    ASSERT_TRUE(runUntil([&] { return results.size() == 3; }, 30s));
    EXPECT_FALSE(results[0]);
    for (std::size_t i : {1u, 2u}) {
        ASSERT_TRUE(results[i]) << i;
        EXPECT_EQ(results[i]->row(500)[4 * 500 + 1], 200) << i;  // the page's green, not a blank page
    }
    EXPECT_EQ(calls(engine).size(), 2u);  // both waited for the second page

    // A web process that dies under a request completes it and reloads for the next.
    int completions = 0;
    CardImagePtr behind;
    bool behindDone = false;
    engine.render(CardRequest{.markdown = "one"}, [&](CardImagePtr) { ++completions; });
    engine.render(CardRequest{.markdown = "behind"}, [&](CardImagePtr image) {
        behind = std::move(image);
        behindDone = true;
    });
    webkit_web_view_terminate_web_process(engine.webView());
    ASSERT_TRUE(runUntil([&] { return completions == 1 && behindDone; }, 20s));
    ASSERT_TRUE(behind);
    EXPECT_EQ(behind->row(500)[4 * 500 + 1], 200);
    EXPECT_TRUE(renderAndWait(engine, "after the crash", Presets::by("story")));
    EXPECT_EQ(completions, 1);  // exactly once, also after a later card
}

// Kills the page's web process once the engine is drawing a card on a process not killed
// before; returns whether it did.
bool killPageWhileDrawing(const RenderEngine& engine, std::set<int>& killed) {
    int victim = 0;
    runUntil([&] {
        if (!engine.isLoaded() || engine.queueDepth() == 0) return false;
        for (int pid : norvo::testing::descendantsNamed(getpid(), "WebKitWebProces"))
            if (!killed.count(pid)) victim = pid;
        return victim != 0;
    }, 30s);
    if (victim == 0 || kill(victim, SIGKILL) != 0) return false;
    killed.insert(victim);
    return true;
}

TEST(RenderEngine, ACardWhosePageDiesIsDrawnOnceMoreWithPlainLineBreaking) {
    RenderEngine::Options options = recorderPage();
    options.jobTimeout = 60s;  // only the kills end a drawing here
    RenderEngine engine(options);
    std::set<int> killed;

    CardImagePtr image;
    int completions = 0;
    engine.render(CardRequest{.markdown = "dies"}, [&](CardImagePtr i) {
        image = std::move(i);
        ++completions;
    });
    ASSERT_TRUE(killPageWhileDrawing(engine, killed));
    ASSERT_TRUE(runUntil([&] { return completions == 1; }, 30s));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->row(500)[4 * 500 + 1], 200);
    const auto drawn = calls(engine);  // the fresh page's calls only
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0]["markdown"], "dies");
    EXPECT_EQ(drawn[0]["plainLayout"], true);

    // A card that kills the fresh page too fails, once; the next card is drawn as usual.
    completions = 0;
    engine.render(CardRequest{.markdown = "always dies"}, [&](CardImagePtr i) {
        image = std::move(i);
        ++completions;
    });
    ASSERT_TRUE(killPageWhileDrawing(engine, killed));
    ASSERT_TRUE(killPageWhileDrawing(engine, killed));
    ASSERT_TRUE(runUntil([&] { return completions == 1; }, 30s));
    EXPECT_FALSE(image);
    ASSERT_TRUE(renderAndWait(engine, "next", Presets::by("square")));
    EXPECT_EQ(calls(engine).back()["plainLayout"], false);
    EXPECT_EQ(completions, 1);
}

TEST(RenderEngine, PageThatNeverLoadsCompletesRequestsWithNothing) {
    RenderEngine::Options options;
    options.hostPage = "/nonexistent/norvo/host.html";
    options.loadTimeout = 1500ms;
    RenderEngine engine(options);
    int empty = 0;
    for (int i = 0; i < 3; ++i)
        engine.render(CardRequest{.markdown = "x"}, [&](CardImagePtr image) {
            if (!image) ++empty;
        });
    ASSERT_TRUE(runUntil([&] { return empty == 3; }, 10s));
}

TEST(RenderEngine, RemoteContentIsNeverFetched) {
    norvo::testing::TempFolder folder;
    const auto log = folder.path() / "requests.log";
    norvo::testing::writeFile(log, "");
    norvo::testing::ServerProcess server(
        {"python3", std::string(NORVO_TEST_PY_DIR) + "/counting_server.py", log.string()});
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port());

    // Through the real page: Markdown images, autolinks and raw tags.
    RenderEngine engine;
    ASSERT_TRUE(renderAndWait(engine,
                              "# Remote\n\n![pic](" + url + "/md.png)\n\n<img src=\"" + url + "/raw.png\">\n\n<" + url +
                                  "/auto>",
                              Presets::by("square")));
    // A page that puts an <img> in itself is stopped by the engine's own filter.
    RenderEngine bare(recorderPage());
    ASSERT_TRUE(renderAndWait(bare, "<img src=\"" + url + "/injected.png\">", Presets::by("square")));
    // The server works: a fetch outside the engine is logged.
    EXPECT_EQ(norvo::testing::runProcess({"python3", "-c", "import urllib.request;urllib.request.urlopen('" + url +
                                                               "/control').read()"})
                  .exitStatus,
              0);
    const auto logged = norvo::testing::readFile(log);
    EXPECT_EQ(std::string(logged.begin(), logged.end()), "/control\n");
}

TEST(RenderEngine, WebProcessIsRenewedBetweenJobs) {
    RenderEngine::Options options = recorderPage();
    options.recycleAfter = 2;
    RenderEngine engine(options);
    int drawn = 0;
    for (int i = 0; i < 5; ++i)
        engine.render(CardRequest{.markdown = "note"}, [&](CardImagePtr image) {
            if (image) ++drawn;
        });
    ASSERT_TRUE(runUntil([&] { return drawn == 5; }, 30s));
    EXPECT_EQ(calls(engine).size(), 1u);  // the fifth card had a page of its own
}
