// What the calling thread's current call did, and the settings it runs with:
// the per-thread state behind vfb_last_call and the vfb_set_ functions. The
// operations and both HTTP backends report here; nothing here changes a
// call's result or its file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vantrelfb.h"

namespace vfb {
namespace call {

// The settings of the calling thread (vfb_set_progress, _timeouts, _trace).
struct Settings {
    vfb_progress_fn progress = nullptr;
    void *progressUser = nullptr;
    vfb_trace_fn trace = nullptr;
    void *traceUser = nullptr;
    unsigned connectMs = 60000;
    unsigned stallMs = 60000;
};
Settings &ThisThread();

// One export's call on this thread: clears the record when it starts, and
// stamps the result, the elapsed time and the final message when it ends.
class Scope {
public:
    Scope();
    ~Scope() = default;
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
    // Returns `result`, after recording it.
    int Finish(int result);

private:
    std::uint64_t startMs_;
};

// The first failure of a call is its cause; later ones are consequences and
// are ignored. `format` is printf's, the message one line of UTF-8.
void Fail(vfb_failure failure, const char *format, ...) __attribute__((format(printf, 2, 3)));
// An argument refused before anything was sent: its position among the
// export's arguments (1 = first) and its limit.
void RefuseInput(int argument, unsigned limit, const char *format, ...) __attribute__((format(printf, 3, 4)));
bool Failed();

void HttpStatus(int status);
void Reused(bool reused);
void Sent(std::uint64_t bytes);
void Received(std::uint64_t bytes);
// The output file: `ok` false with the system's error number when it could
// not be created or written.
void Stored(bool ok, int error);

// Trace lines: Tracing() first, so that nothing is formatted when unused.
bool Tracing();
void Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A request or header line as a trace may show it: the value of every
// access_token parameter becomes <redacted>, and so does the value of a
// Cookie, Set-Cookie or Authorization header.
std::string Redact(std::string_view line);

// Reports progress to the thread's callback; false when it asks to cancel.
// Rate-limited by the caller (bytes moved, or about every 100 ms).
bool Progress(std::uint64_t sent, std::uint64_t sendTotal, std::uint64_t received,
              std::uint64_t receiveTotal);
bool HasProgress();

}  // namespace call
}  // namespace vfb
