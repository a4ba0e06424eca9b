#include "fake_library.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vfbtool::fake {

FakeLibrary *FakeLibrary::current = nullptr;

namespace {

int Record(const char *name, std::initializer_list<const VFB_WCHAR *> args) {
    RecordedCall call{name, {}};
    // A null pointer would be a fault of the tool; keep it visible as "<null>".
    for (const VFB_WCHAR *a : args) call.args.push_back(a ? WString(a) : Wide(u"<null>"));
    // Every int-returning export takes its output path last.
    if (const std::optional<std::string> &answer = FakeLibrary::current->answer) {
        std::ofstream out(std::filesystem::u8path(WideToUtf8(call.args.back().c_str())),
                          std::ios::binary | std::ios::trunc);
        out.write(answer->data(), static_cast<std::streamsize>(answer->size()));
    }
    FakeLibrary::current->recorded_.push_back(std::move(call));
    return FakeLibrary::current->result;
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
    FakeLibrary *f = FakeLibrary::current;
    f->recorded_.push_back({"FaceBookTokenGraph", {}});
    return f->null_location ? nullptr : f->location.c_str();
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
    current = this;
}

FakeLibrary::~FakeLibrary() { current = nullptr; }

RunResult RunTool(FakeLibrary &fake, const std::vector<std::string> &args, const char *env_token,
                  const std::optional<std::string> &input, bool terminal) {
    std::ostringstream out, err;
    std::istringstream in(input.value_or(""));
    Surroundings surroundings;
    surroundings.in = input ? &in : nullptr;
    surroundings.stderr_is_terminal = terminal;
    const int status = Run(args, env_token, fake.Calls(), out, err, surroundings);
    return {status, out.str(), err.str()};
}

}  // namespace vfbtool::fake
