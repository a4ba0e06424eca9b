// Command-line parsing for the vantrelfb tool. Nothing here calls the
// library, so every decision about a command line can be tested alone.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf.h"
#include "vantrelfb.h"

namespace vfbtool {

static_assert(sizeof(VFB_WCHAR) == 2, "the library's text is made of 16-bit units");

using WString = std::basic_string<VFB_WCHAR>;

// Malformed UTF-8 on the command line is refused rather than replaced,
// because passing a guess on to the service would post text the user never
// typed; `bad_offset` receives where the first malformed sequence starts.
inline std::optional<WString> Utf8ToWide(std::string_view utf8, std::size_t *bad_offset = nullptr) {
    std::size_t bad = 0;
    WString wide = vfb::utf::FromUtf8<VFB_WCHAR>(utf8, &bad);
    if (bad == std::string_view::npos) return wide;
    if (bad_offset) *bad_offset = bad;
    return std::nullopt;
}

// The library's own text (a Location) may hold an unpaired surrogate; it is
// shown as U+FFFD rather than producing invalid UTF-8 on stdout.
inline std::string WideToUtf8(const VFB_WCHAR *wide) {
    return wide ? vfb::utf::ToUtf8(std::basic_string_view<VFB_WCHAR>(wide)) : std::string();
}

// Text from elsewhere is passed on as UTF-8 whatever it holds: each byte that
// is not part of a well-formed sequence becomes U+FFFD.
inline std::string ValidUtf8(std::string_view bytes) {
    return vfb::utf::ToUtf8(std::u16string_view(vfb::utf::FromUtf8<char16_t>(bytes)));
}

enum class Command {
    kFetch,
    kStatus,
    kCheckIn,
    kEvent,
    kDelete,
    kNoteCreate,
    kNoteEdit,
    kNoteView,
    kNoteDelete,
    kPhoto,
    kVideo,
    kSignIn,
};

// One long option per parameter of the exports.
enum class Param {
    kUrl,
    kMessage,
    kName,
    kTitle,
    kContent,
    kToken,
    kTarget,
    kUid,
    kNote,
    kOwner,
    kObject,
    kMedia,
    kOut,
    kExtra,
    kExtra2,
};
constexpr std::size_t kParamCount = 15;

// Where the access token comes from; the last two are read only when the
// call is about to be made.
enum class TokenFrom { kNone, kOption, kEnvironment, kFile, kStandardInput };

struct Invocation {
    Command command = Command::kFetch;
    // Absent optional values stay empty, so every argument is a valid text.
    std::array<WString, kParamCount> wide;
    std::array<std::string, kParamCount> utf8;
    TokenFrom token_from = TokenFrom::kNone;
    std::string token_file;      // --token-file
    bool out_to_stdout = false;  // --out -
    bool json = false;           // --json
    bool progress = true;        // cleared by --no-progress
    // --connect-timeout and --stall-timeout in milliseconds; 0 leaves the
    // library's own limit.
    unsigned connect_ms = 0;
    unsigned stall_ms = 0;
    bool verbose = false;  // -v: the library's trace on standard error
    bool quiet = false;    // -q: standard error only for a failure

    const VFB_WCHAR *Arg(Param p) const { return wide[static_cast<std::size_t>(p)].c_str(); }
    const std::string &Utf8(Param p) const { return utf8[static_cast<std::size_t>(p)]; }
};

// kText is any other text for standard output (the completion script).
enum class Outcome { kRun, kHelp, kVersion, kText, kUsageError };

struct ParseResult {
    Outcome outcome = Outcome::kUsageError;
    Invocation invocation;    // meaningful for kRun
    std::string text;         // help or version text, or the usage error
    std::string help_target;  // what `--help` to suggest after a usage error
};

// `args` excludes the program name. `env_token` is VANTRELFB_TOKEN (null when
// unset); it stands in for --token, and an empty one counts as unset.
ParseResult Parse(const std::vector<std::string> &args, const char *env_token);

// Exit statuses. Result codes 1..9 map to 10+code so that the code can be read
// off the status; 51 and 222 do not fit that pattern within 1..125 (statuses
// above 125 mean "not run" or "killed by a signal" to shells).
constexpr int kExitUsage = 64;          // BSD sysexits EX_USAGE
constexpr int kExitEmptyLocation = 30;  // signin got an empty Location
constexpr int kExitUnknownResult = 70;  // EX_SOFTWARE: a code this tool was not built to know
constexpr int kExitOutputFailed = 74;   // EX_IOERR: standard output could not be written
// The call ran to its end (999) and the stored answer is the service's error.
constexpr int kExitRefused = 40;        // any other refusal
constexpr int kExitTokenRejected = 41;  // codes 190, 102
constexpr int kExitRateLimited = 42;    // codes 4, 17, 32, 613
// The call ran to its end, but the answer is not one the service gave.
constexpr int kExitHttpError = 43;  // HTTP status 400 or more without an error object
// The service acted, but its answer could not be kept: curl's status for a
// write error, which users of both already know.
constexpr int kExitNotStored = 23;
// 128 + SIGINT, as shells report a command stopped by Ctrl-C.
constexpr int kExitInterrupted = 130;
// EX_NOINPUT: --token-file or --token - gave no token, or a token holds a NUL
// or a line break.
constexpr int kExitNoToken = 66;
constexpr int kExitNoTemporary = 73;  // EX_CANTCREAT: --out - found no place for the answer
int ExitStatusFor(int result_code);
const std::vector<int> &KnownResultCodes();

const char *ExportName(Command command);
std::string CommandName(Command command);
// photo, video and fetch: the calls that can take long enough for a meter.
bool IsTransfer(Command command);
std::string ToolHelp();

}  // namespace vfbtool
