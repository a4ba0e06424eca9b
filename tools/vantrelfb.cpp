// The vantrelfb command-line tool: one subcommand per export of libvantrelfb.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "dispatch.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#endif

namespace {

#if !defined(_WIN32)
// A standard descriptor left closed by whoever started the tool would be
// given to the next file or socket opened, the library's among them, and what
// the tool prints would go there. /dev/null takes the number instead, opened
// for reading only so that writing to a closed standard output still fails.
bool OccupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", O_RDONLY | O_NOCTTY);
        if (opened == fd) continue;
        if (opened >= 0) ::close(opened);
        return false;
    }
    return true;
}
#endif

}  // namespace

int main(int argc, char **argv) {
#if !defined(_WIN32)
    if (!OccupyStandardDescriptors()) {
        std::fputs("vantrelfb: a closed standard descriptor could not be opened on /dev/null\n", stderr);
        return vfbtool::kExitOutputFailed;
    }
#endif
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
    if (!std::cout && status == 0) {
        std::cerr << "vantrelfb: standard output could not be written\n";
        return vfbtool::kExitOutputFailed;
    }
    return status;
}
