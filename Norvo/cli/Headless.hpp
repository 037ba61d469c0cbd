#pragma once
// What a command that draws without a window (norvo render, norvo mcp) readies before its
// first card: its standard streams, no session bus of its own, and a display to draw on.
#include <optional>

#include "cli/PrivateDisplay.hpp"

namespace norvo::Headless {

// A standard stream the run was started without (closed, not merely empty). Its slot is
// filled with /dev/null at once: the next file or socket opened would take it, and a note
// read from "-" or a card written to standard output would then be another file's bytes.
struct ClosedStreams {
    bool input = false, output = false;
};
ClosedStreams guardClosedStreams();
// For a command that answers on standard output what it reads on standard input: false, with
// `inputClosed` or `outputClosed` said on stderr, when either is closed. Else a reader gone is
// from now on an error to handle, not the end of the process (no SIGPIPE).
bool answersReady(const ClosedStreams& closed, const char* inputClosed, const char* outputClosed);

// A run without a session bus gets none: GLib would start one for it (dbus-launch, with a file
// in ~/.dbus) that outlives the run. Nothing a run does needs one, nor the accessibility bus.
void startNoSessionBus();

// GTK on the display; where there is none, on a headless display of the run's own (kept in
// `own` until the run ends). Else a word on stderr, from `command` ("norvo render").
bool displayReady(std::optional<PrivateDisplay>& own, const char* command);

}  // namespace norvo::Headless
