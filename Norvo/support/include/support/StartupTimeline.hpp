#pragma once

namespace norvo {

// Marks the phases of a start (GTK ready, page loaded, first card drawn...) for the
// benchmark, and the steps of each card of a batch: with NORVO_TIMELINE set to a file, each
// mark appends "<phase> <ns>" to it, the time read from the monotonic clock. Without it, a mark costs one branch. Any thread.
namespace StartupTimeline {
void mark(const char* phase);
// Marks `phase` the first time only (a process draws many cards; the first one counts).
void markOnce(const char* phase);
}  // namespace StartupTimeline

}  // namespace norvo
