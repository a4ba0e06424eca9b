#include "call/call.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "text/ascii.h"

namespace vfb {
namespace call {
namespace {

// Plain per-thread data: a thread-local object with a destructor would keep
// the library mapped after dlclose.
static_assert(std::is_trivially_destructible<vfb_call_info>::value, "per-thread record");
static_assert(std::is_trivially_destructible<Settings>::value, "per-thread settings");
thread_local vfb_call_info record;
thread_local Settings settings;

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// One line: no control characters, at most the record's space.
void SetMessage(const char *format, va_list args) {
    std::vsnprintf(record.message, sizeof record.message, format, args);
    for (char *c = record.message; *c; ++c)
        if (static_cast<unsigned char>(*c) < 0x20) *c = ' ';
}

}  // namespace

Settings &ThisThread() { return settings; }

Scope::Scope() : startMs_(NowMs()) {
    std::memset(&record, 0, sizeof record);
    record.size = sizeof record;
}

int Scope::Finish(int result) {
    record.result = result;
    record.elapsed_ms = NowMs() - startMs_;
    if (result == VFB_DONE && record.failure == VFB_FAIL_NONE) record.message[0] = 0;
    if (result != VFB_DONE && record.failure == VFB_FAIL_NONE)
        std::snprintf(record.message, sizeof record.message, "%s", (vfb_result_meaning)(result));
    if (Tracing()) Trace("result %d: %s", result, record.message[0] ? record.message : "done");
    return result;
}

void Fail(vfb_failure failure, const char *format, ...) {
    if (record.failure != VFB_FAIL_NONE) return;
    record.failure = failure;
    va_list args;
    va_start(args, format);
    SetMessage(format, args);
    va_end(args);
}

void RefuseInput(int argument, unsigned limit, const char *format, ...) {
    if (record.failure != VFB_FAIL_NONE) return;
    record.failure = VFB_FAIL_INPUT;
    record.argument = argument;
    record.limit = limit;
    va_list args;
    va_start(args, format);
    SetMessage(format, args);
    va_end(args);
}

bool Failed() { return record.failure != VFB_FAIL_NONE; }

void HttpStatus(int status) { record.http_status = status; }
void Reused(bool reused) { record.reused = reused ? 1 : 0; }
void Sent(std::uint64_t bytes) { record.bytes_sent += bytes; }
void Received(std::uint64_t bytes) { record.bytes_received += bytes; }

void Stored(bool ok, int error) {
    record.stored = ok ? 1 : 0;
    record.stored_errno = ok ? 0 : error;
}

bool Tracing() { return settings.trace != nullptr; }

void Trace(const char *format, ...) {
    if (!Tracing()) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    settings.trace(settings.traceUser, line);
}

std::string Redact(std::string_view line) {
    for (const char *name : {"authorization:", "cookie:", "set-cookie:", "proxy-authorization:"})
        if (StartsWithNoCase(line, name))
            return std::string(line.substr(0, std::strlen(name))) + " <redacted>";
    std::string out;
    std::size_t at = 0;
    const std::string_view key = "access_token=";
    for (;;) {
        std::size_t found = std::string_view::npos;
        for (std::size_t i = at; i + key.size() <= line.size(); ++i) {
            if (StartsWithNoCase(line.substr(i), key) &&
                (i == 0 || line[i - 1] == '?' || line[i - 1] == '&' || line[i - 1] == ' ' ||
                 line[i - 1] == '#')) {
                found = i;
                break;
            }
        }
        if (found == std::string_view::npos) break;
        out.append(line.substr(at, found + key.size() - at));
        out.append("<redacted>");
        at = line.find_first_of("& #\r\n", found + key.size());
        if (at == std::string_view::npos) {
            at = line.size();
            break;
        }
    }
    out.append(line.substr(at));
    return out;
}

bool HasProgress() { return settings.progress != nullptr; }

bool Progress(std::uint64_t sent, std::uint64_t sendTotal, std::uint64_t received,
              std::uint64_t receiveTotal) {
    if (!HasProgress()) return true;
    return settings.progress(settings.progressUser, sent, sendTotal, received, receiveTotal) == 0;
}

}  // namespace call
}  // namespace vfb

extern "C" {

VANTRELFB_API int vfb_last_call(vfb_call_info *info) {
    // The first published layout ends with the message; a caller's struct
    // smaller than that cannot hold what every caller is promised.
    if (!info || info->size < sizeof(vfb_call_info)) return -1;
    const unsigned size = info->size;
    std::memcpy(info, &vfb::call::record, sizeof(vfb_call_info));
    info->size = size;
    return 0;
}

VANTRELFB_API void vfb_set_progress(vfb_progress_fn fn, void *user) {
    vfb::call::Settings &s = vfb::call::ThisThread();
    s.progress = fn;
    s.progressUser = user;
}

VANTRELFB_API void vfb_set_timeouts(unsigned connect_ms, unsigned stall_ms) {
    vfb::call::Settings &s = vfb::call::ThisThread();
    s.connectMs = connect_ms ? connect_ms : 60000;
    s.stallMs = stall_ms ? stall_ms : 60000;
}

VANTRELFB_API void vfb_set_trace(vfb_trace_fn fn, void *user) {
    vfb::call::Settings &s = vfb::call::ThisThread();
    s.trace = fn;
    s.traceUser = user;
}

VANTRELFB_API const char *(vfb_result_meaning)(int code) {
    switch (code) {
        case VFB_DONE:
            return "done: the response body is in the output file (if it could be created)";
        case VFB_ERR_OPEN_ROOT_OR_MEDIA:
            return "the internet handle or the media file could not be opened";
        case VFB_ERR_OPEN:
            return "the URL or request could not be opened, or the input was rejected";
        case VFB_ERR_SEND:
            return "the request could not be sent (network, name resolution or TLS failure)";
        case VFB_ERR_READ:
            return "reading the response failed";
        case VFB_ERR_TOO_LARGE:
            return "the response was 1999 bytes or more, too large to store";
        case VFB_ERR_MEDIA_READ:
            return "reading the media file failed, or it changed during the upload";
        case VFB_ERR_SEND_CHUNK:
            return "sending a chunk of the media file failed";
        case VFB_ERR_SEND_CLOSING:
            return "sending the closing part of the upload failed";
        case VFB_ERR_START:
            return "the upload could not be started (network, name resolution, TLS) or the input was "
                   "rejected";
        case VFB_ERR_CONNECT:
            return "the connection handle could not be created";
        default:
            return "unknown result code";
    }
}

}  // extern "C"
