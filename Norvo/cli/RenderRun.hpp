#pragma once
// The cards of one `norvo render`: named in input order, drawn on the engine no faster than the
// writer takes them, written on its thread, counted as they end.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <glibmm/main.h>

#include "cli/CardWriterThread.hpp"
#include "cli/NoteInputs.hpp"
#include "cli/RenderOptions.hpp"
#include "engine/RenderEngine.hpp"

namespace norvo {

// One card of the run: a note at one size.
struct NoteCard {
    const Note* note;
    Preset preset;
};

// The card request for `card`: its note's look at its size, with the run's density and folders.
CardRequest requestFor(const NoteCard& card, const RenderOptions& options);

// Names each picture of a note that is not on its cards, once per note. Main thread.
void warnAboutPictures(const Note& note, const LayoutReport& report);

// --copy: the one card, drawn and handed to the clipboard server. Returns the exit status.
int copyCard(const NoteCard& card, const RenderOptions& options);

// Main thread only; the writer works on its own thread.
class RenderRun {
public:
    // Every card of `notes` (which outlive the run) at each of its note's sizes.
    RenderRun(const RenderOptions& options, std::deque<Note>& notes);
    ~RenderRun();

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
    bool showsProgress() const { return progress_; }

private:
    void claimNames();
    void renderNext();
    void drawSet(std::size_t engine, std::size_t i, const CardRequest& request);
    void drawCard(std::size_t engine, std::size_t i, const CardRequest& request);
    void renderFailed(const NoteCard& card);
    void cardDone();
    bool isSet(const NoteCard& card) const { return card.note->look.settings.pages || options_.pdf; }

    const RenderOptions& options_;
    std::deque<Note>& notes_;
    std::vector<NoteCard> cards_;
    std::vector<std::filesystem::path> paths_;  // of each card, claimed in input order
    std::vector<std::unique_ptr<RenderEngine>> engines_;
    static constexpr std::size_t kCardsPerPage = 2;
    std::vector<std::size_t> inFlight_;
    std::vector<std::shared_ptr<SetOutput>> outputs_;  // the sets of this run
    Glib::RefPtr<Glib::MainLoop> loop_ = Glib::MainLoop::create();
    std::size_t next_ = 0, finished_ = 0;
    int failures_ = 0;
    bool stopped_ = false;
    bool progress_ = false;  // on a terminal, a batch shows how far it is
    std::unique_ptr<EncoderThread> encoder_;  // last: it goes first
};

}  // namespace norvo
