// Recording stand-ins for the library's exports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch.h"

namespace vfbtool::fake {

// Test literals are char16_t; the library's unit type differs on Windows.
inline WString Wide(std::u16string_view s) { return WString(s.begin(), s.end()); }

struct RecordedCall {
    std::string export_name;
    std::vector<WString> args;
    // The thread's settings while the call ran.
    bool progress = false;
    bool trace = false;
    unsigned connect_ms = 0;
    unsigned stall_ms = 0;
};

// One report of the progress callback during a call, at a time on the
// clock the tool reads.
struct ProgressStep {
    std::uint64_t at_ms;
    std::uint64_t sent, send_total, received, receive_total;
    bool interrupt = false;  // Ctrl-C (SIGINT) arrives just before it
};

class FakeLibrary {
public:
    FakeLibrary();   // installs itself as the one instance the fakes report to
    ~FakeLibrary();  // and uninstalls

    const CallTable &Calls() const { return calls_; }
    const std::vector<RecordedCall> &Recorded() const { return recorded_; }

    int result = VFB_DONE;  // what every int-returning fake returns
    // When set, what every int-returning fake stores in its output file,
    // whatever it returns: the service's answer, or a file left from before.
    std::optional<std::string> answer;
    WString location;  // what FaceBookTokenGraph returns
    bool null_location = false;

    // The detail vfb_last_call gives after a call. The HTTP status is 200
    // for a 999 and 0 otherwise unless set.
    std::optional<int> http_status;
    bool stored = true;
    int stored_errno = 0;
    int failure = VFB_FAIL_NONE;
    std::string message;
    // Reported to the progress callback in order; when it asks to stop, the
    // call ends with `cancel_result`, failure cancelled and `cancel_message`.
    std::vector<ProgressStep> progress;
    int cancel_result = VFB_ERR_READ;
    std::string cancel_message = "cancelled by the progress callback";
    std::vector<std::string> trace;  // lines given to the trace callback
    bool cancelled = false;          // the callback asked to stop
    std::uint64_t now_ms = 0;        // the tool's clock
    bool out_fails = false;          // the tool's standard output refuses every write

    // The settings as the tool left them.
    vfb_progress_fn progress_fn = nullptr;
    void *progress_user = nullptr;
    vfb_trace_fn trace_fn = nullptr;
    void *trace_user = nullptr;
    unsigned connect_ms = 0, stall_ms = 0;
    vfb_call_info last{};

    // Used by the fakes only.
    static FakeLibrary *current;
    std::vector<RecordedCall> recorded_;

private:
    CallTable calls_;
};

// Runs the tool on `args` against `fake`.
struct RunResult {
    int status;
    std::string out;
    std::string err;
};
// `input` is standard input (none when absent); `terminal` says whether
// standard error is a terminal.
RunResult RunTool(FakeLibrary &fake, const std::vector<std::string> &args, const char *env_token = nullptr,
                  const std::optional<std::string> &input = std::nullopt, bool terminal = false);

}  // namespace vfbtool::fake
