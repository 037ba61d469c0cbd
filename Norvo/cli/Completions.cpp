#include "cli/Completions.hpp"

#include <algorithm>
#include <vector>

#include <glib/gi18n.h>
#include <glibmm/ustring.h>

#include "cli/RunOptionRows.hpp"
#include "norvo/CardSettings.hpp"

namespace norvo {

namespace {

// An option as a shell completes it, from either table.
struct Completable {
    std::string flag{};   // "--theme", "-o"
    std::string alias{};  // "-h"; empty for none
    OptionValue value = OptionValue::None;
    std::vector<std::string> words{};  // a Word's values
    std::string about{};               // a few words of its help
};

// What a menu has room for: the help's first clause, without what it says in parentheses.
std::string brief(const std::string& help) {
    std::string out;
    int depth = 0;
    for (const char c : help.substr(0, help.find_first_of(";:"))) {
        if (c == '(' && depth++ == 0 && !out.empty() && out.back() == ' ') out.pop_back();
        if (depth == 0) out += c;
        if (c == ')') depth = std::max(0, depth - 1);
    }
    auto trim = [](std::string& text) {
        while (!text.empty() && (text.back() == ' ' || text.back() == ',' || text.back() == '.')) text.pop_back();
    };
    trim(out);
    if (Glib::ustring(out).size() > 64) {
        out = Glib::ustring(out).substr(0, 60).raw();
        if (const std::size_t space = out.rfind(' '); space != std::string::npos) out.erase(space);
        trim(out);
        out += "...";
    }
    return out;
}

Completable fromRun(const RunOptionRow& row) {
    Completable c{.flag = std::string(row.flag), .alias = std::string(row.alias), .value = row.value};
    for (const std::string_view word : row.words) c.words.emplace_back(word);
    c.about = brief(Glib::ustring::compose(_(row.help), "").raw());
    return c;
}

// `norvo render`'s options: the card settings, then the run's own (but the hidden ones).
std::vector<Completable> renderOptions() {
    std::vector<Completable> out;
    for (const CardSettingRow& row : cardSettingRows()) {
        Completable c{.flag = std::string(row.flag)};
        c.value = row.kind == CardSettingRow::Kind::Switch   ? OptionValue::None
                  : row.kind == CardSettingRow::Kind::Number ? OptionValue::Typed
                                                             : OptionValue::Word;
        if (row.words) c.words = row.words();
        if (row.key == "size") c.words.push_back("all");
        c.about = brief(_(row.help ? row.help : row.noun));
        out.push_back(std::move(c));
    }
    for (const RunOptionRow& row : runOptionRows())
        if (row.help) out.push_back(fromRun(row));
    // A word with a space would reach the command line as several; it is typed, not completed.
    for (Completable& c : out)
        std::erase_if(c.words, [](const std::string& w) { return w.find(' ') != std::string::npos; });
    return out;
}

// `norvo mcp`'s: where its cards go and its pictures come from, as `norvo render` takes them.
std::vector<Completable> mcpOptions() {
    std::vector<Completable> out;
    for (const std::string_view flag : {"-d", "--images", "--help"}) out.push_back(fromRun(*runOptionByFlag(flag)));
    return out;
}

struct Command {
    const char* name;
    const char* about;
    std::vector<Completable> options;
    bool takesFiles;
};

std::vector<Command> commands() {
    return {{"render", N_("render cards from Markdown files"), renderOptions(), true},
            {"mcp", N_("serve cards to an assistant over the Model Context Protocol"), mcpOptions(), false}};
}

std::string wordList(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

// `text` between single quotes, as `quote` writes a quote inside them.
std::string quoted(const std::string& text, std::string_view quote) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string(quote) : std::string(1, c);
    return out + "'";
}

std::string header(std::string_view shell) {
    return "# norvo's " + std::string(shell) + " completions, made by `norvo render --completion " + std::string(shell) +
           "`\n# from the options `norvo render --help` lists: the build writes this file.\n";
}

std::string bashCommand(const Command& command) {
    std::string out = "_norvo_" + std::string(command.name) + "() {\n    case $prev in\n";
    std::string typed, flags;
    for (const Completable& o : command.options) {
        const std::string names = o.alias.empty() ? o.flag : o.alias + "|" + o.flag;
        flags += (flags.empty() ? "" : " ") + (o.alias.empty() ? o.flag : o.alias + " " + o.flag);
        switch (o.value) {
        case OptionValue::None: break;
        case OptionValue::Typed: typed += (typed.empty() ? "" : "|") + names; break;
        case OptionValue::Word:
            out += "        " + names + ") COMPREPLY=($(compgen -W '" + wordList(o.words) + "' -- \"$cur\")); return ;;\n";
            break;
        case OptionValue::File: out += "        " + names + ") _norvo_files; return ;;\n"; break;
        case OptionValue::Folder: out += "        " + names + ") _norvo_folders; return ;;\n"; break;
        case OptionValue::Style: out += "        " + names + ") _norvo_styles \"${COMP_WORDS[0]}\"; return ;;\n"; break;
        }
    }
    if (!typed.empty()) out += "        " + typed + ") return ;;\n";
    out += "    esac\n    if [[ $cur == -* ]]; then\n        COMPREPLY=($(compgen -W '" + flags + "' -- \"$cur\"))\n";
    if (command.takesFiles) out += "    else\n        _norvo_files\n";
    return out + "    fi\n}\n\n";
}

std::string bashScript() {
    std::string out = header("bash") + R"sh(
_norvo_files() { local IFS=$'\n'; compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")); }
_norvo_folders() { local IFS=$'\n'; compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); }
# A saved or bundled style by its name, or a style file.
_norvo_styles() {
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -W "$("$1" render --list-styles 2>/dev/null)" -- "$cur")
               $(compgen -f -X '!*.json' -- "$cur") $(compgen -d -- "$cur"))
}

)sh";
    std::string names, cases;
    for (const Command& command : commands()) {
        out += bashCommand(command);
        names += (names.empty() ? "" : " ") + std::string(command.name);
        cases += "        " + std::string(command.name) + ") _norvo_" + command.name + " ;;\n";
    }
    return out + R"sh(_norvo() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        else
            _norvo_files
            COMPREPLY+=($(compgen -W ')sh" + names + R"sh(' -- "$cur"))
        fi
        return
    fi
    case ${COMP_WORDS[1]} in
)sh" + cases + R"sh(        -*) ;;
        *) _norvo_files ;;
    esac
}
complete -F _norvo norvo
)sh";
}

// zsh's `[about]`: brackets and quotes escaped.
std::string zshAbout(const std::string& about) {
    std::string out;
    for (const char c : about) out += c == '[' || c == ']' ? std::string("\\") + c : std::string(1, c);
    return "[" + out + "]";
}

// One option's spec for _arguments, quoted, on a line of its own.
std::string zshSpec(const Completable& o, const std::string& flag) {
    const std::string repeat = o.flag == "--images" ? "*" : "";
    std::string spec = repeat + flag + zshAbout(o.about);
    switch (o.value) {
    case OptionValue::None: break;
    case OptionValue::Typed: spec += ":value: "; break;
    case OptionValue::Word: spec += ":value:(" + wordList(o.words) + ")"; break;
    case OptionValue::File: spec += ":file:_files"; break;
    case OptionValue::Folder: spec += ":folder:_files -/"; break;
    case OptionValue::Style: spec += ":style:_norvo_styles"; break;
    }
    return " \\\n    " + quoted(spec, "'\\''");
}

std::string zshScript() {
    std::string out = "#compdef norvo\n" + header("zsh") + R"sh(
# A saved or bundled style by its name, or a style file.
_norvo_styles() {
  local -a styles
  styles=(${(f)"$(_call_program styles norvo render --list-styles 2>/dev/null)"})
  _alternative 'styles:style:compadd -a styles' 'files:style file:_files -g "*.json"'
}

)sh";
    std::string menu, cases;
    for (const Command& command : commands()) {
        out += "_norvo_" + std::string(command.name) + "() {\n  _arguments -S";
        for (const Completable& o : command.options) {
            out += zshSpec(o, o.flag);
            if (!o.alias.empty()) out += zshSpec(o, o.alias);
        }
        out += command.takesFiles ? " \\\n    '*:note:_files'\n}\n\n" : "\n}\n\n";
        menu += std::string(command.name) + "\\:\"" + _(command.about) + "\" ";
        cases += "        " + std::string(command.name) + ") _norvo_" + command.name + " ;;\n";
    }
    return out + R"sh(_norvo() {
  local curcontext=$curcontext state line
  _arguments -C \
    '(- *)--version[print the version]' \
    '(- *)'{-h,--help}'[show the usage]' \
    '1: :->command' \
    '*:: :->argument'
  case $state in
    command) _alternative 'commands:command:(()sh" + menu + R"sh())' 'notes:note:_files' ;;
    argument)
      case $line[1] in
)sh" + cases + R"sh(        *) _files ;;
      esac ;;
  esac
}

_norvo "$@"
)sh";
}

std::string fishLine(const Command& command, const Completable& o) {
    auto name = [](const std::string& flag) { return (flag.size() == 2 ? " -s " : " -l ") + flag.substr(flag.size() == 2 ? 1 : 2); };
    std::string out = "complete -c norvo -n '__fish_seen_subcommand_from " + std::string(command.name) + "'" + name(o.flag);
    if (!o.alias.empty()) out += name(o.alias);
    switch (o.value) {
    case OptionValue::None: break;
    case OptionValue::Typed: out += " -x"; break;
    case OptionValue::Word: out += " -x -a " + quoted(wordList(o.words), "\\'"); break;
    case OptionValue::File: out += " -r -F"; break;
    case OptionValue::Folder: out += " -x -a '(__fish_complete_directories)'"; break;
    case OptionValue::Style: out += " -x -a '(__norvo_styles; __fish_complete_suffix .json)'"; break;
    }
    return out + " -d " + quoted(o.about, "\\'") + "\n";
}

std::string fishScript() {
    std::string out = header("fish") + R"sh(
function __norvo_styles
    norvo render --list-styles 2>/dev/null
end

complete -c norvo -f
complete -c norvo -n __fish_use_subcommand -l version -d 'print the version'
complete -c norvo -n __fish_use_subcommand -s h -l help -d 'show the usage'
)sh";
    std::string names;
    for (const Command& command : commands()) names += " " + std::string(command.name);
    out += "complete -c norvo -n 'not __fish_seen_subcommand_from" + names + "' -F\n";
    for (const Command& command : commands()) {
        out += "\ncomplete -c norvo -n __fish_use_subcommand -a " + std::string(command.name) + " -d " +
               quoted(_(command.about), "\\'") + "\n";
        for (const Completable& o : command.options) out += fishLine(command, o);
        if (command.takesFiles) out += "complete -c norvo -n '__fish_seen_subcommand_from " + std::string(command.name) + "' -F\n";
    }
    return out;
}

}  // namespace

std::optional<std::string> completionScript(std::string_view shell) {
    if (shell == "bash") return bashScript();
    if (shell == "zsh") return zshScript();
    if (shell == "fish") return fishScript();
    return std::nullopt;
}

}  // namespace norvo
