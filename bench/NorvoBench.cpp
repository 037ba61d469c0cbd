// Prints timing, size and memory figures for the render path. Run under a display
// (xvfb-run -a). Every figure is a median unless it says otherwise.
// `norvo-bench --export-stall` runs only (h), the main-loop stall while a set is exported;
// `--huge-notes` only (i), the hardest notes under the size limit; `--set-memory` only (j);
// `--timeline [RUNS]` only (k), the phases of a cold start beside an empty WebKit page's;
// `--pictures [RUNS]` only (l), the cost of a photo on a card; `--floor [RUNS]` the table of
// the render path's floor: stream against batch, a warm request, the browser loop, encoding,
// the pixel copy and cold starts, each beside its reference.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <filesystem>

#include <glib.h>
#include <webkit/webkit.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/RenderEngine.hpp"
#include "model/CardActions.hpp"
#include "model/CardDocument.hpp"
#include "model/DesktopServices.hpp"
#include "support/AtomicFile.hpp"
#include "model/CardRenderer.hpp"
#include "ui/EngineCardRenderer.hpp"
#include "BenchProcesses.hpp"
#include "EncoderStudy.hpp"
#include "FloorTable.hpp"
#include "image/PngEncoder.hpp"
#include "image/Pictures.hpp"
#include "support/GPtr.hpp"
#include "support/ResourceBundle.hpp"
#include "support/StartupTimeline.hpp"

using namespace norvo;
using namespace norvo::bench;

namespace {


void pumpUntil(const std::function<bool()>& done) {
    while (!done()) g_main_context_iteration(nullptr, TRUE);
}

CardImagePtr renderOnce(RenderEngine& engine, const std::string& md, const Preset& p, double* elapsed) {
    CardImagePtr image;
    bool done = false;
    const auto t0 = Clock::now();
    engine.render(CardRequest{.markdown = md, .settings = {.size = p}}, [&](CardImagePtr i) {
        image = std::move(i);
        done = true;
    });
    pumpUntil([&] { return done; });
    if (elapsed) *elapsed = ms(Clock::now() - t0);
    return image;
}

// libpng at its defaults (zlib's default level 6, adaptive filters), RGB like ours for an
// opaque card: the size reference.
std::size_t defaultLevelSize(const CardImage& image) {
    png_image out{};
    out.version = PNG_IMAGE_VERSION;
    out.width = png_uint_32(image.width());
    out.height = png_uint_32(image.height());
    out.format = PNG_FORMAT_BGR;
    std::vector<std::uint8_t> bgr;
    bgr.reserve(std::size_t(image.width()) * image.height() * 3);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) bgr.insert(bgr.end(), image.row(y) + 4 * x, image.row(y) + 4 * x + 3);
    png_alloc_size_t size = 0;
    png_image_write_get_memory_size(out, size, 0, bgr.data(), 0, nullptr);
    return size;
}

// The sample and a busy note in every size and theme, then every way of deflating them.
void encoderStudy(int rounds) {
    RenderEngine engine;
    std::vector<CardImagePtr> cards;
    std::string busy = "# Quarterly numbers\n\n| Region | Q1 | Q2 | Q3 |\n|---|---:|---:|---:|\n";
    for (int i = 0; i < 12; ++i) busy += "| Region " + std::to_string(i) + " | 1" + std::to_string(i) + " | 2 | 3 |\n";
    for (const std::string& note : {std::string(CardDocument::kSampleMarkdown), busy})
        for (const char* theme : {"paper", "ink", "sky"})
            for (const Preset& p : Presets::all()) {
                CardImagePtr image;
                bool done = false;
                engine.render(CardRequest{.markdown = note, .settings = {.theme = theme, .size = p}}, [&](CardImagePtr i) {
                    image = std::move(i);
                    done = true;
                });
                pumpUntil([&] { return done; });
                if (image) cards.push_back(image);
            }
    std::printf("encoders: the PNG payload of %zu cards (the sample and a table, every theme and size)\n", cards.size());
    norvo::bench::studyEncoders(cards, rounds);
}


// Runs a script in the engine's page and waits for it.
void evaluate(RenderEngine& engine, const std::string& script) {
    bool done = false;
    webkit_web_view_evaluate_javascript(
        engine.webView(), script.c_str(), -1, nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error))
                g_object_unref(v);
            if (error) g_error_free(error);
            *static_cast<bool*>(data) = true;
        },
        &done);
    pumpUntil([&] { return done; });
}

// A fresh WebKit process loading an empty page, and nothing else: the floor under the
// self-test's start.
int emptyPage() {
    StartupTimeline::mark("main");
    if (!gtk_init_check()) return 1;
    StartupTimeline::mark("gtk-ready");
    GtkWidget* view = GTK_WIDGET(g_object_ref_sink(webkit_web_view_new()));
    StartupTimeline::mark("view-created");
    bool loaded = false;
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer data) {
                         if (e == WEBKIT_LOAD_STARTED) StartupTimeline::mark("load-started");
                         if (e != WEBKIT_LOAD_FINISHED) return;
                         StartupTimeline::mark("load-finished");
                         *static_cast<bool*>(data) = true;
                     }),
                     &loaded);
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), "<html><body></body></html>", nullptr);
    pumpUntil([&] { return loaded; });
    g_object_unref(view);
    StartupTimeline::mark("exit");
    return 0;
}

// --- (k) cold-start timeline ----------------------------------------------------------------

const char* const kPhases[] = {"main",        "gtk-ready",  "view-created",    "load-started", "load-finished",
                               "card-drawn", "card-written", "preview-painted", "exit"};



ColdStarts coldStartTimeline(int runs) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    char tmpl[] = "/tmp/norvo-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string note = dir + "/note.md";
    std::ofstream(note) << CardDocument::kSampleMarkdown;
    struct Row {
        const char* name;
        std::function<std::map<std::string, double>()> start;
        std::map<std::string, double> phases;
    };
    const std::string cache = dir + "/cache";
    std::vector<Row> rows = {
        {"empty page", [&] { return timelineOf({self, "--empty-page"}, {}, cache); }, {}},
        {"render, 1 story card",
         [&] {
             return timelineOf({NORVO_BENCH_EXECUTABLE, "render", "--size", "story", "-d", dir + "/out", note}, {}, cache);
         },
         {}},
        {"self-test", [&] { return timelineOf({NORVO_BENCH_EXECUTABLE}, {"NORVO_SELFTEST=1"}, cache); }, {}},
        {"app, first preview", [&] { return timelineOf({NORVO_BENCH_EXECUTABLE}, {}, cache, "preview-painted"); }, {}},
    };
    for (Row& row : rows) row.start();  // warms the caches
    // Interleaved, so that a slow moment of the machine falls on every row alike.
    std::vector<std::map<std::string, std::vector<double>>> all(rows.size());
    for (int r = 0; r < runs; ++r)
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (const auto& [phase, at] : rows[i].start()) all[i][phase].push_back(at);
    std::printf("(k) cold start, ms since exec, median of %d interleaved starts\n", runs);
    std::printf("  %-22s", "");
    for (const char* phase : kPhases) std::printf(" %10s", phase);
    std::printf("\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (const auto& [phase, values] : all[i]) rows[i].phases[phase] = median(values);
        std::printf("  %-22s", rows[i].name);
        for (const char* phase : kPhases) {
            if (rows[i].phases.count(phase)) std::printf(" %10.0f", rows[i].phases[phase]);
            else std::printf(" %10s", "-");
        }
        std::printf("\n");
    }
    const double floor = rows[0].phases["exit"];
    std::printf("  ratios to the empty page's exit (%.0f ms): one cold card %.2f (goal 1.2), self-test %.2f (goal 1.5), "
                "first preview painted %.2f (goal 1.3)\n",
                floor, rows[1].phases["exit"] / floor, rows[2].phases["exit"] / floor, rows[3].phases["exit"] / floor);
    std::filesystem::remove_all(dir);
    return {.emptyPageMs = floor, .storyCardMs = rows[1].phases["exit"], .selfTestMs = rows[2].phases["exit"]};
}

// --- (m) where a batch card's time goes ------------------------------------------------------


void batchSteps(int runs, int cards, const char* jobs) {
    char tmpl[] = "/tmp/norvo-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    std::vector<std::string> args{NORVO_BENCH_EXECUTABLE, "render", "--size", "square", "--jobs", jobs,
                                  "-d", dir + "/out"};
    for (int i = 0; i < cards; ++i) {
        const std::string file = dir + "/note" + std::to_string(i) + ".md";
        std::ofstream(file) << "# Note " << i << "\n\n" << CardDocument::kSampleMarkdown;
        args.push_back(file);
    }
    struct Step {
        const char* name;
        const char* from;
        const char* to;
        const char* thread;
        std::vector<double> perCard, totals;
    };
    std::vector<Step> steps = {
        {"assets, style, prepare", "card-begun", "layout-asked", "main", {}, {}},
        {"layout in the page", "layout-asked", "laid-out", "web", {}, {}},
        {"pictures ready", "laid-out", "snapshot-asked", "web", {}, {}},
        {"snapshot", "snapshot-asked", "snapped", "web", {}, {}},
        {"next card started", "snapped", "copy-begun", "main", {}, {}},
        {"texture copy", "copy-begun", "copied", "main", {}, {}},
        {"page idle to next card", "copied", "card-begun", "main", {}, {}},
        {"backdrop (once a size)", "backdrop-begun", "backdrop-painted", "painter", {}, {}},
        {"encode", "encode-begun", "encoded", "writer", {}, {}},
        {"write", "encoded", "written", "writer", {}, {}},
    };
    std::vector<double> walls, starts, perCardWall;
    for (int r = 0; r < runs; ++r) {
        double wall = 0;
        const auto marks = marksOf(args, &wall);
        walls.push_back(wall);
        std::vector<double> begun;
        for (const auto& [phase, ns] : marks)
            if (phase == "card-begun") begun.push_back(double(ns) / 1e6);
        if (begun.size() < 2) continue;
        starts.push_back(begun.front());
        perCardWall.push_back((begun.back() - begun.front()) / double(begun.size() - 1));
        for (Step& step : steps) {
            const auto each = spans(marks, step.from, step.to);
            step.perCard.insert(step.perCard.end(), each.begin(), each.end());
            step.totals.push_back(std::accumulate(each.begin(), each.end(), 0.0));
        }
    }
    std::printf("(m) where a batch card's time goes: %d square cards, --jobs %s, %d runs (medians)\n", cards, jobs,
                runs);
    std::printf("  %-26s %-8s %10s %10s %10s\n", "step", "thread", "per card", "p95", "run total");
    for (Step& step : steps) {
        if (step.perCard.empty()) continue;
        std::printf("  %-26s %-8s %8.2f ms %8.2f ms %8.0f ms\n", step.name, step.thread, median(step.perCard),
                    percentile(step.perCard, 0.95), median(step.totals));
    }
    std::printf("  exec to first card begun %.0f ms; then %.1f ms of wall per card; exec to exit %.0f ms\n",
                median(starts), median(perCardWall), median(walls));
    std::filesystem::remove_all(dir);
}

// A renderer for the typing stream: the web engine, with each request's edit number noted.
class CountingRenderer final : public CardRenderer {
public:
    void render(const CardRequest& card, Completion completion) override { engine.render(card, std::move(completion)); }
    void renderPreview(const CardRequest& card, Completion completion) override {
        const int edit = currentEdit;
        engine.renderPreview(card, [this, edit, completion = std::move(completion)](CardImagePtr image) {
            shownEdit = std::max(shownEdit, edit);
            completion(std::move(image));
        });
        deepest = std::max(deepest, engine.queueDepth());
    }
    void renderPages(const CardRequest&, PagesCompletion completion) override {
        completion({});  // the typing stream types into a single card
    }
    RenderEngine engine;
    int currentEdit = -1, shownEdit = -1;
    std::size_t deepest = 0;
};

// Export of a set without dialogs: a renderer that hands back the same card N times, and a
// desktop that saves where it is told at once.
class RepeatingSetRenderer final : public CardRenderer {
public:
    RepeatingSetRenderer(CardImagePtr card, std::size_t count) : card_(std::move(card)), count_(count) {}
    void render(const CardRequest&, Completion completion) override { completion(card_); }
    void renderPages(const CardRequest&, PagesCompletion completion) override {
        completion(std::vector<CardImagePtr>(count_, card_));
    }

private:
    CardImagePtr card_;
    std::size_t count_;
};

class SavingDesktop final : public DesktopServices {
public:
    explicit SavingDesktop(std::filesystem::path target) : target_(std::move(target)) {}
    void bringToFront() override {}
    void chooseFileToOpen(OpenChoice done) override { done(std::nullopt); }
    void chooseSaveFile(const std::string&, SaveChoice done) override { done(target_); }
    void chooseCardFile(const std::string&, CardFileChoice done) override { done(CardFile{target_, 1}); }
    void copyCard(const CardImagePtr&, const std::string&) override {}
    void showSharePicker(const std::vector<std::filesystem::path>&, const std::string&, Anchor) override {}
    std::filesystem::path temporaryFolder() override { return target_.parent_path(); }
    void showAlert(const Alert&, AlertAnswer answered) override { answered(0); }

private:
    std::filesystem::path target_;
};

// (h) export of a 20-card story set: the longest main-loop stall while it is written, beside
// encoding and writing the same set on the main thread.
void exportStall(const std::string& sample) {
    RenderEngine engine;
    const CardImagePtr card = renderOnce(engine, sample, Presets::by("story"), nullptr);
    const std::string dir = "/tmp/norvo-bench-export-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::vector<double> stalls, inline_;
    for (int r = 0; r < 5; ++r) {
        RepeatingSetRenderer renderer(card, 20);
        SavingDesktop desktop(dir + "/set.png");
        CardDocument document(renderer);
        document.setPresetID("story");
        document.setPages(true);
        CardActions actions(document, renderer, desktop);
        // A tick every millisecond: the longest gap between two is the longest stall.
        struct Ticks {
            Clock::time_point last = Clock::now();
            double longest = 0;
        } ticks;
        const guint ticker = g_timeout_add(1, +[](gpointer data) -> gboolean {
            auto* t = static_cast<Ticks*>(data);
            const auto now = Clock::now();
            t->longest = std::max(t->longest, ms(now - t->last));
            t->last = now;
            return G_SOURCE_CONTINUE;
        }, &ticks);
        actions.exportPNG();
        pumpUntil([&] { return document.status().rfind("Saved", 0) == 0; });
        g_source_remove(ticker);
        stalls.push_back(ticks.longest);

        const auto t0 = Clock::now();
        for (int i = 1; i <= 20; ++i) {
            const auto png = PngEncoder::encodeAt(*card, card->width(), card->height());
            writeFileAtomically(dir + "/inline-" + std::to_string(i) + ".png", *png);
        }
        inline_.push_back(ms(Clock::now() - t0));
    }
    std::filesystem::remove_all(dir);
    std::printf("(h) export of a 20-card story set: longest main-loop stall median %.1f ms (max %.1f); "
                "the same set encoded and written on the main thread stalls %.0f ms\n",
                median(stalls), *std::max_element(stalls.begin(), stalls.end()), median(inline_));
}

// (i) the hardest notes under the 1 MiB limit: a code fence, a table and emphasis markers of
// 1 MiB each, and a 5,000-row table, as one card and as a set, through `norvo render`.
void hugeNotes() {
    const std::string dir = "/tmp/norvo-bench-huge-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::size_t limit = 1024 * 1024 - 64;
    std::string code = "```\n", table = "| # | Name | Value |\n|---|---|---|\n", emphasis, rows = table;
    for (int i = 0; code.size() < limit - 64; ++i) code += "line " + std::to_string(i) + " = value(" + std::to_string(i) + ")\n";
    code += "```\n";
    for (int i = 0; table.size() < limit - 64; ++i)
        table += "| " + std::to_string(i) + " | item " + std::to_string(i) + " | " + std::to_string(i * 3) + " |\n";
    while (emphasis.size() < limit) emphasis += "*a";
    for (int i = 0; i < 5000; ++i) rows += "| " + std::to_string(i) + " | item | " + std::to_string(i * 7) + " |\n";
    const std::pair<const char*, const std::string*> notes[] = {
        {"code-1MiB", &code}, {"table-1MiB", &table}, {"emphasis-1MiB", &emphasis}, {"table-5000-rows", &rows}};
    std::printf("(i) the hardest notes, norvo render exec to exit, median of 3:\n");
    for (const auto& [name, text] : notes) {
        const std::string file = dir + "/" + name + ".md";
        std::ofstream(file, std::ios::binary) << *text;
        for (const bool pages : {false, true}) {
            std::vector<std::string> args{NORVO_BENCH_EXECUTABLE, "render", "-d", dir + "/out", file};
            if (pages) args.push_back("--pages");
            std::vector<double> walls;
            for (int r = 0; r < 3; ++r) walls.push_back(runTimed(args, {}));
            std::printf("  %-16s %-7s %6.0f ms\n", name, pages ? "--pages" : "card", median(walls));
        }
    }
    std::filesystem::remove_all(dir);
}

// (j) memory of sets: ten notes that each make a 20-card story set, written as PDFs (peak PSS
// of the whole process tree, web processes included).
void setMemory() {
    const std::string dir = "/tmp/norvo-bench-sets-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::vector<std::string> args{NORVO_BENCH_EXECUTABLE, "render", "--pdf", "--size", "story", "-d", dir + "/out"};
    for (int n = 0; n < 10; ++n) {
        std::string note = "# Long note " + std::to_string(n) + "\n\n";
        for (int i = 0; note.size() < 60000; ++i)
            note += "Paragraph " + std::to_string(i) + " says a few calm words about cards, sets and the people who read them.\n\n";
        const std::string file = dir + "/note" + std::to_string(n) + ".md";
        std::ofstream(file) << note;
        args.push_back(file);
    }
    const auto [wall, pss] = runMeasured(args, {});
    std::printf("(j) ten 20-card story sets as PDFs: %.0f ms wall, peak tree PSS %.0f MB\n", wall, double(pss) / 1024.0);
    std::filesystem::remove_all(dir);
}

// (l) a card with a 12-megapixel photo beside the same card without it: the photo decoded
// once (what the first preview of a note pays) and then served from the decoded pictures.
void pictureCost(int rounds) {
    const auto dir = std::filesystem::temp_directory_path() / ("norvo-bench-pictures-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    {
        GObjectPtr<GdkPixbuf> photo(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4000, 3000));
        guchar* px = gdk_pixbuf_get_pixels(photo.get());
        const int stride = gdk_pixbuf_get_rowstride(photo.get());
        for (int y = 0; y < 3000; ++y)
            for (int x = 0; x < 4000; ++x) {
                guchar* p = px + y * stride + 3 * x;
                p[0] = guchar(x * 7 + y), p[1] = guchar((x ^ y) * 3), p[2] = guchar(y * 5 - x);
            }
        gdk_pixbuf_save(photo.get(), (dir / "photo.jpg").c_str(), "jpeg", nullptr, "quality", "90", nullptr);
    }
    const std::string text = "## Harbour\n\nWe walked along the water until only the gulls were left.\n";
    CardRequest without{.markdown = text, .settings = {.size = Presets::by("portrait")}};
    CardRequest with = without;
    with.markdown = "## Harbour\n\n![The bay](photo.jpg)\n\nWe walked along the water until only the gulls were left.\n";
    with.pictures.noteFolder = dir.string();
    RenderEngine engine;
    auto once = [&](const CardRequest& card) {
        bool done = false;
        const auto t0 = Clock::now();
        engine.render(card, [&](CardImagePtr) { done = true; });
        pumpUntil([&] { return done; });
        return ms(Clock::now() - t0);
    };
    once(without);
    const double first = once(with);  // decodes the photo
    std::vector<double> plain, photo, decode;
    for (int i = 0; i < rounds; ++i) {
        plain.push_back(once(without));
        photo.push_back(once(with));
    }
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        (void)decodePicture(dir / "photo.jpg", 1350);
        decode.push_back(ms(Clock::now() - t0));
    }
    // The same photo as a style's background, beside the theme's own backdrop.
    CardRequest styled = without;
    styled.settings.style.name = "bench";
    styled.settings.style.background = CardStyle::Background::Image;
    styled.settings.style.image = (dir / "photo.jpg").string();
    once(styled);
    std::vector<double> backdrop;
    for (int i = 0; i < rounds; ++i) backdrop.push_back(once(styled));
    std::printf("(l) portrait card, median of %d: without a photo %.1f ms, with a 12 MP photo %.1f ms (ratio %.2f); "
                "first card with it %.1f ms; decoding the photo alone %.1f ms; the photo as a style's background "
                "%.1f ms (ratio %.2f to the theme's backdrop)\n",
                rounds, median(plain), median(photo), median(photo) / median(plain), first, median(decode),
                median(backdrop), median(backdrop) / median(plain));
    std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    norvo::ResourceBundle::useBuildTree(NORVO_BUILD_BUNDLE_DIR);
    if (argc > 1 && std::string(argv[1]) == "--empty-page") return emptyPage();
    const bool onlyExport = argc > 1 && std::string(argv[1]) == "--export-stall";
    const bool onlyHuge = argc > 1 && std::string(argv[1]) == "--huge-notes";
    const bool onlySets = argc > 1 && std::string(argv[1]) == "--set-memory";
    const bool onlyTimeline = argc > 1 && std::string(argv[1]) == "--timeline";
    const bool onlyPictures = argc > 1 && std::string(argv[1]) == "--pictures";
    const bool onlySteps = argc > 1 && std::string(argv[1]) == "--batch-steps";
    const bool onlyEncoders = argc > 1 && std::string(argv[1]) == "--encoders";
    const bool onlyFloor = argc > 1 && std::string(argv[1]) == "--floor";
    const norvo::bench::SessionBus bus;
    if (!gtk_init_check()) {
        std::fprintf(stderr, "norvo-bench needs a display: xvfb-run -a build/bench/norvo-bench\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    if (onlyExport) {
        exportStall(CardDocument::kSampleMarkdown);
        return 0;
    }
    if (onlyHuge) {
        hugeNotes();
        return 0;
    }
    if (onlyTimeline) {
        coldStartTimeline(argc > 2 ? std::max(3, atoi(argv[2])) : 8);
        return 0;
    }
    if (onlySets) {
        setMemory();
        return 0;
    }
    if (onlySteps) {
        const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
        batchSteps(runs, 100, "1");
        batchSteps(runs, 100, "2");
        return 0;
    }
    if (onlyFloor) {
        const int runs = argc > 2 ? std::max(3, atoi(argv[2])) : 5;
        printFloorTable(coldStartTimeline(2 * runs), runs);
        return 0;
    }
    if (onlyEncoders) {
        encoderStudy(argc > 2 ? std::max(1, atoi(argv[2])) : 5);
        return 0;
    }
    if (onlyPictures) {
        pictureCost(argc > 2 ? std::max(3, atoi(argv[2])) : 15);
        return 0;
    }
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string sample = CardDocument::kSampleMarkdown;

    // (a) one render + snapshot, and one PNG encode, per preset
    std::printf("(a) per preset, median of %d\n", rounds);
    std::printf("  %-10s %12s %12s %12s %12s %12s\n", "preset", "render ms", "encode ms", "png bytes", "zlib-6 bytes",
                "zlib-6 ms");
    {
        RenderEngine engine;
        renderOnce(engine, sample, Presets::defaultPreset(), nullptr);  // warm-up, page load
        for (const Preset& p : Presets::all()) {
            std::vector<double> render, encode, reference;
            CardImagePtr image;
            for (int i = 0; i < rounds; ++i) {
                double t = 0;
                image = renderOnce(engine, sample + std::string(std::size_t(i % 3), '!'), p, &t);
                render.push_back(t);
            }
            std::size_t bytes = 0, refBytes = 0;
            for (int i = 0; i < rounds; ++i) {
                auto t0 = Clock::now();
                bytes = PngEncoder::encodeAt(*image, p.width, p.height)->size();
                encode.push_back(ms(Clock::now() - t0));
                t0 = Clock::now();
                refBytes = defaultLevelSize(*image);
                reference.push_back(ms(Clock::now() - t0));
            }
            std::printf("  %-10s %12.1f %12.1f %12zu %12zu %12.1f\n", p.id.c_str(), median(render), median(encode),
                        bytes, refBytes, median(reference));
        }
    }

    // (f) the designed backdrop against a flat one, on the same page, alternating
    {
        RenderEngine engine;
        renderOnce(engine, sample, Presets::defaultPreset(), nullptr);
        std::vector<double> real, flat;
        for (int i = 0; i < 2 * rounds; ++i) {
            const bool flatNow = i % 2 == 1;
            evaluate(engine, flatNow ? "document.documentElement.classList.add('bench-flat')"
                                     : "document.documentElement.classList.remove('bench-flat')");
            if (i == 0)
                evaluate(engine, "const s=document.createElement('style');"
                                 "s.textContent='.bench-flat .card-backdrop{display:none}';document.head.appendChild(s)");
            double t = 0;
            renderOnce(engine, sample + std::string(std::size_t(i % 3), '!'), Presets::defaultPreset(), &t);
            (flatNow ? flat : real).push_back(t);
        }
        std::printf("(f) render + snapshot, sample square: real page %.1f ms, flat background %.1f ms, ratio %.2f\n",
                    median(real), median(flat), median(real) / median(flat));
    }

    // (c) edit-to-preview: one character typed, then wait for the new preview
    double singleEditP50 = 0;
    {
        EngineCardRenderer renderer;
        CardDocument model(renderer);
        model.rerender();
        pumpUntil([&] { return bool(model.preview()); });
        for (const char* preset : {"square", "story"}) {
            model.setPresetID(preset);
            const CardImagePtr start = model.preview();
            pumpUntil([&] { return model.preview() != start; });
            std::vector<double> latency;
            std::string text = sample;
            for (int i = 0; i < 200; ++i) {
                const CardImagePtr before = model.preview();
                const auto t0 = Clock::now();
                text += char('a' + i % 26);
                model.setMarkdown(text);
                pumpUntil([&] { return model.preview() != before; });
                latency.push_back(ms(Clock::now() - t0));
            }
            std::printf("(c) edit-to-preview, %s, 200 edits: p50 %.1f ms, p95 %.1f ms\n", preset, median(latency),
                        percentile(latency, 0.95));
            if (std::string(preset) == "square") singleEditP50 = median(latency);
        }
    }

    // (g) a typing stream: 300 edits at 20 per second through the card document
    {
        CountingRenderer renderer;
        CardDocument document(renderer);
        document.rerender();
        pumpUntil([&] { return bool(document.preview()); });
        std::vector<Clock::time_point> editedAt(300);
        std::vector<double> lag(300, -1);
        int firstUnseen = 0;
        document.signalPreviewChanged().connect([&] {
            const auto now = Clock::now();
            for (; firstUnseen <= renderer.shownEdit && firstUnseen < 300; ++firstUnseen)
                lag[std::size_t(firstUnseen)] = ms(now - editedAt[std::size_t(firstUnseen)]);
        });
        // A timer types: the main loop would otherwise sleep through the due times.
        struct Typist {
            std::string text;
            int next = 0;
            std::function<void(int, const std::string&)> type;
        } typist{sample, 0, [&](int i, const std::string& t) {
                     renderer.currentEdit = i;
                     editedAt[std::size_t(i)] = Clock::now();
                     document.setMarkdown(t);
                 }};
        g_timeout_add(50, +[](gpointer data) -> gboolean {
            auto* t = static_cast<Typist*>(data);
            t->text += char('a' + t->next % 26);
            t->type(t->next, t->text);
            return ++t->next < 300 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        }, &typist);
        pumpUntil([&] { return firstUnseen >= 300; });

        std::printf("(g) typing stream, 300 edits at 20/s, square: lag p50 %.1f ms, p95 %.1f ms "
                    "(%.2f x the single-edit p50); deepest queue %zu\n",
                    median(lag), percentile(lag, 0.95), percentile(lag, 0.95) / singleEditP50, renderer.deepest);
    }

    exportStall(sample);
    hugeNotes();

    // (b) batch: 100 cards cycling the four presets through `norvo render`
    {
        char tmpl[] = "/tmp/norvo-bench-XXXXXX";
        const std::string dir = mkdtemp(tmpl);
        std::vector<std::string> args{NORVO_BENCH_EXECUTABLE, "render", "--size", "all", "-d", dir + "/out"};
        for (int i = 0; i < 25; ++i) {
            const std::string file = dir + "/note" + std::to_string(i) + ".md";
            std::ofstream(file) << "# Note " << i << "\n\n" << sample;
            args.push_back(file);
        }
        std::vector<double> walls;
        long peak = 0;
        for (int r = 0; r < 3; ++r) {
            const auto [wall, pss] = runMeasured(args, {});
            walls.push_back(wall);
            peak = std::max(peak, pss);
        }
        std::printf("(b) batch of 100 cards (norvo render, process start included): %.0f ms wall, %.1f cards/s; "
                    "peak tree PSS %.0f MB\n",
                    median(walls), 100000.0 / median(walls), double(peak) / 1024.0);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // (d) + (e) self-test, exec to exit, with the peak PSS of the whole process tree
    {
        std::vector<double> walls;
        long peak = 0;
        for (int r = 0; r < 5; ++r) {
            const auto [wall, pss] = runMeasured({NORVO_BENCH_EXECUTABLE}, {"NORVO_SELFTEST=1"});
            walls.push_back(wall);
            peak = std::max(peak, pss);
        }
        std::vector<double> empty;
        for (int r = 0; r < 5; ++r) empty.push_back(runTimed({self, "--empty-page"}, {}));
        std::printf("(d) self-test wall, exec to exit: median %.0f ms (min %.0f); an empty WebKit page: median %.0f ms; "
                    "ratio %.2f\n",
                    median(walls), *std::min_element(walls.begin(), walls.end()), median(empty),
                    median(walls) / median(empty));
        std::printf("(e) peak PSS of the self-test process tree: %.0f MB\n", double(peak) / 1024.0);
    }
    coldStartTimeline(8);
    batchSteps(3, 100, "1");
    return 0;
}
