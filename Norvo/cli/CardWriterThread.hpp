#pragma once
// Encodes and writes the cards of `norvo render` on one worker thread while the engine draws
// the next: single cards, and sets written a card at a time (never held whole) with their PDF.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "engine/RenderJobs.hpp"
#include "image/CardFormats.hpp"
#include "image/CardWords.hpp"
#include "image/CardWriter.hpp"
#include "image/PngEncoder.hpp"
#include "support/AtomicFile.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// A set of cards (or its PDF) being written as its cards come. The encoder thread alone
// touches it while the run goes on; the main thread only once the encoder has stopped.
struct SetOutput {
    SetWriter::Target target;
    std::unique_ptr<SetWriter> writer;  // made with the first card
    std::vector<std::string> lines;     // printed once the whole set is in place
    std::string answerId{};             // a stream request's: the set is answered in one line
    std::vector<std::filesystem::path> files{};  // for that answer: each card's file and report
    std::vector<std::string> reports{};
    std::size_t lastPage = 0;
    bool failed = false;
    bool ended = false;

    // Nothing of the set stays: written cards are removed, an unfinished PDF never appears.
    void rollBack() {
        if (writer) writer->rollBack();
        lines.clear();
        files.clear();
        reports.clear();
        lastPage = 0;
    }
};

struct CardTask {
    RenderedCard card;
    Preset preset;
    std::filesystem::path path;
    PngEncoder::Words words;
    CardFormats::Format format = CardFormats::Format::Png;
    WriteRules::Links links = WriteRules::Links::Replace;  // through -o's link, or replacing a made name's
    std::string answerId{};  // a stream request's: answered with its id; one it names is written once
};
// A stream request answered without a card (refused, or not drawn), in its turn.
struct AnswerTask {
    std::string id;
    std::string error;
};
struct SetPageTask {
    std::shared_ptr<SetOutput> set;
    RenderedCard card;
    std::size_t page = 0, pages = 0;
};
struct SetEndTask {
    std::shared_ptr<SetOutput> set;
    bool rendered = false;  // false: the set failed to render, nothing of it stays
};
using EncodeTask = std::variant<CardTask, SetPageTask, SetEndTask, AnswerTask>;

// A stream request's answer: each card it wrote (a set's in order), or why it has none.
struct StreamAnswer {
    std::string id;  // the request's, as JSON text
    std::vector<std::filesystem::path> files{};
    std::vector<std::string> cards{};    // each card's --report line
    std::vector<std::string> members{};  // each card's report members, as a set's answer lists them
    std::string error{};                 // a request that failed: why
};
// Takes a stream's answers in place of its lines, on the writer's thread: 0, or the error
// that kept one from its reader.
using AnswerSink = std::function<int(const StreamAnswer&)>;

// Encodes and writes cards on one worker thread while the engine renders the next.
class EncoderThread {
public:
    static constexpr std::size_t kMaxBacklog = 3;

    struct Setup {
        bool report = false;  // --report lines instead of the usual ones
        std::FILE* lines = stdout;  // standard error when the card itself goes to standard output
        bool answers = false;       // the lines answer a stream's requests
        AnswerSink answerTo{};      // where the answers go, if not to `lines`
    };
    // `onDone` on the main thread after each task: whether a card or a set was finished.
    EncoderThread(Setup setup, std::function<void(bool)> onDone) : setup_(setup), onDone_(std::move(onDone)) {
        worker_ = std::thread([this] { loop(); });
    }
    ~EncoderThread() { finish(); }
    // Writes what is queued, then stops the worker.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
    }
    // Drops what waits to be written; the file being written is finished (main thread).
    void dropWaiting() {
        std::lock_guard lock(mutex_);
        backlog_ -= tasks_.size();
        tasks_.clear();
    }
    int filesWritten() const { return filesWritten_; }
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
    // Cards waiting to be written (not the one being written).
    std::size_t queued() {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    int failures() const { return failures_; }
    // The error that kept a line from being written (0: every line was).
    int linesLost() const { return linesLost_; }

private:
    void loop();  // worker thread, like every function below
    void written(const std::string& line);
    void lost(int error);
    void answer(const StreamAnswer& reply);
    void failed(const std::string& answerId, const std::filesystem::path& file, const std::error_code& error);
    void remember(const std::filesystem::path& file);
    std::string cardLine(const std::filesystem::path& file, const Preset& preset, const LayoutReport& report,
                         bool paged) const;
    void write(CardTask& task);
    // A card of a set goes to its file and into the PDF at once; it is not kept.
    void write(SetPageTask& task);
    void write(SetEndTask& task);
    void write(AnswerTask& task);
    bool wroteBefore(const std::filesystem::path& file) const;

    Setup setup_;
    std::function<void(bool)> onDone_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<EncodeTask> tasks_;
    std::size_t backlog_ = 0;
    bool closing_ = false;
    std::atomic<int> failures_{0};
    std::atomic<int> linesLost_{0};
    std::set<std::pair<dev_t, ino_t>> answered_;  // the files stream requests named and got (worker)
    std::atomic<int> filesWritten_{0};
    std::thread worker_;
    Lifetime lifetime_;
};


}  // namespace norvo
