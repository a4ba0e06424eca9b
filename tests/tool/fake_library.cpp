#include "fake_library.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vfbtool::fake {

FakeLibrary *FakeLibrary::current = nullptr;

namespace {

// What every fake does while "the exchange" runs: the trace, then the
// progress reports; returns the result the call ends with.
int Exchange(const char *name, std::initializer_list<const VFB_WCHAR *> args) {
    FakeLibrary &f = *FakeLibrary::current;
    RecordedCall call{name, {}, f.progress_fn != nullptr, f.trace_fn != nullptr, f.connect_ms, f.stall_ms};
    // A null pointer would be a fault of the tool; keep it visible as "<null>".
    for (const VFB_WCHAR *a : args) call.args.push_back(a ? WString(a) : Wide(u"<null>"));
    f.recorded_.push_back(std::move(call));

    if (f.trace_fn)
        for (const std::string &line : f.trace) f.trace_fn(f.trace_user, line.c_str());
    f.cancelled = false;
    for (const ProgressStep &step : f.progress) {
        f.now_ms = step.at_ms;
        if (step.interrupt) std::raise(SIGINT);
        if (f.progress_fn && f.progress_fn(f.progress_user, step.sent, step.send_total, step.received,
                                           step.receive_total) != 0) {
            f.cancelled = true;
            break;
        }
    }
    const int result = f.cancelled ? f.cancel_result : f.result;
    f.last = vfb_call_info{};
    f.last.size = sizeof f.last;
    f.last.result = result;
    f.last.http_status = f.http_status.value_or(result == VFB_DONE ? 200 : 0);
    f.last.stored = f.cancelled ? 0 : f.stored;
    f.last.stored_errno = f.stored_errno;
    f.last.failure = f.cancelled ? VFB_FAIL_CANCELLED : f.failure;
    const std::string &message = f.cancelled ? f.cancel_message : f.message;
    std::snprintf(f.last.message, sizeof f.last.message, "%s", message.c_str());
    return result;
}

int Record(const char *name, std::initializer_list<const VFB_WCHAR *> args) {
    const int result = Exchange(name, args);
    FakeLibrary &f = *FakeLibrary::current;
    // Every int-returning export takes its output path last.
    if (f.answer && !f.cancelled) {
        std::ofstream out(std::filesystem::u8path(WideToUtf8(f.recorded_.back().args.back().c_str())),
                          std::ios::binary | std::ios::trunc);
        out.write(f.answer->data(), static_cast<std::streamsize>(f.answer->size()));
    }
    return result;
}

using W = const VFB_WCHAR *;

int Token(W a, W b) { return Record("FaceBookToken", {a, b}); }
int Status(W a, W b, W c, W d, W e) { return Record("FaceBookStatus", {a, b, c, d, e}); }
int Notes(W a, W b, W c, W d, W e) { return Record("FaceBookNotes", {a, b, c, d, e}); }
int CheckIn(W a, W b, W c, W d, W e) { return Record("FaceBookCheckIn", {a, b, c, d, e}); }
int Events(W a, W b, W c, W d, W e) { return Record("FaceBookEvents", {a, b, c, d, e}); }
int NotesEdit(W a, W b, W c, W d, W e, W f) { return Record("FaceBookNotesEdit", {a, b, c, d, e, f}); }
int NotesView(W a, W b, W c, W d) { return Record("FaceBookNotesView", {a, b, c, d}); }
int NotesDelete(W a, W b, W c, W d) { return Record("FaceBookNotesDelete", {a, b, c, d}); }
int Picture(W a, W b, W c, W d, W e) { return Record("FaceBookPictureUpload", {a, b, c, d, e}); }
int Video(W a, W b, W c, W d, W e) { return Record("FaceBookVideoUpload", {a, b, c, d, e}); }
int Delete(W a, W b, W c, W d, W e) { return Record("FaceBookDelete", {a, b, c, d, e}); }
W TokenGraph() {
    Exchange("FaceBookTokenGraph", {});
    FakeLibrary *f = FakeLibrary::current;
    return f->null_location || f->cancelled ? nullptr : f->location.c_str();
}

int LastCall(vfb_call_info *info) {
    if (!info || info->size < sizeof(vfb_call_info)) return -1;
    const unsigned size = info->size;
    *info = FakeLibrary::current->last;
    info->size = size;
    return 0;
}

void SetProgress(vfb_progress_fn fn, void *user) {
    FakeLibrary::current->progress_fn = fn;
    FakeLibrary::current->progress_user = user;
}

void SetTimeouts(unsigned connect_ms, unsigned stall_ms) {
    FakeLibrary::current->connect_ms = connect_ms;
    FakeLibrary::current->stall_ms = stall_ms;
}

void SetTrace(vfb_trace_fn fn, void *user) {
    FakeLibrary::current->trace_fn = fn;
    FakeLibrary::current->trace_user = user;
}

}  // namespace

FakeLibrary::FakeLibrary() {
    calls_.token = &Token;
    calls_.status = &Status;
    calls_.notes = &Notes;
    calls_.check_in = &CheckIn;
    calls_.events = &Events;
    calls_.notes_edit = &NotesEdit;
    calls_.notes_view = &NotesView;
    calls_.notes_delete = &NotesDelete;
    calls_.picture_upload = &Picture;
    calls_.video_upload = &Video;
    calls_.token_graph = &TokenGraph;
    calls_.delete_object = &Delete;
    calls_.last_call = &LastCall;
    calls_.set_progress = &SetProgress;
    calls_.set_timeouts = &SetTimeouts;
    calls_.set_trace = &SetTrace;
    current = this;
}

FakeLibrary::~FakeLibrary() { current = nullptr; }

RunResult RunTool(FakeLibrary &fake, const std::vector<std::string> &args, const char *env_token,
                  const std::optional<std::string> &input, bool terminal) {
    std::ostringstream out, err;
    if (fake.out_fails) out.setstate(std::ios::badbit);
    std::istringstream in(input.value_or(""));
    Surroundings surroundings;
    surroundings.in = input ? &in : nullptr;
    surroundings.stderr_is_terminal = terminal;
    surroundings.now_ms = [&fake] { return fake.now_ms; };
    const int status = Run(args, env_token, fake.Calls(), out, err, surroundings);
    return {status, out.str(), err.str()};
}

}  // namespace vfbtool::fake
