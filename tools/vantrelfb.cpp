// The vantrelfb command-line tool: one subcommand per export of libvantrelfb.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "dispatch.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

int main(int argc, char **argv) {
    vfbtool::CallTable calls{};
    calls.token = &FaceBookToken;
    calls.status = &FaceBookStatus;
    calls.notes = &FaceBookNotes;
    calls.check_in = &FaceBookCheckIn;
    calls.events = &FaceBookEvents;
    calls.notes_edit = &FaceBookNotesEdit;
    calls.notes_view = &FaceBookNotesView;
    calls.notes_delete = &FaceBookNotesDelete;
    calls.picture_upload = &FaceBookPictureUpload;
    calls.video_upload = &FaceBookVideoUpload;
    calls.token_graph = &FaceBookTokenGraph;
    calls.delete_object = &FaceBookDelete;
    calls.last_call = &vfb_last_call;
    calls.set_progress = &vfb_set_progress;
    calls.set_timeouts = &vfb_set_timeouts;
    calls.set_trace = &vfb_set_trace;

    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    vfbtool::Surroundings surroundings;
    surroundings.in = &std::cin;
#if defined(_WIN32)
    surroundings.stderr_is_terminal = ::_isatty(2) != 0;
#else
    surroundings.stderr_is_terminal = ::isatty(STDERR_FILENO) == 1;
#endif
    const int status =
        vfbtool::Run(args, std::getenv("VANTRELFB_TOKEN"), calls, std::cout, std::cerr, surroundings);
    std::cout.flush();
    // A Location or help text that never arrived must not look like success.
    if (!std::cout && status == 0) return vfbtool::kExitOutputFailed;
    return status;
}
