#pragma once
#include <deque>
#include <functional>
#include <list>
#include <optional>
#include <string>

#include "engine/PictureShelf.hpp"
#include "image/Pictures.hpp"
#include "norvo/CardRequest.hpp"
#include "support/MainThread.hpp"

namespace norvo {

// The themes' backdrops, painted by the app on a worker while the page is busy with another
// card (or still loading) and served to the page, which would otherwise paint each one on its
// own thread before it lays out the card. One is painted at a time, the one a card waits for
// first, so that painting never crowds out the page. Keeps the few painted last. Main thread only.
class Backdrops {
public:
    // `painted` runs on the main thread each time a backdrop is ready.
    explicit Backdrops(std::function<void()> painted) : painted_(std::move(painted)) {}

    // Whether the backdrop of `card` as drawn is done with; if not, it is painted next.
    bool ready(const CardRequest& card) { return ask(card, true); }
    // Has the backdrop of `card` painted after those already asked for.
    void prefetch(const CardRequest& card) { (void)ask(card, false); }
    // The address of the painted backdrop of `card`, held on `lease` (nothing if not painted).
    std::optional<std::string> serve(const CardRequest& card, PictureShelf::Lease& lease);

private:
    struct Entry {
        std::string key, theme;
        int width = 0, height = 0;
        bool done = false;
        PicturePtr picture;  // none if it could not be made: the page paints it
    };
    static constexpr std::size_t kKept = 4;  // every size of one theme
    static std::string keyOf(const CardRequest& card);
    std::list<Entry>::iterator find(const std::string& key);
    bool ask(const CardRequest& card, bool now);
    void paintNext();

    std::list<Entry> entries_;   // most recently asked for first
    std::deque<std::string> waiting_;  // keys to paint, in order
    bool painting_ = false;
    std::function<void()> painted_;
    BackgroundTasks painter_;  // last: its worker finishes before the rest goes
};

}  // namespace norvo
