#include "dispatch.h"

namespace vfbtool {

namespace {

void ReportResult(std::ostream &err, const Invocation &inv, int code) {
    int written = 0;
    const char *meaning = vfb_result_meaning(code, &written);
    const bool known = ExitStatusFor(code) != kExitUnknownResult;
    err << "vantrelfb: " << ExportName(inv.command) << " returned " << code << ": " << meaning
        << "; output file '" << inv.Utf8(Param::kOut) << "' "
        << (written ? "written if it could be created"
            : known ? "left as it was"
                    : "may or may not have been written")
        << '\n';
}

}  // namespace

int Execute(const Invocation &inv, const CallTable &calls, std::ostream &out, std::ostream &err) {
    auto a = [&inv](Param p) { return inv.Arg(p); };
    int code = 0;
    switch (inv.command) {
        case Command::kFetch:
            code = calls.token(a(Param::kUrl), a(Param::kOut));
            break;
        case Command::kStatus:
            code = calls.status(a(Param::kMessage), a(Param::kToken), a(Param::kTarget), a(Param::kExtra),
                                a(Param::kOut));
            break;
        case Command::kCheckIn:
            code = calls.check_in(a(Param::kMessage), a(Param::kToken), a(Param::kTarget), a(Param::kExtra),
                                  a(Param::kOut));
            break;
        case Command::kEvent:
            code = calls.events(a(Param::kName), a(Param::kToken), a(Param::kTarget), a(Param::kExtra),
                                a(Param::kOut));
            break;
        case Command::kDelete:
            code = calls.delete_object(a(Param::kExtra), a(Param::kToken), a(Param::kObject),
                                       a(Param::kExtra2), a(Param::kOut));
            break;
        case Command::kNoteCreate:
            code = calls.notes(a(Param::kTitle), a(Param::kToken), a(Param::kUid), a(Param::kContent),
                               a(Param::kOut));
            break;
        case Command::kNoteEdit:
            code = calls.notes_edit(a(Param::kTitle), a(Param::kToken), a(Param::kNote), a(Param::kContent),
                                    a(Param::kUid), a(Param::kOut));
            break;
        case Command::kNoteView:
            code = calls.notes_view(a(Param::kToken), a(Param::kOwner), a(Param::kNote), a(Param::kOut));
            break;
        case Command::kNoteDelete:
            code = calls.notes_delete(a(Param::kToken), a(Param::kNote), a(Param::kUid), a(Param::kOut));
            break;
        case Command::kPhoto:
            code = calls.picture_upload(a(Param::kMedia), a(Param::kTarget), a(Param::kMessage),
                                        a(Param::kToken), a(Param::kOut));
            break;
        case Command::kVideo:
            code = calls.video_upload(a(Param::kMedia), a(Param::kTarget), a(Param::kTitle), a(Param::kToken),
                                      a(Param::kOut));
            break;
        case Command::kSignIn: {
            const std::string location = WideToUtf8(calls.token_graph());
            if (location.empty()) {
                err << "vantrelfb: FaceBookTokenGraph returned an empty Location: the sign-in request failed "
                       "or its response carried none\n";
                return kExitEmptyLocation;
            }
            out << location << '\n';
            return 0;
        }
    }
    ReportResult(err, inv, code);
    return ExitStatusFor(code);
}

int Run(const std::vector<std::string> &args, const char *env_token, const CallTable &calls,
        std::ostream &out, std::ostream &err) {
    const ParseResult parsed = Parse(args, env_token);
    switch (parsed.outcome) {
        case Outcome::kHelp:
        case Outcome::kVersion:
            out << parsed.text;
            return 0;
        case Outcome::kUsageError:
            err << "vantrelfb: " << parsed.text << "\nRun 'vantrelfb "
                << (parsed.help_target.empty() ? "" : parsed.help_target + " ") << "--help' for usage.\n";
            return kExitUsage;
        case Outcome::kRun:
            break;
    }
    return Execute(parsed.invocation, calls, out, err);
}

}  // namespace vfbtool
