#pragma once
// The notes of one `norvo render`: read by the rules every note follows, each with its look
// (the run's settings under its own front matter), and the folder their cards go to.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "cli/RenderOptions.hpp"
#include "norvo/CardSettings.hpp"
#include "support/NoteFile.hpp"

namespace norvo {

// How one note's cards look: the run's settings, and over them what the note's front matter
// asks for itself; its sizes (the run's, or the one its front matter names).
struct NoteLook {
    CardSettings settings;
    std::vector<Preset> presets;
};

struct Note {
    std::string label;  // file name or "standard input"
    std::string markdown;
    std::string folder;  // where its pictures are (empty for standard input)
    NoteLook look;
    std::vector<std::size_t> firstCards;  // its cards of the first round (--watch draws them again)
    mutable std::set<std::string> warnedPictures;  // each picture not shown is named once (main thread)
    bool mine = true;  // drawn by this run (--shard): others are read for their names only
};

// The look of the note `markdown` read from `label`: the run's, changed by the note's front
// matter. A value the note cannot have is named in a warning and the run's is kept.
NoteLook lookOf(const std::string& label, const std::string& markdown, const RenderOptions& options,
                const CardStyle& runStyle, bool warn = true);

// Whether a note read from `label` can be rendered; if not, says why on stderr.
bool readable(const std::string& label, const NoteFileRead& read);
// Why a note read from `label` cannot be rendered ("notes/x.md is not UTF-8 text"), or empty.
std::string whyUnreadable(const std::string& label, const NoteFileRead& read);

// Every input of the run read, in order (stable addresses); each of this run's share that
// cannot be is named on stderr and counted in `failures` (another run's is left out quietly:
// that run names it). `stdinClosed`: "-" is an error, not an empty note.
std::deque<Note> readNotes(const RenderOptions& options, const CardStyle& runStyle, bool stdinClosed, int& failures);

// Creates the output folder when missing and proves it takes a file, before anything is
// rendered. Nothing when it does; else what failed, in words for the user.
std::optional<std::string> prepareOutputFolder(const std::filesystem::path& folder);

// Temporary files that runs stopped hard (a kill, a power cut) left in `folder`: only the
// atomic writer's own pattern, only regular files, only those a minute old or more.
void removeStaleTemporaries(const std::filesystem::path& folder);

}  // namespace norvo
