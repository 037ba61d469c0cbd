// Prints timing, size and memory figures for the render path. Run under a display
// (xvfb-run -a). Every figure is a median unless it says otherwise.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/PngEncoder.hpp"
#include "engine/RenderEngine.hpp"
#include "model/CardDocument.hpp"
#include "model/CardRenderer.hpp"

using namespace norvo;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}
double median(const std::vector<double>& v) { return percentile(v, 0.5); }

void pumpUntil(const std::function<bool()>& done) {
    while (!done()) g_main_context_iteration(nullptr, TRUE);
}

CardImagePtr renderOnce(RenderEngine& engine, const std::string& md, const Preset& p, double* elapsed) {
    CardImagePtr image;
    bool done = false;
    const auto t0 = Clock::now();
    engine.render(md, "paper", "sans", p, true, 1.0, [&](CardImagePtr i) {
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

// Sum of PSS over a process and all its descendants, in kB.
long treePssKb(pid_t root) {
    std::map<pid_t, pid_t> parent;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const pid_t pid = atoi(e->d_name);
            if (pid <= 0) continue;
            std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(line.substr(close + 2));
            char state;
            pid_t ppid;
            rest >> state >> ppid;
            parent[pid] = ppid;
        }
        closedir(d);
    }
    long total = 0;
    for (const auto& [pid, ppid] : parent) {
        pid_t p = pid;
        while (p > 1 && p != root) p = parent.count(p) ? parent[p] : 0;
        if (p != root) continue;
        std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps_rollup");
        for (std::string key; smaps >> key;) {
            long kb;
            if (key == "Pss:" && smaps >> kb) {
                total += kb;
                break;
            }
        }
    }
    return total;
}

// Runs a command to its end; returns wall ms and the peak PSS of its process tree.
std::pair<double, long> runMeasured(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    long peak = 0;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        peak = std::max(peak, treePssKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return {ms(Clock::now() - t0), peak};
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check()) {
        std::fprintf(stderr, "norvo-bench needs a display: xvfb-run -a build/bench/norvo-bench\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
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
                bytes = RenderEngine::png(*image, p.width, p.height)->size();
                encode.push_back(ms(Clock::now() - t0));
                t0 = Clock::now();
                refBytes = defaultLevelSize(*image);
                reference.push_back(ms(Clock::now() - t0));
            }
            std::printf("  %-10s %12.1f %12.1f %12zu %12zu %12.1f\n", p.id.c_str(), median(render), median(encode),
                        bytes, refBytes, median(reference));
        }
    }

    // (c) edit-to-preview: one character typed, then wait for the new preview
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
        }
    }

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
        std::system(("rm -rf '" + dir + "'").c_str());
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
        std::printf("(d) self-test wall, exec to exit: median %.0f ms (min %.0f)\n", median(walls),
                    *std::min_element(walls.begin(), walls.end()));
        std::printf("(e) peak PSS of the self-test process tree: %.0f MB\n", double(peak) / 1024.0);
    }
    return 0;
}
