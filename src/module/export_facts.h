// What the library promises about each export and about the sizes it
// accepts, in one place. The header's comments, README, vantrelfb(3) and the
// module definition file repeat these facts for their readers; the unit test
// export_facts_test holds every one of them, and the operations' own limit
// constants, to this table.
#pragma once

#include <cstddef>

namespace vfb::facts {

constexpr int kEndOfList = 0;  // no result code is 0

struct Export {
    int ordinal;
    // As the source spells it; the samples' exported names are the
    // compiler's decoration of these (vfb_export_name).
    const char *name;
    const char *arguments[7];  // in order, ending at nullptr
    int results[10];           // ascending, ending at kEndOfList; none: returns no code
};

constexpr Export kExports[] = {
    {1, "FaceBookToken", {"url", "outputPath"}, {1, 2, 4, 999}},
    {2,
     "FaceBookStatus",
     {"message", "accessToken", "targetId", "extraText", "outputPath"},
     {2, 3, 4, 5, 222, 999}},
    {3, "FaceBookNotes", {"title", "accessToken", "uid", "content", "outputPath"}, {1, 2, 4, 999}},
    {4,
     "FaceBookCheckIn",
     {"message", "accessToken", "targetId", "extraText", "outputPath"},
     {2, 3, 4, 5, 222, 999}},
    {5,
     "FaceBookEvents",
     {"name", "accessToken", "targetId", "extraText", "outputPath"},
     {2, 3, 4, 5, 222, 999}},
    {6,
     "FaceBookNotesEdit",
     {"title", "accessToken", "noteId", "content", "uid", "outputPath"},
     {1, 2, 4, 999}},
    {7, "FaceBookNotesView", {"accessToken", "ownerId", "noteId", "outputPath"}, {1, 2, 4, 999}},
    {8, "FaceBookNotesDelete", {"accessToken", "noteId", "uid", "outputPath"}, {1, 2, 4, 999}},
    {9,
     "FaceBookPictureUpload",
     {"mediaPath", "targetId", "message", "accessToken", "outputPath"},
     {1, 2, 4, 7, 8, 9, 51, 222, 999}},
    {10,
     "FaceBookVideoUpload",
     {"mediaPath", "targetId", "title", "accessToken", "outputPath"},
     {1, 2, 4, 7, 8, 9, 51, 222, 999}},
    {11, "FaceBookTokenGraph", {}, {}},
    {12,
     "FaceBookDelete",
     {"extraText", "accessToken", "objectId", "extraText2", "outputPath"},
     {2, 3, 4, 5, 222, 999}},
    {13, "CVantrelFB::CVantrelFB()", {}, {}},
    {14, "CVantrelFB::operator=(const CVantrelFB&)", {"other"}, {}},
    {15, "fnVantrelFB", {}, {}},
    {16, "nVantrelFB", {}, {}},
    {17, "vfb_last_call", {"info"}, {}},
    {18, "vfb_result_meaning", {"code"}, {}},
    {19, "vfb_set_progress", {"fn", "user"}, {}},
    {20, "vfb_set_timeouts", {"connect_ms", "stall_ms"}, {}},
    {21, "vfb_set_trace", {"fn", "user"}, {}},
};

constexpr int kFirstExtension = 17;

// Input refused before anything is sent, and the sizes of what comes back.
struct Limit {
    const char *what;
    std::size_t value;
    const char *unit;
};

constexpr Limit kTextBytes = {"a text's UTF-8 form", 1999, "bytes"};
constexpr Limit kEncodedTextBytes = {"a text's query-encoded form", 999, "bytes"};
constexpr Limit kPathUnits = {"a path, URL or request target", 1999, "units"};
constexpr Limit kClosingPartBytes = {"an upload's closing part", 999, "bytes"};
// A form post's answer of this size or more is not kept (5).
constexpr Limit kFormAnswerBytes = {"a form post's answer", 1999, "bytes"};
constexpr Limit kSignInLocationUnits = {"the sign-in's returned Location", 999, "units"};

}  // namespace vfb::facts
