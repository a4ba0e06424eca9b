#include "cli.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <sstream>

#ifndef VFB_TOOL_VERSION
#define VFB_TOOL_VERSION "unknown"
#endif

namespace vfbtool {

namespace {

constexpr char kProgram[] = "vantrelfb";

struct ParamInfo {
    Param param;
    const char *option;  // without the leading "--"
    const char *metavar;
    const char *help;
    bool path;  // an empty path can only be a mistake
};

const ParamInfo kParams[kParamCount] = {
    {Param::kUrl, "url", "URL", "URL to GET; its scheme decides whether TLS is used", false},
    {Param::kMessage, "message", "TEXT", "text of the post", false},
    {Param::kName, "name", "TEXT", "name of the event", false},
    {Param::kTitle, "title", "TEXT", "title of the note", false},
    {Param::kContent, "content", "TEXT", "body of the note", false},
    {Param::kToken, "token", "TOKEN", "OAuth access token, or - to read it from standard input", false},
    {Param::kTarget, "target", "ID", "id of the user or page whose feed receives the post", false},
    {Param::kUid, "uid", "ID", "id of the user the note belongs to", false},
    {Param::kNote, "note", "ID", "id of the note", false},
    {Param::kOwner, "owner", "ID", "id of the note's owner", false},
    {Param::kObject, "object", "ID", "id of the object to delete", false},
    {Param::kMedia, "media", "FILE", "file whose bytes are uploaded", true},
    {Param::kOut, "out", "FILE", "file that receives the response body, or - for standard output", true},
    {Param::kExtra, "extra", "TEXT", "accepted and ignored by the library", false},
    {Param::kExtra2, "extra2", "TEXT", "accepted and ignored by the library", false},
};

const ParamInfo &Info(Param p) { return kParams[static_cast<std::size_t>(p)]; }

struct ArgUse {
    Param param;
    bool required;
    const char *help = nullptr;  // overrides the parameter's general help
};

struct CommandInfo {
    Command command;
    const char *group;  // "note" for the note actions, else null
    const char *word;
    const char *export_name;
    const char *summary;
    // In the export's argument order, so that the help can show the call.
    std::vector<ArgUse> args;
    const char *example;  // a whole command line that works as it stands
};

// Options of the tool itself rather than of an export.
enum class ToolOption { kTokenFile, kNoProgress, kJson, kConnectTimeout, kStallTimeout, kVerbose, kQuiet };

// What an option's value is, for the completion scripts: kText is a text or
// an id, where there is nothing to offer.
enum class ValueKind { kNone, kText, kFile, kNumber };

struct ToolOptionInfo {
    ToolOption option;
    const char *name;        // without the leading "--"
    const char *short_name;  // "-v", or null
    const char *metavar;     // null for a switch
    ValueKind value;
    const char *help;
    const char *more;  // what the tool's own help adds, or null
};

const ToolOptionInfo kToolOptions[] = {
    {ToolOption::kTokenFile, "token-file", nullptr, "FILE", ValueKind::kFile,
     "read the access token from FILE (one line)", nullptr},
    {ToolOption::kNoProgress, "no-progress", nullptr, nullptr, ValueKind::kNone,
     "show no progress meter on a terminal",
     "(photo, video and fetch show one when standard error is a terminal)"},
    {ToolOption::kJson, "json", nullptr, nullptr, ValueKind::kNone,
     "print the outcome as one JSON object on standard output",
     "members: command, export, result, http_status, meaning, cause, exit_status,\n"
     "output (path, size), service_error (message, type, code, refusal), location"},
    {ToolOption::kConnectTimeout, "connect-timeout", nullptr, "SECONDS", ValueKind::kNumber,
     "give up connecting after SECONDS (default 60)", nullptr},
    {ToolOption::kStallTimeout, "stall-timeout", nullptr, "SECONDS", ValueKind::kNumber,
     "give up when no byte moves either way for SECONDS (default 60)", nullptr},
    {ToolOption::kVerbose, "verbose", "-v", nullptr, ValueKind::kNone,
     "show the exchange on standard error (no access token is shown)", nullptr},
    {ToolOption::kQuiet, "quiet", "-q", nullptr, ValueKind::kNone,
     "print nothing on standard error unless the call fails", nullptr},
};

// The longest wait the library can be given, in whole seconds of milliseconds
// that fit its unsigned argument.
constexpr double kMaxSeconds = 4294967.0;

const std::vector<CommandInfo> &Commands() {
    static const std::vector<CommandInfo> commands = {
        {Command::kFetch,
         nullptr,
         "fetch",
         "FaceBookToken",
         "GET any URL and store the body",
         {{Param::kUrl, true}, {Param::kOut, true}},
         "vantrelfb fetch --url https://graph.facebook.com/19292868552 --out page.json"},
        {Command::kStatus,
         nullptr,
         "status",
         "FaceBookStatus",
         "post a status message to a feed",
         {{Param::kMessage, true},
          {Param::kToken, true},
          {Param::kTarget, true},
          {Param::kExtra, false},
          {Param::kOut, true}},
         "vantrelfb status --message \"Hello from the shell\" --token-file ~/.vantrelfb-token --target me "
         "--out reply.json"},
        {Command::kCheckIn,
         nullptr,
         "checkin",
         "FaceBookCheckIn",
         "post a check-in at the library's built-in place",
         {{Param::kMessage, true, "text posted with the check-in"},
          {Param::kToken, true},
          {Param::kTarget, true},
          {Param::kExtra, false},
          {Param::kOut, true}},
         "vantrelfb checkin --message \"Coffee by the harbour\" --token-file ~/.vantrelfb-token --target me "
         "--out reply.json"},
        {Command::kEvent,
         nullptr,
         "event",
         "FaceBookEvents",
         "create an event",
         {{Param::kName, true},
          {Param::kToken, true},
          {Param::kTarget, true, "id of the user or page that owns the event"},
          {Param::kExtra, false},
          {Param::kOut, true}},
         "vantrelfb event --name \"Release party\" --token-file ~/.vantrelfb-token --target me --out "
         "reply.json"},
        {Command::kDelete,
         nullptr,
         "delete",
         "FaceBookDelete",
         "delete any object",
         {{Param::kExtra, false},
          {Param::kToken, true},
          {Param::kObject, true},
          {Param::kExtra2, false},
          {Param::kOut, true}},
         "vantrelfb delete --object 100004213370815_10150293847561234 --token-file ~/.vantrelfb-token --out "
         "reply.json"},
        {Command::kNoteCreate,
         "note",
         "create",
         "FaceBookNotes",
         "create a note",
         {{Param::kTitle, true},
          {Param::kToken, true},
          {Param::kUid, true},
          {Param::kContent, true},
          {Param::kOut, true}},
         "vantrelfb note create --title Minutes --content \"Nothing happened.\" --uid me --token-file "
         "~/.vantrelfb-token --out reply.json"},
        {Command::kNoteEdit,
         "note",
         "edit",
         "FaceBookNotesEdit",
         "replace a note's title and body",
         {{Param::kTitle, true},
          {Param::kToken, true},
          {Param::kNote, true},
          {Param::kContent, true},
          {Param::kUid, true},
          {Param::kOut, true}},
         "vantrelfb note edit --note 10150293847565678 --title Minutes --content \"Something happened.\" "
         "--uid me --token-file ~/.vantrelfb-token --out reply.json"},
        {Command::kNoteView,
         "note",
         "view",
         "FaceBookNotesView",
         "read a note",
         {{Param::kToken, true}, {Param::kOwner, true}, {Param::kNote, true}, {Param::kOut, true}},
         "vantrelfb note view --owner 100004213370815 --note 10150293847565678 --token-file "
         "~/.vantrelfb-token --out -"},
        {Command::kNoteDelete,
         "note",
         "delete",
         "FaceBookNotesDelete",
         "delete a note",
         {{Param::kToken, true}, {Param::kNote, true}, {Param::kUid, true}, {Param::kOut, true}},
         "vantrelfb note delete --note 10150293847565678 --uid me --token-file ~/.vantrelfb-token --out "
         "reply.json"},
        {Command::kPhoto,
         nullptr,
         "photo",
         "FaceBookPictureUpload",
         "upload a JPEG photo",
         {{Param::kMedia, true, "JPEG file to upload"},
          {Param::kTarget, true, "id of the user, page or album that receives the photo"},
          {Param::kMessage, false, "caption of the photo"},
          {Param::kToken, true},
          {Param::kOut, true}},
         "vantrelfb photo --media beach.jpg --target me --message \"At the beach\" --token-file "
         "~/.vantrelfb-token --out reply.json"},
        {Command::kVideo,
         nullptr,
         "video",
         "FaceBookVideoUpload",
         "upload an MP4 video",
         {{Param::kMedia, true, "MP4 file to upload"},
          {Param::kTarget, true, "id of the user or page that receives the video"},
          {Param::kTitle, false, "title of the video"},
          {Param::kToken, true},
          {Param::kOut, true}},
         "vantrelfb video --media clip.mp4 --target me --title \"Demo clip\" --token-file ~/.vantrelfb-token "
         "--out reply.json"},
        {Command::kSignIn,
         nullptr,
         "signin",
         "FaceBookTokenGraph",
         "request the sign-in dialog and print the Location it redirects to",
         {},
         "vantrelfb signin"},
    };
    return commands;
}

const CommandInfo &InfoOf(Command c) {
    for (const CommandInfo &info : Commands())
        if (info.command == c) return info;
    return Commands().front();  // unreachable: every Command has a row
}

std::string NameOf(const CommandInfo &info) {
    return info.group ? std::string(info.group) + " " + info.word : std::string(info.word);
}

const CommandInfo *FindCommand(const char *group, const std::string &word) {
    for (const CommandInfo &info : Commands()) {
        const bool same_group = group ? (info.group && std::strcmp(info.group, group) == 0) : !info.group;
        if (same_group && word == info.word) return &info;
    }
    return nullptr;
}

const ArgUse *FindArg(const CommandInfo &info, Param p) {
    for (const ArgUse &a : info.args)
        if (a.param == p) return &a;
    return nullptr;
}

const ParamInfo *FindParam(const std::string &option) {
    for (const ParamInfo &p : kParams)
        if (option == p.option) return &p;
    return nullptr;
}

bool IsHelp(const std::string &a) { return a == "--help" || a == "-h"; }

bool Applies(const CommandInfo &info, ToolOption option) {
    switch (option) {
        case ToolOption::kTokenFile:
            return FindArg(info, Param::kToken) != nullptr;
        case ToolOption::kNoProgress:
            return IsTransfer(info.command);
        case ToolOption::kJson:
        case ToolOption::kConnectTimeout:
        case ToolOption::kStallTimeout:
        case ToolOption::kVerbose:
        case ToolOption::kQuiet:
            return true;
    }
    return false;
}

// "-v, --verbose SECONDS" as the helps show it.
std::string Spelling(const ToolOptionInfo &o) {
    return (o.short_name ? std::string(o.short_name) + ", " : std::string()) + "--" + o.name +
           (o.metavar ? std::string(" ") + o.metavar : std::string());
}

const ToolOptionInfo *FindToolOption(const std::string &name) {
    for (const ToolOptionInfo &o : kToolOptions)
        if (name == o.name) return &o;
    return nullptr;
}

const ToolOptionInfo *FindShortOption(const std::string &word) {
    for (const ToolOptionInfo &o : kToolOptions)
        if (o.short_name && word == o.short_name) return &o;
    return nullptr;
}

// Seconds as curl takes them, fractions allowed, in milliseconds rounded up
// so that a small value never becomes 0 (the library's "default").
std::optional<unsigned> Milliseconds(const std::string &text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1 || text == ".")
        return std::nullopt;
    const double seconds = std::strtod(text.c_str(), nullptr);
    if (!(seconds > 0) || seconds > kMaxSeconds) return std::nullopt;
    return static_cast<unsigned>(std::ceil(seconds * 1000));
}

void OptionLine(std::ostream &s, std::string left, const char *help, const char *suffix = "") {
    left.resize(std::max<std::size_t>(left.size() + 2, 27), ' ');
    s << "  " << left << help << suffix << '\n';
}

constexpr char kTokenAdvice[] =
    "A token given as --token TOKEN can be read by every user of this machine, who\n"
    "can see the command line of any process (ps, /proc); prefer --token-file FILE,\n"
    "--token - (standard input) or the environment variable VANTRELFB_TOKEN.\n";

std::string CommandHelp(const CommandInfo &info) {
    std::ostringstream s;
    s << "Usage: " << kProgram << ' ' << NameOf(info);
    for (const ArgUse &a : info.args) {
        const ParamInfo &p = Info(a.param);
        s << ' ' << (a.required ? "" : "[") << "--" << p.option << ' ' << p.metavar
          << (a.required ? "" : "]");
    }
    for (const ToolOptionInfo &o : kToolOptions) {
        // The token's other sources are told below, with the reason for them.
        if (!Applies(info, o.option) || o.option == ToolOption::kTokenFile) continue;
        s << " [" << (o.short_name ? std::string(o.short_name) + "|" : std::string()) << "--" << o.name
          << (o.metavar ? std::string(" ") + o.metavar : std::string()) << ']';
    }
    std::string summary = info.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    s << "\n\n" << summary << ".\nCalls " << info.export_name << '(';
    for (std::size_t i = 0; i < info.args.size(); ++i)
        s << (i ? ", " : "") << Info(info.args[i].param).option;
    s << ").\n";
    if (info.command == Command::kSignIn) {
        s << "\nPrints the Location on standard output (UTF-8) and exits 0; exits " << kExitEmptyLocation
          << " when the library returns an empty Location.\n\nOptions:\n";
    } else {
        s << "\nOptions (VALUE or =VALUE; a value starting with \"--\" needs the = form):\n";
        for (const ArgUse &a : info.args) {
            const ParamInfo &p = Info(a.param);
            OptionLine(s, std::string("--") + p.option + ' ' + p.metavar, a.help ? a.help : p.help,
                       a.required ? "" : " (optional)");
        }
    }
    for (const ToolOptionInfo &o : kToolOptions)
        if (Applies(info, o.option)) OptionLine(s, Spelling(o), o.help);
    OptionLine(s, "-h, --help", "show this help");
    if (FindArg(info, Param::kToken))
        s << "\nThe token may instead come from the environment variable VANTRELFB_TOKEN.\n" << kTokenAdvice;
    s << "See '" << kProgram << " --help' for the exit statuses.\n\nExample:\n  " << info.example << '\n';
    return s.str();
}

std::string NoteHelp() {
    std::ostringstream s;
    s << "Usage: " << kProgram << " note <create|edit|view|delete> [options]\n\nActions:\n";
    for (const CommandInfo &info : Commands()) {
        if (!info.group) continue;
        std::string left = info.word;
        left.resize(10, ' ');
        s << "  " << left << info.summary << " (" << info.export_name << ")\n";
    }
    s << "\nRun '" << kProgram << " note <action> --help' for an action's options.\n\nExample:\n  "
      << InfoOf(Command::kNoteView).example << '\n';
    return s.str();
}

// The shells `completion` writes a script for.
const char *const kShells[] = {"bash", "zsh", "fish"};

std::string CompletionHelp() {
    std::ostringstream s;
    s << "Usage: " << kProgram << " completion <bash|zsh|fish>\n\n"
      << "Prints a completion script for " << kProgram << " on standard output: subcommands,\n"
      << "note actions, each subcommand's options, and file names after --media, --out and\n"
      << "--token-file. Packages install each where its shell looks; by hand, load it into\n"
      << "the running shell or save it where the shell looks:\n"
      << "  bash  ~/.local/share/bash-completion/completions/" << kProgram << '\n'
      << "  zsh   a file _" << kProgram << " in a directory of $fpath (before compinit runs)\n"
      << "  fish  ~/.config/fish/completions/" << kProgram << ".fish\n\n"
      << "Example:\n  source <(" << kProgram << " completion bash)\n";
    return s.str();
}

// A word the completion scripts offer, with its line of help.
struct Choice {
    std::string word;
    std::string help;
};

// An option as the completion scripts offer it.
struct Offered {
    std::string name;        // with its leading "--"
    const char *short_name;  // "-v", or null
    ValueKind value;
    const char *metavar;  // null for a switch
    const char *help;
};

// What the first word can be, without --help and --version.
std::vector<Choice> Subcommands() {
    std::vector<Choice> words;
    for (const CommandInfo &info : Commands())
        if (!info.group) words.push_back({info.word, info.summary});
    words.push_back({"note", "create, edit, view or delete a note"});
    words.push_back({"completion", "print a completion script"});
    words.push_back({"help", "show the help of the tool or of a subcommand"});
    return words;
}

std::vector<Choice> NoteActions() {
    std::vector<Choice> words;
    for (const CommandInfo &info : Commands())
        if (info.group) words.push_back({info.word, info.summary});
    return words;
}

// What `help` completes: the subcommands themselves.
std::vector<Choice> HelpTopics() {
    std::vector<Choice> words = Subcommands();
    words.erase(std::remove_if(words.begin(), words.end(), [](const Choice &c) { return c.word == "help"; }),
                words.end());
    return words;
}

// Every option `info` accepts, as its help lists them.
std::vector<Offered> OptionsOf(const CommandInfo &info) {
    std::vector<Offered> options;
    for (const ArgUse &a : info.args) {
        const ParamInfo &p = Info(a.param);
        options.push_back({std::string("--") + p.option, nullptr,
                           p.path ? ValueKind::kFile : ValueKind::kText, p.metavar,
                           a.help ? a.help : p.help});
    }
    for (const ToolOptionInfo &o : kToolOptions)
        if (Applies(info, o.option))
            options.push_back({std::string("--") + o.name, o.short_name, o.value, o.metavar, o.help});
    options.push_back({"--help", "-h", ValueKind::kNone, nullptr, "show this help"});
    return options;
}

// Single-quoted for the shell; the words here never hold a quote.
std::string Words(const std::vector<std::string> &words) {
    std::string joined;
    for (const std::string &w : words) joined += (joined.empty() ? "" : " ") + w;
    return "'" + joined + "'";
}

std::vector<std::string> WordsOf(const std::vector<Choice> &choices) {
    std::vector<std::string> words;
    for (const Choice &c : choices) words.push_back(c.word);
    return words;
}

// Generated from the tables above, as the other shells' scripts are, so that
// each offers exactly what Parse accepts.
std::string BashCompletion() {
    std::vector<std::string> top = WordsOf(Subcommands());
    const std::vector<std::string> help_words = WordsOf(HelpTopics());
    top.insert(top.end(), {"--help", "--version"});
    std::vector<std::string> actions = WordsOf(NoteActions());
    actions.push_back("--help");
    std::vector<std::string> shells(std::begin(kShells), std::end(kShells));
    shells.push_back("--help");

    std::ostringstream s;
    s << "# bash completion for " << kProgram << ", as printed by '" << kProgram << " completion bash'.\n"
      << "_vantrelfb() {\n"
      << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      << "    local command=${COMP_WORDS[1]} options='' files='' values=''\n"
      << "    COMPREPLY=()\n"
      << "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
      << "        mapfile -t COMPREPLY < <(compgen -W " << Words(top) << " -- \"$cur\")\n"
      << "        return\n"
      << "    fi\n"
      << "    case $command in\n"
      << "    note)\n"
      << "        if [ \"$COMP_CWORD\" -eq 2 ]; then\n"
      << "            mapfile -t COMPREPLY < <(compgen -W " << Words(actions) << " -- \"$cur\")\n"
      << "            return\n"
      << "        fi\n"
      << "        command=\"note ${COMP_WORDS[2]}\" ;;\n"
      << "    help)\n"
      << "        [ \"$COMP_CWORD\" -eq 2 ] && mapfile -t COMPREPLY < <(compgen -W " << Words(help_words)
      << " -- \"$cur\")\n"
      << "        return ;;\n"
      << "    completion)\n"
      << "        [ \"$COMP_CWORD\" -eq 2 ] && mapfile -t COMPREPLY < <(compgen -W " << Words(shells)
      << " -- \"$cur\")\n"
      << "        return ;;\n"
      << "    esac\n"
      << "    case $command in\n";
    for (const CommandInfo &info : Commands()) {
        std::vector<std::string> options, files, values;
        for (const Offered &o : OptionsOf(info)) {
            options.push_back(o.name);
            if (o.value == ValueKind::kFile) files.push_back(o.name);
            if (o.value == ValueKind::kText || o.value == ValueKind::kNumber) values.push_back(o.name);
        }
        s << "    '" << NameOf(info) << "') options=" << Words(options);
        if (!files.empty()) s << " files=" << Words(files);
        if (!values.empty()) s << " values=" << Words(values);
        s << " ;;\n";
    }
    s << "    *) return ;;\n"
      << "    esac\n"
      << "    case \" $files \" in *\" $prev \"*)\n"
      << "        compopt -o filenames 2>/dev/null\n"
      << "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
      << "        return ;;\n"
      << "    esac\n"
      << "    # After an option that takes a text or an id there is nothing to offer.\n"
      << "    case \" $values \" in *\" $prev \"*) return ;; esac\n"
      << "    mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
      << "}\n"
      << "complete -F _vantrelfb " << kProgram << '\n';
    return s.str();
}

// Any text single-quoted for zsh.
std::string ZshQuoted(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// `escape` gets a backslash before it, as _arguments and _describe read
// their descriptions.
std::string Escaped(const std::string &text, const char *escape) {
    std::string out;
    for (char c : text) {
        if (std::strchr(escape, c)) out += '\\';
        out += c;
    }
    return out;
}

// The "word:help" entries _describe takes, as a zsh array's elements.
std::string ZshChoices(const std::vector<Choice> &choices) {
    std::string out;
    for (const Choice &c : choices)
        out += (out.empty() ? "" : " ") + ZshQuoted(Escaped(c.word, ":\\") + ':' + c.help);
    return out;
}

// An option's _arguments descriptions; with a short name, both exclude
// each other as Parse refuses a second use.
std::vector<std::string> ZshArgumentsFor(const Offered &o) {
    std::string action;
    switch (o.value) {
        case ValueKind::kNone:
            break;
        case ValueKind::kText:
            action = std::string(":") + o.metavar + ": ";
            break;
        case ValueKind::kFile:
            action = std::string(":") + o.metavar + ":_files";
            break;
        case ValueKind::kNumber:
            action = std::string(":") + o.metavar + ":_numbers -f -u seconds -m " +
                     std::to_string(static_cast<unsigned>(kMaxSeconds)) + " " + o.metavar;
            break;
    }
    const std::string rest =
        (o.value == ValueKind::kNone ? "" : "=") + std::string("[") + Escaped(o.help, "[]\\") + "]" + action;
    if (!o.short_name) return {ZshQuoted(o.name + rest)};
    const std::string both = std::string("(") + o.short_name + " " + o.name + ")";
    return {ZshQuoted(both + o.short_name + rest), ZshQuoted(both + o.name + rest)};
}

std::string ZshCompletion() {
    std::vector<Choice> actions = NoteActions();
    actions.push_back({"--help", "show the help of note"});
    std::vector<Choice> shells;
    for (const char *shell : kShells) shells.push_back({shell, std::string("the script for ") + shell});
    shells.push_back({"--help", "show the help of completion"});

    std::ostringstream s;
    s << "#compdef " << kProgram << "\n"
      << "# zsh completion for " << kProgram << ", as printed by '" << kProgram << " completion zsh'.\n"
      << "_vantrelfb() {\n"
      << "    local -a choices described\n"
      << "    if (( CURRENT == 2 )); then\n"
      << "        choices=(" << ZshChoices(Subcommands()) << ")\n"
      << "        _describe -t subcommands subcommand choices\n"
      << "        choices=('--help:show the help' '--version:show the version')\n"
      << "        _describe -t options option choices\n"
      << "        return\n"
      << "    fi\n"
      << "    case ${words[2]} in\n"
      << "    (note)\n"
      << "        if (( CURRENT == 3 )); then\n"
      << "            choices=(" << ZshChoices(actions) << ")\n"
      << "            _describe -t actions action choices\n"
      << "            return\n"
      << "        fi ;;\n"
      << "    (help)\n"
      << "        choices=(" << ZshChoices(HelpTopics()) << ")\n"
      << "        (( CURRENT == 3 )) && _describe -t subcommands subcommand choices\n"
      << "        return ;;\n"
      << "    (completion)\n"
      << "        choices=(" << ZshChoices(shells) << ")\n"
      << "        (( CURRENT == 3 )) && _describe -t shells shell choices\n"
      << "        return ;;\n"
      << "    esac\n"
      << "    # _arguments is to see the subcommand's options only, after the words\n"
      << "    # that name it.\n"
      << "    local skip=1\n"
      << "    [[ ${words[2]} == note ]] && skip=2\n"
      << "    case \"${words[2,skip+1]}\" in\n";
    for (const CommandInfo &info : Commands()) {
        s << "    (" << ZshQuoted(NameOf(info)) << ")\n        described=(";
        const char *separator = "";
        for (const Offered &o : OptionsOf(info)) {
            for (const std::string &described : ZshArgumentsFor(o)) {
                s << separator << described;
                separator = "\n            ";
            }
        }
        s << ") ;;\n";
    }
    s << "    (*) return 1 ;;\n"
      << "    esac\n"
      << "    shift $skip words\n"
      << "    (( CURRENT -= skip ))\n"
      << "    _arguments : \"${described[@]}\"\n"
      << "}\n"
      << "# Autoloaded from $fpath the file is the function's body; sourced, it\n"
      << "# registers the function.\n"
      << "if [[ ${funcstack[1]} == _vantrelfb ]]; then\n"
      << "    _vantrelfb \"$@\"\n"
      << "else\n"
      << "    compdef _vantrelfb " << kProgram << "\n"
      << "fi\n";
    return s.str();
}

// Any text single-quoted for fish.
std::string FishQuoted(const std::string &text) { return "'" + Escaped(text, "'\\") + "'"; }

std::string FishCompletion() {
    std::ostringstream s;
    const std::string complete = std::string("complete -c ") + kProgram;
    s << "# fish completion for " << kProgram << ", as printed by '" << kProgram << " completion fish'.\n"
      << "# The subcommand the words before the cursor name: status, note view, note.\n"
      << "function __vantrelfb_command\n"
      << "    set -l words (commandline -opc)\n"
      << "    set -e words[1]\n"
      << "    if test \"$words[1]\" = note\n"
      << "        echo $words[1..2]\n"
      << "    else\n"
      << "        echo $words[1]\n"
      << "    end\n"
      << "end\n"
      << "function __vantrelfb_is\n"
      << "    set -l command (__vantrelfb_command)\n"
      << "    test \"$command\" = \"$argv\"\n"
      << "end\n"
      << "# Whether the cursor is at the word after the first N.\n"
      << "function __vantrelfb_after\n"
      << "    test (count (commandline -opc)) -eq $argv[1]\n"
      << "end\n"
      << "# No file names but after the options that take one.\n"
      << complete << " -f\n";
    auto words = [&](const char *condition, const std::vector<Choice> &choices) {
        for (const Choice &c : choices)
            s << complete << " -n " << FishQuoted(condition) << " -a " << FishQuoted(c.word) << " -d "
              << FishQuoted(c.help) << '\n';
    };
    words("__vantrelfb_after 1", Subcommands());
    s << complete << " -n '__vantrelfb_after 1' -s h -l help -d 'show the help'\n"
      << complete << " -n '__vantrelfb_after 1' -l version -d 'show the version'\n";
    words("__vantrelfb_after 2; and __vantrelfb_is note", NoteActions());
    s << complete
      << " -n '__vantrelfb_after 2; and __vantrelfb_is note' -s h -l help -d 'show the help of note'\n";
    words("__vantrelfb_after 2; and __vantrelfb_is help", HelpTopics());
    std::vector<Choice> shells;
    for (const char *shell : kShells) shells.push_back({shell, std::string("the script for ") + shell});
    words("__vantrelfb_after 2; and __vantrelfb_is completion", shells);
    s << complete
      << " -n '__vantrelfb_after 2; and __vantrelfb_is completion' -s h -l help -d 'show the help of "
         "completion'\n";
    for (const CommandInfo &info : Commands()) {
        const std::string condition = FishQuoted("__vantrelfb_is " + NameOf(info));
        for (const Offered &o : OptionsOf(info)) {
            s << complete << " -n " << condition;
            if (o.short_name) s << " -s " << (o.short_name + 1);
            s << " -l " << o.name.substr(2);
            // File names are off for the whole command (-f above), so that
            // only the options that take a file offer them.
            if (o.value == ValueKind::kFile) s << " -r -F";
            if (o.value == ValueKind::kText || o.value == ValueKind::kNumber) s << " -x";
            s << " -d " << FishQuoted(o.help) << '\n';
        }
    }
    return s.str();
}

ParseResult Usage(std::string message, std::string help_target = {}) {
    ParseResult r;
    r.outcome = Outcome::kUsageError;
    r.text = std::move(message);
    r.help_target = std::move(help_target);
    return r;
}

ParseResult Text(Outcome outcome, std::string text) {
    ParseResult r;
    r.outcome = outcome;
    r.text = std::move(text);
    return r;
}

std::string Quoted(const std::string &s) {
    // Keeps control characters and broken bytes out of the terminal.
    std::string out = "'";
    static const char hex[] = "0123456789abcdef";
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c >= 0x80) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "'";
}

// Resolves the words naming a command; `*used` receives how many it took.
ParseResult ResolveCommand(const std::vector<std::string> &args, std::size_t at, const CommandInfo **found,
                           std::size_t *used) {
    *found = nullptr;
    const std::string &first = args[at];
    if (first == "note") {
        if (at + 1 >= args.size())
            return Usage("'note' needs an action: create, edit, view or delete", "note");
        const std::string &action = args[at + 1];
        if (IsHelp(action)) return Text(Outcome::kHelp, NoteHelp());
        *found = FindCommand("note", action);
        if (!*found) return Usage("unknown note action " + Quoted(action), "note");
        *used = 2;
        return {};
    }
    *found = FindCommand(nullptr, first);
    if (!*found) return Usage("unknown subcommand " + Quoted(first));
    *used = 1;
    return {};
}

}  // namespace

const std::vector<int> &KnownResultCodes() {
    static const std::vector<int> codes = {VFB_DONE,
                                           VFB_ERR_OPEN_ROOT_OR_MEDIA,
                                           VFB_ERR_OPEN,
                                           VFB_ERR_SEND,
                                           VFB_ERR_READ,
                                           VFB_ERR_TOO_LARGE,
                                           VFB_ERR_MEDIA_READ,
                                           VFB_ERR_SEND_CHUNK,
                                           VFB_ERR_SEND_CLOSING,
                                           VFB_ERR_START,
                                           VFB_ERR_CONNECT};
    return codes;
}

int ExitStatusFor(int result_code) {
    switch (result_code) {
        case VFB_DONE:
            return 0;
        case VFB_ERR_OPEN_ROOT_OR_MEDIA:
        case VFB_ERR_OPEN:
        case VFB_ERR_SEND:
        case VFB_ERR_READ:
        case VFB_ERR_TOO_LARGE:
        case VFB_ERR_MEDIA_READ:
        case VFB_ERR_SEND_CHUNK:
        case VFB_ERR_SEND_CLOSING:
            return 10 + result_code;
        case VFB_ERR_START:
            return 21;
        case VFB_ERR_CONNECT:
            return 22;
        default:
            return kExitUnknownResult;
    }
}

const char *ExportName(Command command) { return InfoOf(command).export_name; }

std::string CommandName(Command command) { return NameOf(InfoOf(command)); }

std::string ToolHelp() {
    std::ostringstream s;
    s << "Usage: " << kProgram << " <subcommand> [--option VALUE]...\n"
      << "       " << kProgram << " <subcommand> --help\n"
      << "       " << kProgram << " --help | --version\n\n"
      << "Each subcommand makes one call into libvantrelfb, which performs one HTTPS exchange\n"
      << "and stores the response body in the file named by --out. The service's answer\n"
      << "(a new object's id, or an error) is in that file; when it is the service's error\n"
      << "object, its message, type and code go to standard error and the exit status says\n"
      << "the call was refused.\n\nSubcommands:\n";
    for (const CommandInfo &info : Commands()) {
        std::string left = NameOf(info);
        left.resize(14, ' ');
        s << "  " << left << info.summary << " (" << info.export_name << ")\n";
    }
    s << "  completion    print a completion script: completion bash|zsh|fish\n"
      << "\nOptions of every subcommand:\n";
    OptionLine(s, "--out -", "the answer on standard output instead of in a file");
    for (const ToolOptionInfo &o : kToolOptions) {
        // The token's sources have a section of their own, below.
        if (o.option == ToolOption::kTokenFile) continue;
        OptionLine(s, Spelling(o), o.help);
        if (!o.more) continue;
        std::istringstream more(o.more);
        for (std::string text; std::getline(more, text);) OptionLine(s, "", ("  " + text).c_str());
    }
    s << "\nWithout -q, a line on standard error tells what the call did; for a failure a\n"
      << "second line tells its cause. Ctrl-C cancels the call.\n"
      << "\nAccess token, for the subcommands that take one:\n"
      << "  --token-file FILE  read from FILE, one line\n"
      << "  --token -          read from standard input, one line\n"
      << "  --token TOKEN      on the command line\n"
      << "\nEnvironment:\n  VANTRELFB_TOKEN    access token used when no option gives one\n\n"
      << kTokenAdvice << "\nExit status:\n";
    auto line = [&s](int status, const std::string &text) {
        std::string left = std::to_string(status);
        left.resize(5, ' ');
        s << "  " << left << text << '\n';
    };
    for (int code : KnownResultCodes()) {
        std::string text = std::string("result ") + std::to_string(code) + ": " + vfb_result_meaning(code);
        if (code == VFB_DONE) text += ",\n       stored, and not the service's error nor an HTTP error";
        line(ExitStatusFor(code), text);
    }
    line(kExitNotStored, "result 999, but the answer could not be stored: the service acted");
    line(kExitEmptyLocation, "signin: the library returned an empty Location");
    line(kExitRefused, "result 999, the answer is the service's error: the call was refused");
    line(kExitTokenRejected, "... the access token was rejected (code 190 or 102)");
    line(kExitRateLimited, "... rate limited (code 4, 17, 32 or 613): retry later");
    line(kExitHttpError, "result 999, HTTP status 400 or more and no service error in the answer");
    line(kExitUsage, "usage error; the library was not called");
    line(kExitNoToken,
         "no usable token: none in the file or input, or one with a NUL or a line\n"
         "       break; the library was not called");
    line(kExitUnknownResult, "the library returned a result code not listed here");
    line(kExitNoTemporary, "--out -: no temporary file for the answer; the library was not called");
    line(kExitOutputFailed, "standard output (the answer for --out -) could not be written");
    line(kExitInterrupted, "interrupted (Ctrl-C): the call was cancelled");
    s << "signin exits 0 when it printed a Location.\n"
      << "\nRun '" << kProgram << " <subcommand> --help' for its options and an example.\n";
    return s.str();
}

bool IsTransfer(Command command) {
    return command == Command::kPhoto || command == Command::kVideo || command == Command::kFetch;
}

ParseResult Parse(const std::vector<std::string> &args, const char *env_token) {
    if (args.empty()) return Usage("no subcommand given");
    const std::string &first = args[0];
    if (IsHelp(first)) return Text(Outcome::kHelp, ToolHelp());
    if (first == "--version")
        return Text(Outcome::kVersion, std::string(kProgram) + " " + VFB_TOOL_VERSION + "\n");
    if (first == "help") {
        if (args.size() == 1) return Text(Outcome::kHelp, ToolHelp());
        if (args.size() == 2 && args[1] == "note") return Text(Outcome::kHelp, NoteHelp());
        if (args.size() == 2 && args[1] == "completion") return Text(Outcome::kHelp, CompletionHelp());
        const CommandInfo *info = nullptr;
        std::size_t used = 0;
        ParseResult r = ResolveCommand(args, 1, &info, &used);
        if (!info) return r;
        if (1 + used != args.size()) return Usage("'help' takes one subcommand");
        return Text(Outcome::kHelp, CommandHelp(*info));
    }
    if (first == "completion") {
        if (args.size() >= 2 && IsHelp(args[1])) return Text(Outcome::kHelp, CompletionHelp());
        if (args.size() != 2) return Usage("'completion' takes one shell: bash, zsh or fish", "completion");
        if (args[1] == "bash") return Text(Outcome::kText, BashCompletion());
        if (args[1] == "zsh") return Text(Outcome::kText, ZshCompletion());
        if (args[1] == "fish") return Text(Outcome::kText, FishCompletion());
        return Usage("no completion for " + Quoted(args[1]) + "; the shells are bash, zsh and fish",
                     "completion");
    }
    if (first.compare(0, 1, "-") == 0) return Usage("unknown option " + Quoted(first));

    const CommandInfo *info = nullptr;
    std::size_t used = 0;
    ParseResult resolved = ResolveCommand(args, 0, &info, &used);
    if (!info) return resolved;
    const std::string name = NameOf(*info);

    ParseResult r;
    r.outcome = Outcome::kRun;
    Invocation &inv = r.invocation;
    inv.command = info->command;
    std::array<bool, kParamCount> seen{};
    std::array<bool, std::size(kToolOptions)> seen_tool{};

    for (std::size_t i = used; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (IsHelp(word)) return Text(Outcome::kHelp, CommandHelp(*info));
        const ToolOptionInfo *short_option = FindShortOption(word);
        // A short option stands for its long one, and only as a word of its own.
        const std::string a = short_option ? std::string("--") + short_option->name : word;
        if (a.size() <= 2 || a.compare(0, 2, "--") != 0)
            return Usage("unexpected argument " + Quoted(a) + " for '" + name + "'", name);
        const std::size_t eq = a.find('=');
        const std::string option = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        // Options of the tool and of the export follow one set of rules.
        const ToolOptionInfo *tool = FindToolOption(option);
        const ParamInfo *param = tool ? nullptr : FindParam(option);
        if (!tool && !param) return Usage("unknown option " + Quoted("--" + option), name);
        if (tool ? !Applies(*info, tool->option) : !FindArg(*info, param->param))
            return Usage("option --" + option + " does not apply to '" + name + "'", name);
        const bool takes_value = !tool || tool->metavar;
        std::string value;
        if (!takes_value) {
            if (eq != std::string::npos) return Usage("option --" + option + " takes no value", name);
        } else if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 >= args.size() || args[i + 1].compare(0, 2, "--") == 0) {
            // A following option is far more likely a forgotten value than a
            // text that starts with "--"; such texts need the = form.
            return Usage("option --" + option + " needs a value", name);
        } else {
            value = args[++i];
        }
        bool &given = tool ? seen_tool[static_cast<std::size_t>(tool->option)]
                           : seen[static_cast<std::size_t>(param->param)];
        if (given) return Usage("option --" + option + " given more than once", name);
        given = true;
        if ((tool ? tool->value == ValueKind::kFile : param->path) && value.empty())
            return Usage("option --" + option + " needs a non-empty path", name);
        // --token-file is the token's third spelling; one is enough.
        const bool token = tool ? tool->option == ToolOption::kTokenFile : param->param == Param::kToken;
        if (token && inv.token_from != TokenFrom::kNone)
            return Usage("the token is given more than once (--token, --token-file)", name);

        if (tool) {
            switch (tool->option) {
                case ToolOption::kJson:
                    inv.json = true;
                    break;
                case ToolOption::kNoProgress:
                    inv.progress = false;
                    break;
                case ToolOption::kVerbose:
                    inv.verbose = true;
                    break;
                case ToolOption::kQuiet:
                    inv.quiet = true;
                    break;
                case ToolOption::kTokenFile:
                    inv.token_from = TokenFrom::kFile;
                    inv.token_file = std::move(value);
                    break;
                case ToolOption::kConnectTimeout:
                case ToolOption::kStallTimeout: {
                    const std::optional<unsigned> ms = Milliseconds(value);
                    if (!ms)
                        return Usage(
                            "option --" + option + " needs a number of seconds above 0 and at most " +
                                std::to_string(static_cast<unsigned>(kMaxSeconds)) + ", not " + Quoted(value),
                            name);
                    (tool->option == ToolOption::kConnectTimeout ? inv.connect_ms : inv.stall_ms) = *ms;
                    break;
                }
            }
            continue;
        }
        if (token) {
            inv.token_from = TokenFrom::kOption;
            // Read when the call is made, so that a refused command line
            // never consumes standard input.
            if (value == "-") {
                inv.token_from = TokenFrom::kStandardInput;
                continue;
            }
        }
        if (param->param == Param::kOut && value == "-") inv.out_to_stdout = true;
        std::size_t bad = 0;
        std::optional<WString> wide = Utf8ToWide(value, &bad);
        if (!wide)
            return Usage(
                "the value of --" + option + " is not valid UTF-8 (byte " + std::to_string(bad) + ")", name);
        const std::size_t index = static_cast<std::size_t>(param->param);
        inv.wide[index] = std::move(*wide);
        inv.utf8[index] = std::move(value);
    }

    const std::size_t token = static_cast<std::size_t>(Param::kToken);
    if (inv.token_from != TokenFrom::kNone) seen[token] = true;
    if (FindArg(*info, Param::kToken) && !seen[token] && env_token && *env_token) {
        std::size_t bad = 0;
        std::optional<WString> wide = Utf8ToWide(env_token, &bad);
        if (!wide)
            return Usage("VANTRELFB_TOKEN is not valid UTF-8 (byte " + std::to_string(bad) + ")", name);
        inv.wide[token] = std::move(*wide);
        inv.utf8[token] = env_token;
        inv.token_from = TokenFrom::kEnvironment;
        seen[token] = true;
    }
    if (inv.json && inv.out_to_stdout)
        return Usage("--json and --out - would both write to standard output; give --out a file", name);
    if (inv.verbose && inv.quiet) return Usage("--verbose and --quiet contradict each other; give one", name);

    std::string missing;
    for (const ArgUse &a : info->args) {
        if (!a.required || seen[static_cast<std::size_t>(a.param)]) continue;
        missing += std::string(missing.empty() ? "" : ", ") + "--" + Info(a.param).option;
        if (a.param == Param::kToken) missing += " (or --token-file, or VANTRELFB_TOKEN)";
    }
    if (!missing.empty()) return Usage("'" + name + "' is missing " + missing, name);
    return r;
}

}  // namespace vfbtool
