#include "engine/Backdrops.hpp"

#include "norvo/Catalogue.hpp"
#include "support/StartupTimeline.hpp"

namespace norvo {

namespace {
// The themes the page knows; any other is drawn as the default.
std::string pageTheme(const std::string& theme) { return Themes::isKnown(theme) ? theme : Themes::all().front().id; }
}  // namespace

std::string Backdrops::keyOf(const CardRequest& card) {
    const Preset drawn = card.drawnSize();
    return pageTheme(card.settings.theme) + " " + std::to_string(drawn.width) + "x" + std::to_string(drawn.height);
}

std::list<Backdrops::Entry>::iterator Backdrops::find(const std::string& key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->key == key) {
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.begin();
        }
    return entries_.end();
}

bool Backdrops::ask(const CardRequest& card, bool now) {
    // A long picture's height is the page's to find: it paints that backdrop itself.
    if (card.settings.size.heightFollowsLayout()) return true;
    const std::string key = keyOf(card);
    if (const auto found = find(key); found != entries_.end()) {
        if (!found->done && now) waiting_.push_front(key);  // painted next, if it is not already
        paintNext();
        return found->done;
    }
    const Preset drawn = card.drawnSize();
    entries_.push_front(Entry{key, pageTheme(card.settings.theme), int(drawn.width), int(drawn.height), false, nullptr});
    if (entries_.size() > kKept) entries_.pop_back();  // a card drawn meanwhile keeps its own lease
    if (now)
        waiting_.push_front(key);
    else
        waiting_.push_back(key);
    paintNext();
    return false;
}

void Backdrops::paintNext() {
    while (!painting_ && !waiting_.empty()) {
        const std::string key = waiting_.front();
        waiting_.pop_front();
        const auto found = find(key);
        if (found == entries_.end() || found->done) continue;  // pushed out, or painted already
        painting_ = true;
        painter_.run<PicturePtr>(
            // On the painter's thread: values only.
            [theme = found->theme, width = found->width, height = found->height] {
                StartupTimeline::mark("backdrop-begun");
                PicturePtr picture = paintedBackdrop(theme, width, height);
                StartupTimeline::mark("backdrop-painted");
                return picture;
            },
            // On the main thread, while this object lives.
            [this, key](PicturePtr picture) {
                painting_ = false;
                // One pushed out before it was done is asked for again by whoever still waits.
                if (const auto done = find(key); done != entries_.end()) {
                    done->done = true;
                    done->picture = std::move(picture);
                }
                paintNext();
                painted_();
            });
    }
}

std::optional<std::string> Backdrops::serve(const CardRequest& card, PictureShelf::Lease& lease) {
    const auto found = find(keyOf(card));
    if (found == entries_.end() || !found->picture) return std::nullopt;
    return lease.put(found->picture);
}

}  // namespace norvo
