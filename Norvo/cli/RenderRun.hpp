#pragma once
// The cards of one `norvo render`: named in input order, drawn on the engine no faster than the
// writer takes them, written on its thread, counted as they end. A batch's notes are known at
// the start; a stream's requests are added as they come, each answered in one line, in turn.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <glibmm/main.h>

#include "cli/CardWriterThread.hpp"
#include "cli/NoteInputs.hpp"
#include "cli/RenderOptions.hpp"
#include "engine/RenderEngine.hpp"

namespace norvo {

// One card of the run (or one set): a note at one size, where it goes and how it is told.
struct NoteCard {
    std::shared_ptr<const Note> note{};
    Preset preset{};
    std::filesystem::path path{};  // claimed in input order
    CardFormats::Format format = CardFormats::Format::Png;
    bool set = false;  // drawn as a set of cards (pages, or a PDF)
    bool pdf = false;
    WriteRules::Links links = WriteRules::Links::Replace;  // through the link at a name the user gave
    std::string answerId{};  // a stream request's: its card or set is answered in one line
    std::string refused{};   // a request refused before drawing: why, answered in its turn
};

// The card request for `card`: its note's look at its size, with the run's density and folders.
CardRequest requestFor(const NoteCard& card, const RenderOptions& options);

// Names each picture of a note that is not on its cards, once per note. Main thread.
void warnAboutPictures(const Note& note, const LayoutReport& report);

// A note the caller keeps, for a card that does not own it.
inline std::shared_ptr<const Note> borrowed(const Note& note) { return {std::shared_ptr<void>(), &note}; }

// --copy: the one card, drawn and handed to the clipboard server. Returns the exit status.
int copyCard(const NoteCard& card, const RenderOptions& options);

// Main thread only; the writer works on its own thread.
class RenderRun {
public:
    // Every card of `notes` (which outlive the run) at each of its note's sizes.
    RenderRun(const RenderOptions& options, std::deque<Note>& notes);
    // A stream's run: requests come with add() and refuse(), until close(); their answers go
    // to `answerTo` (on the writer's thread) when given, else a line each on standard output.
    explicit RenderRun(const RenderOptions& options, AnswerSink answerTo = {});
    ~RenderRun();

    // A stream request's note, drawn by `request`'s options (its settings are in the note's
    // look) and answered as `id`. Named now, in the order requests come.
    void add(std::shared_ptr<const Note> note, const RenderOptions& request, const std::string& id);
    // A request that is not drawn: answered with `message` in its turn.
    void refuse(const std::string& id, const std::string& message);
    // No more requests: run() returns once the last is answered.
    void close();
    // Requests added and not yet answered.
    std::size_t waiting() const { return cards_.size() - finished_; }
    // Cards each page holds: the one it draws and the next, laid out meanwhile.
    static constexpr std::size_t kCardsPerPage = 2;
    // Requests a stream keeps added ahead of their answers: enough for the page and the writer
    // to be as full as a batch keeps them; the run itself holds back the rest.
    static constexpr std::size_t kRequestsAhead = kCardsPerPage + EncoderThread::kMaxBacklog + 1;
    // Called on the main thread whenever a card or request is done.
    void onProgress(std::function<void()> progress) { progress_ = std::move(progress); }
    // The error that kept an answer or line from being written (0: none did).
    int linesLost() const { return encoder_->linesLost(); }

    bool empty() const { return cards_.empty(); }
    // Draws and writes every card; with --watch, goes on until stop(). Returns the cards that
    // failed (to draw or to write).
    int run();
    // Ends the run: what waits is dropped, the file being written is finished, and a set
    // still coming in is removed (main thread, from a signal).
    void stop();
    // Note `k` (its text already read again) is drawn again, under its first round's names.
    void again(std::size_t k);
    int filesWritten() const { return encoder_->filesWritten(); }
    bool showsProgress() const { return counter_; }

private:
    void start();
    NoteCard cardOf(std::shared_ptr<const Note> note, const Preset& preset, const RenderOptions& options) const;
    std::filesystem::path claimName(const NoteCard& card, const RenderOptions& options);
    void claimNames();
    void renderNext();
    bool answerRefused(std::size_t i);
    void drawSet(std::size_t engine, std::size_t i, const CardRequest& request);
    void drawCard(std::size_t engine, std::size_t i, const CardRequest& request);
    void renderFailed(const NoteCard& card);
    void cardDone();

    const RenderOptions& options_;
    std::deque<Note>* notes_ = nullptr;  // a batch's; a stream's notes go with their cards
    bool stream_ = false;
    std::deque<NoteCard> cards_;
    OutputNames names_;
    std::vector<std::unique_ptr<RenderEngine>> engines_;
    std::vector<std::size_t> inFlight_;
    std::vector<std::shared_ptr<SetOutput>> outputs_;  // the sets of this run
    Glib::RefPtr<Glib::MainLoop> loop_ = Glib::MainLoop::create();
    std::size_t next_ = 0, finished_ = 0;
    int failures_ = 0;
    bool stopped_ = false, closed_ = true;
    bool counter_ = false;  // on a terminal, a batch shows how far it is
    std::function<void()> progress_;
    AnswerSink answerTo_;
    std::unique_ptr<EncoderThread> encoder_;  // last: it goes first
};

}  // namespace norvo
