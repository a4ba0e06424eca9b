// Data-driven end-to-end rows: a call, the scripted answers, the request the
// service must see, the result and the output file. The same rows run against
// the Linux library and (later) the Windows DLL under Wine, so a differential
// check can compare both runs row by row.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// The service's hosts, as the library has them built in.
extern const char *const kGraphHost;
extern const char *const kRestHost;
extern const char *const kVideoHost;
extern const char *const kDialogHost;
// The agent names.
extern const char *const kAgentFetch;  // "FTP_to_AIX"
extern const char *const kAgent;       // "FaceBook"
// The two Content-Type lines of the form posts, without "Content-Type: ".
extern const char *const kFormTypeCharset;
extern const char *const kFormType;

// The exports by family, each with a plain call that succeeds against a
// scripted answer. "$OUT" and "$MEDIA" stand for a case's output and media
// files; the extra texts are non-empty so that a case would see them if they
// ever reached the wire.
enum class Family { kFetch, kFormPost, kNotes, kUpload, kSignIn };

struct Export {
    const char *fn = nullptr;
    Family family = Family::kFetch;
    std::vector<std::string> args;
};

// All twelve, the sign-in last.
const std::vector<Export> &AllExports();
// "FaceBookStatus" -> "Status", for case names.
inline std::string Short(const std::string &fn) { return fn.substr(8); }

struct ExpectedRequest {
    std::string method;
    std::string host;    // the Host header and the TLS SNI
    std::string target;  // the request target, byte for byte
    std::string version = "HTTP/1.1";
    std::vector<Header> exact;     // each present exactly once, with this value
    std::vector<Header> optional;  // at most once; value "" = any value
    // No header beyond exact, optional and the transport's own (Connection,
    // Cache-Control, Pragma) may appear.
    bool strict = false;
    bool emptyBody = true;
};

struct FileExpect {
    enum Kind {
        kUntouched,  // the file written before the call is still there, unchanged
        kAbsent,     // no file at the output path
        kContent,    // exactly `content`
    };
    Kind kind = kUntouched;
    std::string content;

    static FileExpect Untouched() { return {kUntouched, ""}; }
    static FileExpect Absent() { return {kAbsent, ""}; }
    static FileExpect Content(std::string c) { return {kContent, std::move(c)}; }
};

struct Row {
    std::string name;              // a gtest-safe name, unique in its table
    Call call;                     // output path "$OUT"
    std::vector<Response> script;  // the service's answers, one per connection
    bool expectRequest = true;     // exactly one request, equal to `request`
    ExpectedRequest request;
    // The requests after `request` (the hops of followed redirects), in order.
    std::vector<ExpectedRequest> followUps;
    int result = VFB_DONE;
    FileExpect file;
    bool precreate = true;  // write kPrevious to $OUT before the call
    // $MEDIA's size: 0 for a few bytes of a JPEG head; more makes it a
    // sparse file of that size (all but the head zeros, nothing on disk).
    unsigned long long mediaSize = 0;
};

extern const char *const kPrevious;  // the content of a file written before the call

// The tables (built once).
const std::vector<Row> &FetchRows();
const std::vector<Row> &NotesRows();
const std::vector<Row> &FormPostRows();
const std::vector<Row> &FormPostCaptureRows();
const std::vector<Row> &UnreachableRows();  // valid both with a refusing service and --no-service

// Checks one recorded request against its expectation (gtest failures).
void CheckRequest(const RecordedRequest &got, const ExpectedRequest &want);
void CheckFile(const std::string &path, const FileExpect &want);

// gtest prints a row by its name.
inline void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

// The gtest name of a row.
struct RowName {
    std::string operator()(const ::testing::TestParamInfo<Row> &info) const { return info.param.name; }
};

// Runs a row in the fixture: writes the script, the previous file, calls,
// then checks the result, the request and the file.
class RowTest : public E2ETest, public ::testing::WithParamInterface<Row> {
protected:
    void RunRow(const Row &row);
};

}  // namespace e2e
