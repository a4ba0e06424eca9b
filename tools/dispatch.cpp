#include "dispatch.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <vector>

#include "answer.h"
#include "progress.h"

#if defined(_WIN32)
#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>
#endif

namespace vfbtool {

namespace fs = std::filesystem;

namespace {

fs::path PathOf(const std::string &utf8) { return fs::u8path(utf8); }

// Bytes the tool reads as a token at most: far more than any real token, far
// less than a file named by mistake.
constexpr std::size_t kMaxToken = 64 * 1024;

// The library takes the token as a C string and puts it into a request line:
// a NUL would cut it short and a line break would end the line, so either way
// another token than the one given would be sent.
const char *TokenFault(const std::string &token) {
    if (token.find('\0') != std::string::npos) return "holds a NUL byte";
    if (token.find_first_of("\r\n") != std::string::npos) return "holds a line break";
    return nullptr;
}

// The token from --token-file or --token -: one line, its line end dropped.
// On failure `why` completes "the token file 'x' ..." or "standard input ...".
std::optional<std::string> ReadToken(std::istream *in, std::string *why) {
    std::string text;
    char buffer[4096];
    while (in && text.size() <= kMaxToken) {
        in->read(buffer, sizeof buffer);
        const std::streamsize n = in->gcount();
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (in && in->bad()) {
        *why = "could not be read";
        return std::nullopt;
    }
    if (text.size() > kMaxToken) {
        *why = "is too long to hold a token";
        return std::nullopt;
    }
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) {
        *why = "holds no token";
    } else if (const char *fault = TokenFault(text)) {
        *why = fault;
    } else if (!Utf8ToWide(text)) {
        *why = "is not valid UTF-8";
    } else {
        return text;
    }
    return std::nullopt;
}

// Where the library stores the answer for --out -: it needs a path, and
// refuses anything but a regular file. A directory of the tool's own, which
// nobody else can write into, so that no one can plant a link at the name.
class TemporaryAnswer {
public:
    TemporaryAnswer() = default;
    TemporaryAnswer(const TemporaryAnswer &) = delete;
    TemporaryAnswer &operator=(const TemporaryAnswer &) = delete;
    ~TemporaryAnswer() {
        if (dir_.empty()) return;
        std::error_code ignored;
        fs::remove(PathOf(path_), ignored);
        fs::remove(PathOf(dir_), ignored);
    }

    bool Make() {
        const char *tmpdir = std::getenv("TMPDIR");
        for (const std::string &base : {std::string(tmpdir ? tmpdir : ""), std::string()}) {
            if (MakeIn(base) && Utf8ToWide(path_)) return true;
            if (!dir_.empty()) fs::remove(PathOf(dir_), ignored_);
            dir_.clear();
        }
        return false;
    }

    const std::string &path() const { return path_; }

private:
    // `base` empty: the system's temporary directory.
    bool MakeIn(const std::string &base) {
#if defined(_WIN32)
        const fs::path root = base.empty() ? fs::temp_directory_path(ignored_) : PathOf(base);
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path dir = root / ("vantrelfb-" + std::to_string(random()));
            if (fs::create_directory(dir, ignored_)) {
                dir_ = dir.u8string();
                path_ = (dir / "answer").u8string();
                return true;
            }
        }
        return false;
#else
        std::string pattern = (base.empty() ? std::string("/tmp") : base) + "/vantrelfb-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) return false;  // mode 0700
        dir_ = name.data();
        path_ = dir_ + "/answer";
        return true;
#endif
    }

    std::string dir_, path_;
    std::error_code ignored_;
};

int Call(const Invocation &inv, const CallTable &calls) {
    auto a = [&inv](Param p) { return inv.Arg(p); };
    switch (inv.command) {
        case Command::kFetch:
            return calls.token(a(Param::kUrl), a(Param::kOut));
        case Command::kStatus:
            return calls.status(a(Param::kMessage), a(Param::kToken), a(Param::kTarget), a(Param::kExtra),
                                a(Param::kOut));
        case Command::kCheckIn:
            return calls.check_in(a(Param::kMessage), a(Param::kToken), a(Param::kTarget), a(Param::kExtra),
                                  a(Param::kOut));
        case Command::kEvent:
            return calls.events(a(Param::kName), a(Param::kToken), a(Param::kTarget), a(Param::kExtra),
                                a(Param::kOut));
        case Command::kDelete:
            return calls.delete_object(a(Param::kExtra), a(Param::kToken), a(Param::kObject),
                                       a(Param::kExtra2), a(Param::kOut));
        case Command::kNoteCreate:
            return calls.notes(a(Param::kTitle), a(Param::kToken), a(Param::kUid), a(Param::kContent),
                               a(Param::kOut));
        case Command::kNoteEdit:
            return calls.notes_edit(a(Param::kTitle), a(Param::kToken), a(Param::kNote), a(Param::kContent),
                                    a(Param::kUid), a(Param::kOut));
        case Command::kNoteView:
            return calls.notes_view(a(Param::kToken), a(Param::kOwner), a(Param::kNote), a(Param::kOut));
        case Command::kNoteDelete:
            return calls.notes_delete(a(Param::kToken), a(Param::kNote), a(Param::kUid), a(Param::kOut));
        case Command::kPhoto:
            return calls.picture_upload(a(Param::kMedia), a(Param::kTarget), a(Param::kMessage),
                                        a(Param::kToken), a(Param::kOut));
        case Command::kVideo:
            return calls.video_upload(a(Param::kMedia), a(Param::kTarget), a(Param::kTitle), a(Param::kToken),
                                      a(Param::kOut));
        case Command::kSignIn:
            break;  // returns a text, not a code: see Execute
    }
    return -1;
}

// Whether a finished call's answer reached its file; unknown without the
// detail.
std::optional<bool> Stored(int code, const std::optional<vfb_call_info> &detail) {
    if (code != VFB_DONE || !detail) return std::nullopt;
    return detail->stored && detail->failure != VFB_FAIL_OUTPUT_FILE;
}

std::string ResultLine(const Invocation &inv, int code, const std::optional<vfb_call_info> &detail) {
    const bool known = ExitStatusFor(code) != kExitUnknownResult;
    const std::optional<bool> stored = Stored(code, detail);
    std::ostringstream s;
    s << "vantrelfb: " << ExportName(inv.command) << " returned " << code << ": " << vfb_result_meaning(code)
      << "; ";
    if (inv.out_to_stdout) {
        s << (code == VFB_DONE && stored.value_or(true) ? "the answer goes to standard output"
                                                        : "nothing goes to standard output");
    } else {
        s << "output file '" << inv.Utf8(Param::kOut) << "' "
          << (code != VFB_DONE ? (known ? "left as it was" : "may or may not have been written")
              : !stored        ? "written if it could be created"
              : *stored        ? "written"
                               : "not written");
    }
    return s.str();
}

// The service's text, safe to show on a terminal: valid UTF-8 with its
// control characters (C0, DEL and C1) escaped.
std::string Printable(const std::string &text) {
    const std::string utf8 = ValidUtf8(text);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const bool c1 = c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            const unsigned char value = c1 ? static_cast<unsigned char>(utf8[++i]) : c;
            out += c1 ? "\\u00" : "\\x";
            out += hex[value >> 4];
            out += hex[value & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int StatusFor(Refusal refusal) {
    switch (refusal) {
        case Refusal::kTokenRejected:
            return kExitTokenRejected;
        case Refusal::kRateLimited:
            return kExitRateLimited;
        case Refusal::kOther:
            break;
    }
    return kExitRefused;
}

std::string RefusalLine(const ServiceError &e) {
    std::string line;
    switch (Classify(e)) {
        case Refusal::kTokenRejected:
            line = "vantrelfb: the service rejected the access token: ";
            break;
        case Refusal::kRateLimited:
            line = "vantrelfb: the service is limiting the rate of calls, retry later: ";
            break;
        case Refusal::kOther:
            line = "vantrelfb: the service refused the call: ";
            break;
    }
    line += e.message ? Printable(*e.message) : "(no message)";
    std::string details;
    if (e.type) details = "type " + Printable(*e.type);
    if (e.code) details += (details.empty() ? "code " : ", code ") + Printable(*e.code);
    if (!details.empty()) line += " (" + details + ')';
    return line;
}

const char *RefusalName(Refusal refusal) {
    switch (refusal) {
        case Refusal::kTokenRejected:
            return "token_rejected";
        case Refusal::kRateLimited:
            return "rate_limited";
        case Refusal::kOther:
            break;
    }
    return "refused";
}

struct Report {
    std::optional<int> result;
    std::optional<int> http_status;
    std::string meaning;
    std::optional<std::string> cause;  // why the call failed, in words
    int exit_status = 0;
    std::optional<std::string> output_path;
    std::optional<ServiceError> service_error;
    std::optional<std::string> location;
};

void PrintJson(std::ostream &out, const Invocation &inv, const Report &o) {
    using Json = nlohmann::ordered_json;
    auto text = [](const std::optional<std::string> &t) { return t ? Json(*t) : Json(); };
    auto number = [](const std::optional<int> &n) { return n ? Json(*n) : Json(); };
    Json report = {{"command", CommandName(inv.command)},
                   {"export", ExportName(inv.command)},
                   {"result", number(o.result)},
                   {"http_status", number(o.http_status)},
                   {"meaning", o.meaning},
                   {"cause", text(o.cause)},
                   {"exit_status", o.exit_status},
                   {"output", nullptr},
                   {"service_error", nullptr},
                   {"location", text(o.location)}};
    if (o.output_path) {
        std::error_code missing;
        const std::uintmax_t size = fs::file_size(PathOf(*o.output_path), missing);
        report["output"] = {{"path", *o.output_path}, {"size", missing ? Json() : Json(size)}};
    }
    if (o.service_error) {
        const ServiceError &e = *o.service_error;
        Json code = text(e.code);
        if (e.code_is_number) code = Json::parse(*e.code, nullptr, false);
        report["service_error"] = {{"message", text(e.message)},
                                   {"type", text(e.type)},
                                   {"code", code.is_discarded() ? text(e.code) : code},
                                   {"refusal", RefusalName(Classify(e))}};
    }
    // Texts from the library or the file system may hold any bytes.
    out << report.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

// The service's error in the stored answer. Only a regular file can hold one:
// the library writes nothing else, and reading what --out names otherwise
// (a FIFO, a terminal, /dev/stdout) could wait forever.
std::optional<ServiceError> ErrorInAnswer(const std::string &path) {
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;
#if defined(_WIN32)
    std::error_code ignored;
    if (!fs::is_regular_file(PathOf(path), ignored)) return std::nullopt;
    const File file(::_wfopen(PathOf(path).c_str(), L"rb"), std::fclose);
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::FILE *opened = regular ? ::fdopen(fd, "rb") : nullptr;
    if (!opened) ::close(fd);
    const File file(opened, std::fclose);
#endif
    if (!file) return std::nullopt;
    return FindServiceErrorInFile(file.get());
}

enum class Copied { kAll, kUnreadable, kUnwritable };

// Copies the stored answer to standard output. Flushed here, so that a write
// refused late (a full disk, a closed pipe) is still this answer's failure.
Copied CopyTo(std::ostream &out, const std::string &path) {
    std::ifstream in(PathOf(path), std::ios::binary);
    if (!in) return Copied::kUnreadable;
    char buffer[64 * 1024];
    while (out && (in.read(buffer, sizeof buffer) || in.gcount() > 0)) out.write(buffer, in.gcount());
    if (!out || !out.flush()) return Copied::kUnwritable;
    return in.bad() ? Copied::kUnreadable : Copied::kAll;
}

// Set by Ctrl-C while a call runs. The library is asked to stop through the
// progress callback rather than the process being killed, so that the output
// file is left as for a cut answer and the tool can say what happened.
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// The handler resets itself, so that a second Ctrl-C ends the tool at once;
// a tool started with Ctrl-C ignored (a background job) keeps ignoring it.
class InterruptGuard {
public:
    InterruptGuard() {
        g_interrupted = 0;
#if defined(_WIN32)
        previous_ = std::signal(SIGINT, OnInterrupt);  // the C runtime resets it on delivery
        if (previous_ == SIG_IGN) std::signal(SIGINT, SIG_IGN);
#else
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        installed_ = ::sigaction(SIGINT, nullptr, &previous_) == 0 && previous_.sa_handler != SIG_IGN &&
                     ::sigaction(SIGINT, &action, nullptr) == 0;
#endif
    }
    ~InterruptGuard() {
#if defined(_WIN32)
        if (previous_ != SIG_ERR) std::signal(SIGINT, previous_);
#else
        if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
#endif
    }
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;

    bool Interrupted() const { return g_interrupted != 0; }

private:
#if defined(_WIN32)
    void (*previous_)(int) = SIG_ERR;
#else
    struct sigaction previous_ {};
    bool installed_ = false;
#endif
};

struct ProgressContext {
    ProgressMeter *meter = nullptr;
    const std::function<std::uint64_t()> *now_ms = nullptr;

    std::uint64_t Now() const {
        if (now_ms && *now_ms) return (*now_ms)();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
};

int OnProgress(void *user, std::uint64_t sent, std::uint64_t send_total, std::uint64_t received,
               std::uint64_t receive_total) {
    const ProgressContext *context = static_cast<const ProgressContext *>(user);
    if (context->meter) context->meter->Update({sent, send_total, received, receive_total}, context->Now());
    return g_interrupted ? 1 : 0;
}

// The library's lines already say what they are, as curl -v does ("*", ">",
// "<"); a header value can still carry control characters.
void OnTrace(void *user, const char *line) {
    *static_cast<std::ostream *>(user) << Printable(line ? line : "") << '\n';
}

// The thread's settings for one call, and none left behind: the callbacks
// point into this call's frame.
class CallSettings {
public:
    CallSettings(const CallTable &calls, const Invocation &inv, std::ostream &err, ProgressContext *progress)
        : calls_(calls), timeouts_(inv.connect_ms || inv.stall_ms) {
        calls_.set_progress(&OnProgress, progress);
        if (inv.verbose) calls_.set_trace(&OnTrace, &err);
        if (timeouts_) calls_.set_timeouts(inv.connect_ms, inv.stall_ms);
    }
    ~CallSettings() {
        calls_.set_progress(nullptr, nullptr);
        calls_.set_trace(nullptr, nullptr);
        if (timeouts_) calls_.set_timeouts(0, 0);
    }
    CallSettings(const CallSettings &) = delete;
    CallSettings &operator=(const CallSettings &) = delete;

private:
    const CallTable &calls_;
    bool timeouts_;
};

struct Made {
    std::optional<vfb_call_info> detail;
    bool interrupted = false;
};

// Makes the call with the invocation's settings, a meter when it wants one,
// and Ctrl-C turned into a cancel.
Made MakeCall(const Invocation &inv, const CallTable &calls, std::ostream &err,
              const Surroundings &surroundings, const std::function<void()> &call) {
    std::optional<ProgressMeter> meter;
    // The trace's lines and a meter redrawn in place would garble each other.
    if (surroundings.stderr_is_terminal && inv.progress && !inv.quiet && !inv.verbose &&
        IsTransfer(inv.command))
        meter.emplace(err);
    ProgressContext progress{meter ? &*meter : nullptr, &surroundings.now_ms};
    Made made;
    InterruptGuard interrupt;
    {
        CallSettings settings(calls, inv, err, &progress);
        call();
        vfb_call_info info;
        std::memset(&info, 0, sizeof info);
        info.size = sizeof info;
        if (calls.last_call(&info) == 0) {
            info.message[sizeof info.message - 1] = '\0';
            made.detail = info;
        }
    }
    made.interrupted = interrupt.Interrupted();
    return made;
}

std::string Cause(const std::optional<vfb_call_info> &detail) {
    return detail && detail->message[0] ? Printable(detail->message) : std::string();
}

std::string InterruptedCause(const std::optional<vfb_call_info> &detail, bool ended) {
    const std::string cause = Cause(detail);
    return "interrupted: " + (!cause.empty() ? cause
                              : ended        ? std::string("the call had ended already")
                                             : std::string("the call was cancelled"));
}

}  // namespace

int Execute(const Invocation &invocation, const CallTable &calls, std::ostream &out, std::ostream &err,
            const Surroundings &surroundings) {
    Invocation inv = invocation;
    if (inv.token_from == TokenFrom::kOption || inv.token_from == TokenFrom::kEnvironment) {
        if (const char *fault = TokenFault(inv.Utf8(Param::kToken))) {
            err << "vantrelfb: the token "
                << (inv.token_from == TokenFrom::kOption ? "given by --token" : "in VANTRELFB_TOKEN") << ' '
                << fault << "; the library was not called\n";
            return kExitNoToken;
        }
    }
    if (inv.token_from == TokenFrom::kFile || inv.token_from == TokenFrom::kStandardInput) {
        std::string why;
        std::optional<std::string> token;
        if (inv.token_from == TokenFrom::kFile) {
            std::ifstream file(PathOf(inv.token_file), std::ios::binary);
            if (file)
                token = ReadToken(&file, &why);
            else
                why = "cannot be opened";
        } else {
            token = ReadToken(surroundings.in, &why);
        }
        if (!token) {
            err << "vantrelfb: "
                << (inv.token_from == TokenFrom::kFile ? "the token file '" + inv.token_file + "'"
                                                       : std::string("standard input (--token -)"))
                << ' ' << why << "; the library was not called\n";
            return kExitNoToken;
        }
        const std::size_t index = static_cast<std::size_t>(Param::kToken);
        inv.wide[index] = *Utf8ToWide(*token);
        inv.utf8[index] = std::move(*token);
    }

    Report o;
    // What goes to standard error: everything when the call fails, nothing
    // after a success with -q.
    std::vector<std::string> lines;
    auto finish = [&]() {
        if (!(inv.quiet && o.exit_status == 0))
            for (const std::string &line : lines) err << line << '\n';
        if (inv.json) PrintJson(out, inv, o);
        return o.exit_status;
    };

    if (inv.command == Command::kSignIn) {
        const VFB_WCHAR *location = nullptr;
        const Made made = MakeCall(inv, calls, err, surroundings, [&] { location = calls.token_graph(); });
        o.location = WideToUtf8(location);
        if (made.detail && made.detail->http_status > 0) o.http_status = made.detail->http_status;
        if (made.interrupted) {
            o.exit_status = kExitInterrupted;
            o.meaning = "interrupted";
            o.cause = InterruptedCause(made.detail, !o.location->empty());
            lines.push_back("vantrelfb: " + *o.cause);
        } else if (o.location->empty()) {
            lines.push_back(
                "vantrelfb: FaceBookTokenGraph returned an empty Location: the sign-in request failed or its "
                "response carried none");
            o.exit_status = kExitEmptyLocation;
            o.meaning = "the library returned an empty Location";
            const std::string cause = Cause(made.detail);
            if (!cause.empty()) {
                o.cause = cause;
                lines.push_back("vantrelfb: " + cause);
            }
        } else {
            o.meaning = "the Location the sign-in dialog redirects to";
            if (!inv.json) out << *o.location << '\n';
        }
        return finish();
    }

    TemporaryAnswer temporary;
    std::string path = inv.Utf8(Param::kOut);
    if (inv.out_to_stdout) {
        if (!temporary.Make()) {
            err << "vantrelfb: --out -: no temporary file could be made for the answer (TMPDIR, /tmp); the "
                   "library was not called\n";
            return kExitNoTemporary;
        }
        path = temporary.path();
        inv.wide[static_cast<std::size_t>(Param::kOut)] = *Utf8ToWide(path);
    }

    int code = -1;
    const Made made = MakeCall(inv, calls, err, surroundings, [&] { code = Call(inv, calls); });
    const std::optional<vfb_call_info> &detail = made.detail;

    lines.push_back(ResultLine(inv, code, detail));
    o.result = code;
    if (detail && detail->http_status > 0) o.http_status = detail->http_status;
    o.meaning = vfb_result_meaning(code);
    o.exit_status = ExitStatusFor(code);
    o.output_path = path;
    const std::string cause = Cause(detail);
    if (made.interrupted) {
        o.exit_status = kExitInterrupted;
        o.cause = InterruptedCause(detail, code == VFB_DONE);
    } else if (Stored(code, detail) == false || (detail && detail->failure == VFB_FAIL_OUTPUT_FILE)) {
        // The service acted, and what it answered is lost: worth a status of
        // its own, never 0.
        o.exit_status = kExitNotStored;
        o.cause = cause;
        if (cause.empty()) {
            o.cause = inv.out_to_stdout ? std::string("the answer for standard output could not be stored")
                                        : "the answer could not be stored in '" + inv.Utf8(Param::kOut) + "'";
            if (detail->stored_errno) *o.cause += std::string(": ") + std::strerror(detail->stored_errno);
        }
    } else if (code == VFB_DONE) {
        // Any other result leaves the file as it was: what it holds is not
        // this call's answer.
        o.service_error = ErrorInAnswer(path);
        if (o.service_error) {
            lines.push_back(RefusalLine(*o.service_error));
            o.exit_status = StatusFor(Classify(*o.service_error));
        } else if (o.http_status && *o.http_status >= 400) {
            o.exit_status = kExitHttpError;
            o.cause = "the service answered with HTTP status " + std::to_string(*o.http_status) +
                      " and no error object; the answer is " +
                      (inv.out_to_stdout ? std::string("on standard output")
                                         : "in '" + inv.Utf8(Param::kOut) + "'");
        }
        const Copied copied = inv.out_to_stdout ? CopyTo(out, path) : Copied::kAll;
        if (copied != Copied::kAll) {
            lines.push_back(copied == Copied::kUnreadable
                                ? "vantrelfb: the answer could not be read back for standard output"
                                : "vantrelfb: the answer could not be written to standard output");
            // A refusal's own status says more than the lost copy of its error.
            if (o.exit_status == 0) o.exit_status = kExitOutputFailed;
        }
    } else if (!cause.empty()) {
        o.cause = cause;
    }
    if (o.cause) lines.push_back("vantrelfb: " + *o.cause);
    return finish();
}

int Run(const std::vector<std::string> &args, const char *env_token, const CallTable &calls,
        std::ostream &out, std::ostream &err, const Surroundings &surroundings) {
    const ParseResult parsed = Parse(args, env_token);
    switch (parsed.outcome) {
        case Outcome::kHelp:
        case Outcome::kVersion:
        case Outcome::kText:
            out << parsed.text;
            return 0;
        case Outcome::kUsageError:
            err << "vantrelfb: " << parsed.text << "\nRun 'vantrelfb "
                << (parsed.help_target.empty() ? "" : parsed.help_target + " ") << "--help' for usage.\n";
            return kExitUsage;
        case Outcome::kRun:
            break;
    }
    return Execute(parsed.invocation, calls, out, err, surroundings);
}

}  // namespace vfbtool
