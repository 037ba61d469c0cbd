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

#include "cli/RunOptionRows.hpp"
#include "norvo/Card.hpp"
#include "norvo/Catalogue.hpp"
#include "norvo/Numbers.hpp"
#include "support/AtomicFile.hpp"

namespace norvo {

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
    if (a == "--size" && v == "all") {
        o.presets = Presets::all();
    } else if (const CardSettingRow* row = settingByFlag(a)) {
        if (const auto expected = row->take(o.card, v)) return RenderUsageError{whyNotASetting(*row, v, *expected, true)};
        if (a == "--size") o.presets = {o.card.size};
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
    } else if (a == "--completion") {
        if (v != "bash" && v != "zsh" && v != "fish") return usage(_("unknown shell '%1' (bash, zsh or fish)"), v);
        if (o.answer == RenderOptions::Answer::None) o.answer = RenderOptions::Answer::Completion;
        o.shell = v;
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
    if ((o.card.pages || o.pdf) && o.presets.front().makesOneCard())
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
    if (const CardSettingRow* row = settingByFlag(a)) return row->kind != CardSettingRow::Kind::Switch;
    const RunOptionRow* row = runOptionByFlag(a);
    return row && row->value != OptionValue::None;
}

// The options that print something instead of rendering; nothing for another.
std::optional<RenderOptions::Answer> answerOf(const std::string& a) {
    using A = RenderOptions::Answer;
    static const std::pair<std::string_view, A> answers[] = {
        {"-h", A::Help},  {"--help", A::Help},      {"--version", A::Version}, {"--list-styles", A::Styles},
        {"--list-themes", A::Themes}, {"--list-fonts", A::Fonts}, {"--list-sizes", A::Sizes}};
    for (const auto& [flag, answer] : answers)
        if (a == flag) return answer;
    return std::nullopt;
}

}  // namespace

std::string whyNotASetting(const CardSettingRow& row, const std::string& value, const std::string& expected,
                           bool orAll) {
    if (row.key == "size")
        return Glib::ustring::compose(
                   _("unknown size '%1' (square, portrait, landscape, story, tall (1080x1440), WIDTHxHEIGHT with each "
                     "side from %2 to %3 px and at most %4:1 either way, long or WIDTHxlong%5)"),
                   value, Presets::kMinSide, Presets::kMaxSide, Presets::kMaxAspect, orAll ? _(", or all") : "")
            .raw();
    const std::string name = row.noun ? _(row.noun) : std::string(row.key);
    if (row.kind == CardSettingRow::Kind::Number)
        return Glib::ustring::compose(_("%1 '%2' is not %3"), name, value, _(expected.c_str())).raw();
    return Glib::ustring::compose(_("unknown %1 '%2' (%3)"), name, value, _(expected.c_str())).raw();
}

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
        } else if (const auto answer = answerOf(a)) {
            // --help wins; of the others, the first given.
            if (o.answer == RenderOptions::Answer::None || *answer == RenderOptions::Answer::Help) o.answer = *answer;
        } else if (const CardSettingRow* row = settingByFlag(a); row && row->kind == CardSettingRow::Kind::Switch) {
            row->take(o.card, row->text(CardSettings{}) == "true" ? "false" : "true");  // away from its default
        } else if (a == "--report") {
            o.report = true;
        } else if (a == "--pdf") {
            o.pdf = true;
        } else if (a == "--watch") {
            o.watch = true;
        } else if (a == "--copy") {
            o.copy = true;
        } else if (a == "--stream") {
            o.stream = true;
        } else if (takesValue(a)) {
            if (i + 1 >= args.size()) return usage(_("option %1 needs a value"), a);
            if (auto error = takeValue(o, a, args[++i], seen)) return *error;
        } else {
            return usage(_("unknown option '%1'"), a);
        }
    }
    if (o.answer != RenderOptions::Answer::None) return o;
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
