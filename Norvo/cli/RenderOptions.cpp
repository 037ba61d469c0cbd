#include "cli/RenderOptions.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <string>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gi18n.h>
#include <glibmm/ustring.h>

#include "norvo/Card.hpp"
#include "norvo/Catalogue.hpp"
#include "norvo/Numbers.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

namespace {

// "paper (default), ink or sky": the catalogue's ids, the first the default, with what
// `extra` adds to each.
template <typename T>
std::string choices(const std::vector<T>& all, const std::function<std::string(const T&)>& extra) {
    std::string out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i) out += i + 1 == all.size() ? std::string(" ") + _("or") + " " : std::string(", ");
        const std::string more = extra(all[i]);
        out += all[i].id + (i == 0 ? std::string(" (") + _("default") + (more.empty() ? "" : ", " + more) + ")"
                                   : more.empty() ? std::string() : " (" + more + ")");
    }
    return out;
}

// `text` folded to lines of at most 78 terminal columns, each after the first indented by 19.
// A line may break at a space, or after a wide (CJK) character, which takes two columns;
// closing punctuation stays with what it closes.
std::string folded(const std::string& text) {
    constexpr std::size_t kWidth = 78 - 19;
    const Glib::ustring closing = "\uFF0C\u3002\u3001\uFF1B\uFF1A\uFF09\u201D\u300D\uFF01\uFF1F)";
    const Glib::ustring opening = "\uFF08\u201C\u300C(";
    struct Piece {
        Glib::ustring text;
        std::size_t columns = 0;
        bool afterSpace = false;
    };
    std::vector<Piece> pieces;
    bool space = false;
    for (const gunichar c : Glib::ustring(text)) {
        if (c == ' ') {
            space = true;
            continue;
        }
        const bool wide = g_unichar_iswide(c);
        const gunichar last = pieces.empty() ? 0 : pieces.back().text[pieces.back().text.size() - 1];
        const bool joins = !pieces.empty() && !space &&
                           (closing.find(c) != Glib::ustring::npos || opening.find(last) != Glib::ustring::npos ||
                            (!wide && !g_unichar_iswide(last)));
        if (!joins) pieces.push_back({{}, 0, space});
        pieces.back().text += c;
        pieces.back().columns += wide ? 2 : 1;
        space = false;
    }
    std::string out;
    std::size_t used = 0;
    for (const Piece& piece : pieces) {
        const std::size_t gap = used && piece.afterSpace ? 1 : 0;
        if (used && used + gap + piece.columns > kWidth) {
            out += "\n" + std::string(19, ' ');
            used = 0;
        } else if (gap) {
            out += ' ';
            used += 1;
        }
        out += piece.text.raw();
        used += piece.columns;
    }
    return out;
}

// The help's head: the usage, then the options whose values come from the catalogue (a new
// theme, font or size is listed by itself).
std::string catalogueHelp() {
    const std::function<std::string(const Theme&)> noTheme = [](const Theme&) { return std::string(); };
    const std::function<std::string(const Font&)> noFont = [](const Font&) { return std::string(); };
    const std::function<std::string(const Preset&)> pixels = [](const Preset& p) {
        return std::to_string(p.width) + "x" + std::to_string(p.height);
    };
    std::string sizes = choices(Presets::all(), pixels);
    sizes.replace(sizes.rfind(std::string(" ") + _("or") + " "), std::string(_("or")).size() + 2, ", ");
    // The option names and the values in them are typed as they stand: only the words
    // around them are translated.
    return std::string(_("Usage: norvo render [OPTION]... [FILE]...\n"
                         "Render Markdown notes as PNG cards, one card per file and size.\n"
                         "With no FILE, or when FILE is -, read standard input.\n")) +
           "\n  --theme THEME    " + choices(Themes::all(), noTheme) + "\n" +
           "  --font FONT      " + choices(Fonts::all(), noFont) + "\n" + "  --size SIZE      " +
           folded(Glib::ustring::compose(_("%1, tall (1080x1440), WIDTHxHEIGHT (each side 320 to 4096 px, at most "
                                           "4:1), long or WIDTHxlong (1080 or WIDTH wide, as tall as the note up to "
                                           "16383 px), or all (the first four)"),
                                         sizes));
}

}  // namespace

const char* renderHelpText() {
    // The option names and the values in them are typed as they stand: only the words
    // around them are translated.
    static const std::string text = catalogueHelp() + "\n" + _(R"(  --scale X        text size multiplier, 0.5 to 3 (default 1.0); the app's
                   Text slider offers the everyday 0.7 to 1.8 of it
  --no-wordmark    leave the tazu wordmark off the card
  --report         print one JSON object per card instead of the usual line:
                   {"file", "width", "height", "bodyPx", "minPx", "cut",
                   "overflowX", "brokenWords", "minContrast"} (text sizes in pixels;
                   cut: part of the note is not shown; brokenWords: words split
                   across lines; minContrast: the lowest contrast of any text
                   against what is behind it)
  --pages          split a long note into a set of cards of the same size (at
                   most 20): <slug>-<size>-1.png, -2.png, ... (one card keeps the
                   plain name); --report then gives one line per card, with
                   "page" and "pages"
  --cover          open each set with a cover card: the note's first heading as
                   a hero, with the subtitle and tags of its front matter
                   ("subtitle: ...", "tags: a, b") and a cue to swipe; the cover
                   is card 1 of the set and counts in its marks; --report marks
                   its line with "cover": true
  --page-marks M   how a set's cards are numbered: n/N (default, 3/12),
                   '01 / 12' or none
  --split S        where a set starts a new card: auto (default, where a card
                   is full) or headings (at every # and ## heading as well)
  --format F       png (default), jpeg (quality 92) or webp (lossless); the
                   files are named .png, .jpg or .webp
  --density D      1 (default) or 2: the same card at twice the width and height
                   (2160x2160 for square), drawn at that size
  --pdf            write the set as one PDF, <slug>-<size>.pdf, a page per card
                   (with --pages, the PNG files too); --report gives it a line
                   {"pdf", "pages"}
  --watch          after rendering, render a note's cards again each time its
                   file is saved (saves within 0.1 s count once), one line per
                   card written, until Ctrl+C (exit 0); a note that cannot be
                   read says why and is rendered again once it can
  --jobs N         draw on N pages side by side (default: 2 with four cores or
                   more, else 1: on two cores one page and the writer keep both busy)
  --shard K/N      draw only the notes at places K, K+N, K+2N, ... of the inputs,
                   under the names the whole batch gives them: N runs (on N
                   machines) draw the batch once, and their --report lines
                   together are its report
  --stream         answer requests, one JSON object a line on standard input
                   ({"markdown" or "file", and any of "size", "theme", "font",
                   "scale", "style", "pages", "split", "format", "output", "id"}), each
                   with one JSON line on standard output, in order: the card's
                   report (with its "id"), or {"id", "error"}; the options above
                   are the defaults, -d the folder for requests without "output"
  --copy           put the one card on the clipboard, with the note's plain text
                   beside it, instead of writing a file; it is served in the
                   background until something else is copied or 10 minutes pass
  --images DIR     pictures may also come from DIR (repeatable); a note's own
                   folder always counts. A picture is named by a path relative to
                   one of them (![alt](photos/cat.jpg)); PNG, JPEG, WebP or GIF, at
                   most 25 MB and 50 megapixels. One that cannot be shown keeps its
                   description on the card and is named in a warning
  --style STYLE    draw the cards in a style: one that comes with Norvo or one
                   saved in norvo's Styles (by its name), or a style file (a path
                   to a .json file); a style that does not exist is a usage error
  --list-styles    name every style, one a line: those that come with Norvo,
                   then the user's own
  -o FILE          write the one card to FILE
  -d DIR           write cards into DIR (default: the current folder), named
                   after the note's first line: <slug>-<size>.png
  -h, --help       show this help
)") + "\n" +
               _(R"(A note may set theme, font, size, scale, wordmark, pages, cover, page-marks, split,
style and accent for itself in its front matter ("---" lines at its top, "key: value" between
them); the options above are the defaults it changes.

Each card written is reported on its own line. Two cards of one run never share a
file: a repeated name gets "-2", "-3", ... before ".png". SIGINT or SIGTERM stops
the run between files (exit 130 or 143): what was written is what was reported.
Exit status: 0 when every card was written, 1 when any failed, 2 for bad usage.
Without a display (over ssh, in CI) it draws on a headless display of its own (Xvfb),
stopped when the run ends.
)");
    return text.c_str();
}

namespace {

// A usage error in the user's language; the values in it stand as typed.
template <typename... Values>
RenderUsageError usage(const char* message, const Values&... values) {
    if constexpr (sizeof...(values) == 0) return RenderUsageError{message};
    else return RenderUsageError{Glib::ustring::compose(message, values...).raw()};
}

// Where an option's value goes, in `o`. A usage error, or nothing.
struct Seen {
    bool folder = false, format = false;
};
std::optional<RenderUsageError> takeValue(RenderOptions& o, const std::string& a, const std::string& v, Seen& seen) {
    if (a == "--theme") {
        if (!Themes::isKnown(v))
            return usage(_("unknown theme '%1' (%2)"), v, Themes::idList());
        o.card.theme = v;
    } else if (a == "--font") {
        if (!Fonts::isKnown(v))
            return usage(_("unknown font '%1' (%2)"), v, Fonts::idList());
        o.card.font = v;
    } else if (a == "--size") {
        if (v == "all") {
            o.presets = Presets::all();
        } else {
            const auto p = Presets::parse(v);
            if (!p)
                return usage(_("unknown size '%1' (square, portrait, landscape, story, tall (1080x1440), WIDTHxHEIGHT "
                               "with each side from %2 to %3 px and at most %4:1 either way, long or WIDTHxlong, or all)"),
                             v, Presets::kMinSide, Presets::kMaxSide, Presets::kMaxAspect);
            o.presets = {*p};
        }
    } else if (a == "--page-marks") {
        if (!isPageMarks(v)) return usage(_("unknown page marks '%1' (n/N, '01 / 12' or none)"), v);
        o.card.pageMarks = v;
    } else if (a == "--split") {
        const auto headings = splitsAtHeadings(v);
        if (!headings) return usage(_("unknown split '%1' (auto or headings)"), v);
        o.card.splitAtHeadings = *headings;
    } else if (a == "--scale") {
        const auto x = parseStrictDouble(v);
        if (!x || !std::isfinite(*x) || *x < 0.5 || *x > 3.0)
            return usage(_("scale '%1' is not a number from 0.5 to 3"), v);
        o.card.scale = *x;
    } else if (a == "--density") {
        if (v != "1" && v != "2") return usage(_("density '%1' is not 1 or 2"), v);
        o.density = v == "2" ? 2 : 1;
    } else if (a == "--format") {
        const auto format = CardFormats::byName(v);
        if (!format) return usage(_("unknown format '%1' (png, jpeg or webp)"), v);
        o.format = *format;
        seen.format = true;
    } else if (a == "--style") {
        o.style = v;
    } else if (a == "--images") {
        o.pictureFolders.push_back(v);
    } else if (a == "--jobs") {
        const auto n = parseStrictDouble(v);
        if (!n || *n != std::floor(*n) || *n < 1 || *n > 16) return usage(_("jobs '%1' is not a number from 1 to 16"), v);
        o.jobs = std::size_t(*n);
    } else if (a == "--shard") {
        const std::size_t slash = v.find('/');
        const auto k = slash == std::string::npos ? std::nullopt : parseStrictDouble(v.substr(0, slash));
        const auto n = slash == std::string::npos ? std::nullopt : parseStrictDouble(v.substr(slash + 1));
        if (!k || !n || *k != std::floor(*k) || *n != std::floor(*n) || *n < 1 || *n > 10000 || *k < 1 || *k > *n)
            return usage(_("shard '%1' is not K/N with 1 <= K <= N (1/2, 2/2)"), v);
        o.shard = std::size_t(*k);
        o.shards = std::size_t(*n);
    } else if (a == "-o") {
        o.outputFile = v == "-" ? std::filesystem::path("/dev/stdout") : std::filesystem::path(v);
    } else {
        o.outputFolder = v;
        seen.folder = true;
    }
    return std::nullopt;
}

// What the options ask for together. A usage error, or nothing.
std::optional<RenderUsageError> checkTogether(RenderOptions& o, const Seen& seen) {
    if (o.inputs.empty()) o.inputs.push_back("-");
    if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1)
        return usage(_("standard input (-) can be read only once"));
    if (o.watch && std::count(o.inputs.begin(), o.inputs.end(), "-") > 0)
        return usage(_("--watch needs note files, not standard input"));
    if (o.outputFile) {
        const std::string name = o.outputFile->string();
        if (name.empty()) return usage(_("-o needs a file name"));
        if (name.back() == '/') return usage(_("-o '%1' names a folder; use -d"), name);
    }
    if (o.outputFile && seen.folder) return usage(_("use either -o or -d, not both"));
    if ((o.card.pages || o.pdf) && o.presets.front().grows)
        return usage(_("a long picture is one card as tall as its note: no --pages or --pdf"));
    if (o.outputFile) {
        // The file's ending says what it holds: a card is never written under another's name.
        const auto named = CardFormats::namedBy(*o.outputFile);
        if (named && seen.format && *named != o.format)
            return usage(_("-o '%1' ends in %2 but --format asks for %3"), o.outputFile->string(),
                         o.outputFile->extension().string(), std::string(CardFormats::extension(o.format)).substr(1));
        if (named) o.format = *named;
        std::string ending = o.outputFile->extension().string();
        for (char& c : ending) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (ending == ".pdf" && !o.pdf) return usage(_("-o '%1' is a PDF: add --pdf"), o.outputFile->string());
        if (o.card.pages && !o.pdf) return usage(_("--pages makes several cards, but -o names one file; use -d"));
    }
    if (o.shards > 1 && (o.outputFile || o.watch || o.copy ||
                         std::count(o.inputs.begin(), o.inputs.end(), "-") > 0))
        return usage(_("--shard shares note files among runs: no standard input, -o, --watch or --copy"));
    if (o.copy && (o.outputFile || seen.folder || o.card.pages || o.pdf || o.watch))
        return usage(_("--copy puts one card on the clipboard: no -o, -d, --pages, --pdf or --watch"));
    if (o.copy && o.inputs.size() * o.presets.size() != 1)
        return usage(_("--copy takes one card, but this run makes %1"), o.inputs.size() * o.presets.size());
    if (o.outputFile && o.inputs.size() * o.presets.size() != 1)
        return usage(_("-o names one file, but this run makes %1 cards; use -d"), o.inputs.size() * o.presets.size());
    return std::nullopt;
}

bool takesValue(const std::string& a) {
    return a == "--theme" || a == "--font" || a == "--size" || a == "--scale" || a == "--format" || a == "--density" ||
           a == "--images" || a == "--style" || a == "--shard" || a == "--jobs" || a == "--page-marks" || a == "--split" ||
           a == "-o" ||
           a == "-d";
}

}  // namespace

std::variant<RenderOptions, RenderUsageError> parseRenderOptions(const std::vector<std::string>& args) {
    RenderOptions o;
    Seen seen;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyFiles || a == "-" || a.empty() || a[0] != '-') {
            o.inputs.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--no-wordmark") {
            o.card.wordmark = false;
        } else if (a == "--report") {
            o.report = true;
        } else if (a == "--pages") {
            o.card.pages = true;
        } else if (a == "--cover") {
            o.card.cover = true;
        } else if (a == "--pdf") {
            o.pdf = true;
        } else if (a == "--watch") {
            o.watch = true;
        } else if (a == "--copy") {
            o.copy = true;
        } else if (a == "--stream") {
            o.stream = true;
        } else if (a == "--list-styles") {
            o.listStyles = true;
        } else if (takesValue(a)) {
            if (i + 1 >= args.size()) return usage(_("option %1 needs a value"), a);
            if (auto error = takeValue(o, a, args[++i], seen)) return *error;
        } else {
            return usage(_("unknown option '%1'"), a);
        }
    }
    if (o.help || o.listStyles) return o;
    if (o.stream) {
        if (!o.inputs.empty() || o.outputFile || o.watch || o.copy || o.pdf)
            return usage(_("--stream reads its requests from standard input: no FILE, -o, --watch, --copy or --pdf"));
        return o;
    }
    if (auto error = checkTogether(o, seen)) return *error;
    return o;
}

std::optional<std::string> whyNotACardName(const std::filesystem::path& file) {
    const std::string ending = file.extension().string();
    if (ending.empty() || CardFormats::namedBy(file)) return std::nullopt;
    std::string lower = ending;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == ".pdf") return std::nullopt;
    return Glib::ustring::compose(_("ends in %1, which Norvo does not write (.png, .jpg, .webp or .pdf)"), ending).raw();
}

namespace {
// Whether the file starts as a PNG, JPEG, WebP or PDF does (a card written without an ending).
bool startsAsACard(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[12] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    auto is = [&](std::string_view magic, std::size_t at = 0) {
        return n >= ssize_t(at + magic.size()) && std::memcmp(head + at, magic.data(), magic.size()) == 0;
    };
    return is("\x89PNG\r\n\x1a\n") || is("\xff\xd8\xff") || (is("RIFF") && is("WEBP", 8)) || is("%PDF-");
}
}  // namespace

std::optional<std::string> whyNotACardFile(const std::filesystem::path& file, const std::vector<std::string>& notes) {
    struct stat st {};
    const auto fd = descriptorNamedBy(file);
    if (fd ? ::fstat(*fd, &st) != 0 : ::stat(file.c_str(), &st) != 0) {
        if (errno == ELOOP) return std::string(g_strerror(ELOOP));
        // A new file: the name it gets at the end of any links is Norvo's to choose.
        return fd ? std::nullopt : whyNotACardName(pathThroughLinks(file));
    }
    if (S_ISDIR(st.st_mode)) return std::string(_("is a folder; use -d"));
    // A note is the same file whichever way it is named: a path, a link, a descriptor, "-".
    for (const std::string& note : notes) {
        struct stat read {};
        const bool same = (note == "-" ? ::fstat(STDIN_FILENO, &read) : ::stat(note.c_str(), &read)) == 0 &&
                          S_ISREG(read.st_mode) && read.st_dev == st.st_dev && read.st_ino == st.st_ino;
        if (same) return std::string(_("is one of the notes to render"));
    }
    if (fd || !S_ISREG(st.st_mode)) return std::nullopt;  // written into as it stands; the writer refuses the rest
    if (const auto why = whyNotACardName(file)) return why;
    // Written through a link: the file it leads to is the one replaced.
    const std::filesystem::path target = pathThroughLinks(file);
    const bool card = target.extension().empty() ? startsAsACard(target) : !whyNotACardName(target);
    if (!card) return std::string(_("is a file Norvo did not write: only .png, .jpg, .webp and .pdf files are replaced"));
    return std::nullopt;
}

std::optional<RenderUsageError> checkOutputFile(const RenderOptions& options) {
    if (!options.outputFile) return std::nullopt;
    if (const auto why = whyNotACardFile(*options.outputFile, options.inputs))
        return usage(_("-o '%1' %2"), options.outputFile->string(), *why);
    // With --pdf the PDF is named after -o: it is held to the same rules.
    if (options.pdf) {
        if (descriptorNamedBy(*options.outputFile)) return usage(_("--pdf names its PDF after -o, which needs a file name"));
        const std::filesystem::path pdf = std::filesystem::path(*options.outputFile).replace_extension(".pdf");
        if (const auto why = whyNotACardFile(pdf, options.inputs)) return usage(_("-o '%1' %2"), pdf.string(), *why);
    }
    return std::nullopt;
}

std::filesystem::path OutputNames::claim(const std::filesystem::path& wanted) {
    const std::filesystem::path normal = wanted.lexically_normal();
    const std::string stem = normal.stem().string(), extension = normal.extension().string();
    auto named = [&](const std::string& tail) {
        std::filesystem::path p = normal;
        p.replace_filename(Card::fitName(stem, tail));
        return p;
    };
    std::filesystem::path candidate = named(extension);
    for (int n = 2; taken_.count(candidate); ++n) candidate = named("-" + std::to_string(n) + extension);
    taken_.insert(candidate);
    return candidate;
}

std::filesystem::path OutputNames::claimSet(const std::filesystem::path& folder, const std::string& slug,
                                            const std::string& sizeID, const std::string& extension) {
    auto named = [&](int n) {
        const std::string counter = n > 1 ? "-" + std::to_string(n) : "";
        return (folder / Card::fitName(slug, counter + "-" + sizeID + extension)).lexically_normal();
    };
    std::filesystem::path candidate = named(1);
    for (int n = 2; taken_.count(candidate); ++n) candidate = named(n);
    taken_.insert(candidate);
    return candidate;
}

}  // namespace norvo
