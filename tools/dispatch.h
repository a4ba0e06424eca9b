// Runs a parsed command line through a table of the library's exports. The
// tool fills the table with the real exports; tests fill it with fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "cli.h"
#include "vantrelfb.h"

namespace vfbtool {

struct CallTable {
    decltype(&FaceBookToken) token;
    decltype(&FaceBookStatus) status;
    decltype(&FaceBookNotes) notes;
    decltype(&FaceBookCheckIn) check_in;
    decltype(&FaceBookEvents) events;
    decltype(&FaceBookNotesEdit) notes_edit;
    decltype(&FaceBookNotesView) notes_view;
    decltype(&FaceBookNotesDelete) notes_delete;
    decltype(&FaceBookPictureUpload) picture_upload;
    decltype(&FaceBookVideoUpload) video_upload;
    decltype(&FaceBookTokenGraph) token_graph;
    decltype(&FaceBookDelete) delete_object;
    // The calling thread's detail and settings.
    decltype(&vfb_last_call) last_call;
    decltype(&vfb_set_progress) set_progress;
    decltype(&vfb_set_timeouts) set_timeouts;
    decltype(&vfb_set_trace) set_trace;
};

// What the tool is connected to besides its output streams.
struct Surroundings {
    std::istream *in = nullptr;       // standard input, for --token -
    bool stderr_is_terminal = false;  // the progress meter shows only there
    // Milliseconds on a clock that never goes back, for the meter's rate;
    // empty: the steady clock.
    std::function<std::uint64_t()> now_ms;
};

// Makes the one call `invocation` names, reports it on `err` and returns the
// exit status.
int Execute(const Invocation &invocation, const CallTable &calls, std::ostream &out, std::ostream &err,
            const Surroundings &surroundings = {});

// The whole tool after the program name: parse, then help, usage error (the
// library is not called) or Execute.
int Run(const std::vector<std::string> &args, const char *env_token, const CallTable &calls,
        std::ostream &out, std::ostream &err, const Surroundings &surroundings = {});

}  // namespace vfbtool
