#include "cli/RenderCommand.hpp"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <algorithm>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

#include <glibmm/dispatcher.h>
#include <glibmm/main.h>
#include <gtk/gtk.h>

#include "cli/RenderOptions.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Card.hpp"

namespace norvo::RenderCommand {
namespace {

struct Note {
    std::string label;  // file name or "standard input"
    std::string markdown;
};

struct CardJob {
    const Note* note;
    Preset preset;
};

struct EncodeTask {
    CardImagePtr image;
    Preset preset;
    std::filesystem::path path;
};

bool isValidUtf8(const std::string& s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }

std::optional<std::string> readAll(const std::string& input, std::string& error) {
    std::ostringstream text;
    if (input == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::error_code ec;
    if (std::filesystem::is_directory(input, ec)) {
        error = "is a folder";
        return std::nullopt;
    }
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    text << in.rdbuf();
    if (in.bad()) {
        error = "read error";
        return std::nullopt;
    }
    return text.str();
}

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    // Written beside the target and renamed, so a failed write never leaves half a card.
    std::filesystem::path temp = path;
    temp += ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

// Encodes and writes cards on one worker thread while the engine renders the next.
class EncoderThread {
public:
    static constexpr std::size_t kMaxBacklog = 3;

    explicit EncoderThread(std::function<void()> onDone) : onDone_(std::move(onDone)) {
        done_.connect([this] { onDone_(); });
        worker_ = std::thread([this] { loop(); });
    }
    ~EncoderThread() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    void push(EncodeTask task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            ++backlog_;
        }
        wake_.notify_one();
    }
    std::size_t backlog() {
        std::lock_guard lock(mutex_);
        return backlog_;
    }
    int failures() const { return failures_; }

private:
    void loop() {
        while (true) {
            EncodeTask task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            const auto png = RenderEngine::png(*task.image, task.preset.width, task.preset.height);
            if (png && writeFile(task.path, *png)) {
                std::printf("%s  %lldx%lld\n", task.path.c_str(), (long long)task.preset.width,
                            (long long)task.preset.height);
                std::fflush(stdout);
            } else {
                std::fprintf(stderr, "norvo render: could not write %s\n", task.path.c_str());
                ++failures_;
            }
            {
                std::lock_guard lock(mutex_);
                --backlog_;
            }
            done_.emit();
        }
    }

    std::function<void()> onDone_;
    Glib::Dispatcher done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<EncodeTask> tasks_;
    std::size_t backlog_ = 0;
    bool closing_ = false;
    std::atomic<int> failures_{0};
    std::thread worker_;
};

}  // namespace

int run(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = parseRenderOptions(args);
    if (auto* error = std::get_if<RenderUsageError>(&parsed)) {
        std::fprintf(stderr, "norvo render: %s\nTry 'norvo render --help'.\n", error->message.c_str());
        return 2;
    }
    const RenderOptions options = std::get<RenderOptions>(std::move(parsed));
    if (options.help) {
        std::fputs(renderHelpText(), stdout);
        return 0;
    }

    int failures = 0;
    std::deque<Note> notes;  // stable addresses
    for (const std::string& input : options.inputs) {
        const std::string label = input == "-" ? "standard input" : input;
        std::string error;
        auto text = readAll(input, error);
        if (!text) {
            std::fprintf(stderr, "norvo render: cannot read %s: %s\n", label.c_str(), error.c_str());
            ++failures;
        } else if (!isValidUtf8(*text)) {
            std::fprintf(stderr, "norvo render: %s is not UTF-8 text\n", label.c_str());
            ++failures;
        } else {
            notes.push_back(Note{label, std::move(*text)});
        }
    }

    std::vector<CardJob> cards;
    for (const Note& n : notes)
        for (const Preset& p : options.presets) cards.push_back(CardJob{&n, p});
    if (cards.empty()) return failures ? 1 : 0;

    if (!gtk_init_check()) {
        std::fprintf(stderr, "norvo render: no display to render on; run it under xvfb-run -a, or use ./run render\n");
        return 1;
    }
    std::error_code ec;
    const std::filesystem::path folder =
        options.outputFile ? options.outputFile->parent_path() : options.outputFolder;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);

    // Output names are handed out in input order, whichever card finishes first.
    OutputNames names;
    std::vector<std::filesystem::path> paths;
    for (const CardJob& card : cards)
        paths.push_back(names.claim(options.outputFile ? *options.outputFile
                                                       : options.outputFolder / norvo::Card::fileName(
                                                                                    card.note->markdown, card.preset.id)));

    // Two pages render side by side (each has a web process of its own) while the
    // encoder thread writes the finished cards.
    const std::size_t engineCount = std::min<std::size_t>({2, cards.size(), std::max(1u, std::thread::hardware_concurrency())});
    std::vector<std::unique_ptr<RenderEngine>> engines;
    for (std::size_t e = 0; e < engineCount; ++e) engines.push_back(std::make_unique<RenderEngine>());
    std::vector<bool> busy(engineCount, false);

    auto loop = Glib::MainLoop::create();
    std::size_t next = 0, finished = 0;
    auto cardDone = [&] {
        if (++finished == cards.size()) loop->quit();
    };
    std::function<void()> renderNext;
    EncoderThread encoder([&] {
        cardDone();
        renderNext();
    });

    renderNext = [&] {
        for (std::size_t e = 0; e < engines.size(); ++e) {
            // A bounded queue in front of the encoder bounds memory too.
            if (next >= cards.size() || encoder.backlog() >= EncoderThread::kMaxBacklog) return;
            if (busy[e]) continue;
            busy[e] = true;
            const std::size_t i = next++;
            const CardJob card = cards[i];
            engines[e]->render(card.note->markdown, options.theme, options.font, card.preset, options.wordmark,
                               options.scale, [&, card, i, e](CardImagePtr image) {
                                   busy[e] = false;
                                   if (image) {
                                       encoder.push(EncodeTask{std::move(image), card.preset, paths[i]});
                                   } else {
                                       std::fprintf(stderr, "norvo render: rendering %s failed\n",
                                                    card.note->label.c_str());
                                       ++failures;
                                       cardDone();
                                   }
                                   renderNext();
                               });
        }
    };
    renderNext();
    loop->run();
    failures += encoder.failures();
    return failures ? 1 : 0;
}

}  // namespace norvo::RenderCommand
