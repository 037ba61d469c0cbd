#include "cli/NoteInputs.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <glib/gi18n.h>

#include <glibmm/ustring.h>

#include "cli/OutputLines.hpp"
#include "norvo/Card.hpp"
#include "norvo/FrontMatter.hpp"
#include "support/StyleFiles.hpp"

namespace norvo {

namespace {
std::string reason(int error) { return std::error_code(error, std::generic_category()).message(); }
}  // namespace

NoteLook lookOf(const std::string& label, const std::string& markdown, const RenderOptions& options,
                const CardStyle& runStyle, bool warn) {
    CardSettings run = options.card;
    run.style = runStyle;
    NoteSettings note = NoteSettings::of(markdown);
    CardSettings asked;  // what the note's own values say, each over its default
    for (const auto& [key, value] : note.values) settingByKey(key)->take(asked, value);
    std::vector<std::string> warnings;
    if (asked.pages && options.outputFile && !options.pdf) {
        warnings.push_back("pages: -o names one file, so the note is drawn as one card (-d takes its pages)");
        note.values.erase("pages");
    }
    NoteLook look{overlayFrontMatter(run, note, StyleFiles::lookup, warnings), options.presets};
    if (note.sets("size")) look.presets = {look.settings.size};
    if (look.settings.cover && !look.settings.pages && !options.pdf)
        warnings.push_back("cover: a cover opens a set of cards, and this note is drawn as one (--pages makes a set)");
    if (asked.splitAtHeadings && !look.settings.pages && !options.pdf)
        warnings.push_back("split: a set of cards is split at headings, and this note is drawn as one (--pages "
                           "makes a set)");
    for (const std::string& warning : warnings)
        if (warn) std::fprintf(stderr, _("norvo render: %s: %s\n"), label.c_str(), warning.c_str());
    return look;
}

std::string whyUnreadable(const std::string& label, const NoteFileRead& read) {
    switch (read.problem) {
    case NoteFileRead::Problem::None: return {};
    case NoteFileRead::Problem::System: return label + ": " + reason(read.error);
    case NoteFileRead::Problem::Folder: return label + ": is a folder";
    case NoteFileRead::Problem::NotAFile: return label + ": " + read.notAFile;
    case NoteFileRead::Problem::TooLong: return label + ": too long to render (over 1 MiB)";
    case NoteFileRead::Problem::NulByte:
        return label + " contains a NUL byte at offset " + std::to_string(read.nulOffset);
    case NoteFileRead::Problem::NotUtf8: return label + " is not UTF-8 text";
    }
    return {};
}

bool readable(const std::string& label, const NoteFileRead& read) {
    if (read.ok()) {
        if (noteBody(read.text).find_first_not_of(" \t\r\n\f\v") == std::string_view::npos)
            std::fprintf(stderr, _("norvo render: %s: empty note\n"), label.c_str());
        return true;
    }
    std::fprintf(stderr, _("norvo render: %s\n"), whyUnreadable(label, read).c_str());
    return false;
}

std::deque<Note> readNotes(const RenderOptions& options, const CardStyle& runStyle, bool stdinClosed, int& failures) {
    std::deque<Note> notes;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        const bool mine = options.mine(i);
        const std::string label = input == "-" ? "standard input" : input;
        NoteFileRead read;
        if (input == "-" && stdinClosed) {
            read.problem = NoteFileRead::Problem::System;
            read.error = EBADF;
        } else {
            read = readNoteFile(input, Card::kMaxMarkdownBytes);
        }
        if (!mine) {
            if (!read.ok()) continue;
        } else if (!readable(label, read)) {
            ++failures;
            continue;
        }
        std::string folder;
        if (input != "-") {
            const auto parent = std::filesystem::path(input).parent_path();
            folder = parent.empty() ? "." : parent.string();
        }
        NoteLook look = lookOf(label, read.text, options, runStyle, mine);
        notes.push_back(Note{label, std::move(read.text), std::move(folder), std::move(look), {}, {}, mine});
    }
    return notes;
}

void removeStaleTemporaries(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 13 || name.rfind(".norvo-", 0) != 0) continue;
        if (!std::all_of(name.begin() + 7, name.end(), [](unsigned char c) { return std::isalnum(c); })) continue;
        std::error_code e;
        if (!it->is_regular_file(e) || it->is_symlink(e)) continue;
        const auto modified = std::filesystem::last_write_time(it->path(), e);
        if (!e && now - modified >= std::chrono::minutes(1)) std::filesystem::remove(it->path(), e);
    }
}

std::optional<std::string> prepareOutputFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        // A parent that is there but takes no folders (/proc) answers "No such file or directory".
        const std::filesystem::path parent = folder.lexically_normal().parent_path();
        if (ec == std::errc::no_such_file_or_directory && !parent.empty() && std::filesystem::is_directory(parent))
            return Glib::ustring::compose(_("cannot make the folder %1: %2 takes no new folders"), printable(folder),
                                          printable(parent)).raw();
        if (ec) return Glib::ustring::compose(_("cannot make the folder %1: %2"), printable(folder), ec.message()).raw();
    }
    std::string probe = (folder / ".norvo-XXXXXX").string();
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return Glib::ustring::compose(_("cannot write to %1: %2"), printable(folder), reason(errno)).raw();
    ::close(fd);
    ::unlink(probe.c_str());
    return std::nullopt;
}

}  // namespace norvo
