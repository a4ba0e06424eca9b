#include "cli.h"

#include <algorithm>
#include <cctype>
#include <cstring>
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
    {Param::kToken, "token", "TOKEN", "OAuth access token (default: $VANTRELFB_TOKEN)", false},
    {Param::kTarget, "target", "ID", "id of the user or page whose feed receives the post", false},
    {Param::kUid, "uid", "ID", "id of the user the note belongs to", false},
    {Param::kNote, "note", "ID", "id of the note", false},
    {Param::kOwner, "owner", "ID", "id of the note's owner", false},
    {Param::kObject, "object", "ID", "id of the object to delete", false},
    {Param::kMedia, "media", "FILE", "file whose bytes are uploaded", true},
    {Param::kOut, "out", "FILE", "file that receives the response body", true},
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
};

const std::vector<CommandInfo> &Commands() {
    static const std::vector<CommandInfo> commands = {
        {Command::kFetch,
         nullptr,
         "fetch",
         "FaceBookToken",
         "GET any URL and store the body",
         {{Param::kUrl, true}, {Param::kOut, true}}},
        {Command::kStatus,
         nullptr,
         "status",
         "FaceBookStatus",
         "post a status message to a feed",
         {{Param::kMessage, true},
          {Param::kToken, true},
          {Param::kTarget, true},
          {Param::kExtra, false},
          {Param::kOut, true}}},
        {Command::kCheckIn,
         nullptr,
         "checkin",
         "FaceBookCheckIn",
         "post a check-in at the library's built-in place",
         {{Param::kMessage, true, "text posted with the check-in"},
          {Param::kToken, true},
          {Param::kTarget, true},
          {Param::kExtra, false},
          {Param::kOut, true}}},
        {Command::kEvent,
         nullptr,
         "event",
         "FaceBookEvents",
         "create an event",
         {{Param::kName, true},
          {Param::kToken, true},
          {Param::kTarget, true, "id of the user or page that owns the event"},
          {Param::kExtra, false},
          {Param::kOut, true}}},
        {Command::kDelete,
         nullptr,
         "delete",
         "FaceBookDelete",
         "delete any object",
         {{Param::kExtra, false},
          {Param::kToken, true},
          {Param::kObject, true},
          {Param::kExtra2, false},
          {Param::kOut, true}}},
        {Command::kNoteCreate,
         "note",
         "create",
         "FaceBookNotes",
         "create a note",
         {{Param::kTitle, true},
          {Param::kToken, true},
          {Param::kUid, true},
          {Param::kContent, true},
          {Param::kOut, true}}},
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
          {Param::kOut, true}}},
        {Command::kNoteView,
         "note",
         "view",
         "FaceBookNotesView",
         "read a note",
         {{Param::kToken, true}, {Param::kOwner, true}, {Param::kNote, true}, {Param::kOut, true}}},
        {Command::kNoteDelete,
         "note",
         "delete",
         "FaceBookNotesDelete",
         "delete a note",
         {{Param::kToken, true}, {Param::kNote, true}, {Param::kUid, true}, {Param::kOut, true}}},
        {Command::kPhoto,
         nullptr,
         "photo",
         "FaceBookPictureUpload",
         "upload a JPEG photo",
         {{Param::kMedia, true, "JPEG file to upload"},
          {Param::kTarget, true, "id of the user, page or album that receives the photo"},
          {Param::kMessage, false, "caption of the photo"},
          {Param::kToken, true},
          {Param::kOut, true}}},
        {Command::kVideo,
         nullptr,
         "video",
         "FaceBookVideoUpload",
         "upload an MP4 video",
         {{Param::kMedia, true, "MP4 file to upload"},
          {Param::kTarget, true, "id of the user or page that receives the video"},
          {Param::kTitle, false, "title of the video"},
          {Param::kToken, true},
          {Param::kOut, true}}},
        {Command::kSignIn,
         nullptr,
         "signin",
         "FaceBookTokenGraph",
         "request the sign-in dialog and print the Location it redirects to",
         {}},
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

std::string CommandHelp(const CommandInfo &info) {
    std::ostringstream s;
    s << "Usage: " << kProgram << ' ' << NameOf(info);
    for (const ArgUse &a : info.args) {
        const ParamInfo &p = Info(a.param);
        s << ' ' << (a.required ? "" : "[") << "--" << p.option << ' ' << p.metavar
          << (a.required ? "" : "]");
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
            std::string left = std::string("--") + p.option + ' ' + p.metavar;
            left.resize(std::max<std::size_t>(left.size() + 2, 20), ' ');
            s << "  " << left << (a.help ? a.help : p.help) << (a.required ? "" : " (optional)") << '\n';
        }
    }
    s << "  -h, --help          show this help\n";
    if (FindArg(info, Param::kToken))
        s << "\nThe token may instead come from the environment variable VANTRELFB_TOKEN.\n";
    s << "See '" << kProgram << " --help' for the exit statuses.\n";
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
    s << "\nRun '" << kProgram << " note <action> --help' for an action's options.\n";
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
      << "(a new object's id, or an error) is in that file.\n\nSubcommands:\n";
    for (const CommandInfo &info : Commands()) {
        std::string left = NameOf(info);
        left.resize(14, ' ');
        s << "  " << left << info.summary << " (" << info.export_name << ")\n";
    }
    s << "\nEnvironment:\n  VANTRELFB_TOKEN  access token used when --token is not given\n"
      << "\nExit status:\n";
    for (int code : KnownResultCodes()) {
        int written = 0;
        const char *meaning = vfb_result_meaning(code, &written);
        s << "  " << ExitStatusFor(code) << (ExitStatusFor(code) < 10 ? "    " : "   ") << "result " << code
          << ": " << meaning << '\n';
    }
    s << "  " << kExitEmptyLocation << "   signin: the library returned an empty Location\n"
      << "  " << kExitUsage << "   usage error; the library was not called\n"
      << "  " << kExitUnknownResult << "   the library returned a result code not listed here\n"
      << "  " << kExitOutputFailed << "   standard output could not be written\n"
      << "signin exits 0 when it printed a Location.\n";
    return s.str();
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
        const CommandInfo *info = nullptr;
        std::size_t used = 0;
        ParseResult r = ResolveCommand(args, 1, &info, &used);
        if (!info) return r;
        if (1 + used != args.size()) return Usage("'help' takes one subcommand");
        return Text(Outcome::kHelp, CommandHelp(*info));
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

    for (std::size_t i = used; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (IsHelp(a)) return Text(Outcome::kHelp, CommandHelp(*info));
        if (a.size() <= 2 || a.compare(0, 2, "--") != 0)
            return Usage("unexpected argument " + Quoted(a) + " for '" + name + "'", name);
        const std::size_t eq = a.find('=');
        const std::string option = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const ParamInfo *param = FindParam(option);
        if (!param) return Usage("unknown option " + Quoted("--" + option), name);
        const ArgUse *use = FindArg(*info, param->param);
        if (!use) return Usage("option --" + option + " does not apply to '" + name + "'", name);
        std::string value;
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else {
            // A following option is far more likely a forgotten value than a
            // text that starts with "--"; such texts need the = form.
            if (i + 1 >= args.size() || args[i + 1].compare(0, 2, "--") == 0)
                return Usage("option --" + option + " needs a value", name);
            value = args[++i];
        }
        const std::size_t index = static_cast<std::size_t>(param->param);
        if (seen[index]) return Usage("option --" + option + " given more than once", name);
        seen[index] = true;
        if (param->path && value.empty())
            return Usage("option --" + option + " needs a non-empty path", name);
        std::size_t bad = 0;
        std::optional<WString> wide = Utf8ToWide(value, &bad);
        if (!wide)
            return Usage(
                "the value of --" + option + " is not valid UTF-8 (byte " + std::to_string(bad) + ")", name);
        inv.wide[index] = std::move(*wide);
        inv.utf8[index] = std::move(value);
    }

    const std::size_t token = static_cast<std::size_t>(Param::kToken);
    if (FindArg(*info, Param::kToken) && !seen[token] && env_token && *env_token) {
        std::size_t bad = 0;
        std::optional<WString> wide = Utf8ToWide(env_token, &bad);
        if (!wide)
            return Usage("VANTRELFB_TOKEN is not valid UTF-8 (byte " + std::to_string(bad) + ")", name);
        inv.wide[token] = std::move(*wide);
        inv.utf8[token] = env_token;
        seen[token] = true;
    }

    std::string missing;
    for (const ArgUse &a : info->args) {
        if (!a.required || seen[static_cast<std::size_t>(a.param)]) continue;
        missing += std::string(missing.empty() ? "" : ", ") + "--" + Info(a.param).option;
        if (a.param == Param::kToken) missing += " (or VANTRELFB_TOKEN)";
    }
    if (!missing.empty()) return Usage("'" + name + "' is missing " + missing, name);
    return r;
}

}  // namespace vfbtool
