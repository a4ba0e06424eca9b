// The fault matrix: every family of exports against every way the network,
// the service or the file system can fail, each row with its result, the
// state of the output file, what reached the service, and the process's
// descriptors (handles) back where they were.
//
// Stalls that last are not among the rows (a pause of 2 s holds a call while
// its file is tried): the exports keep the stack's 60-second time-outs, and a stalled service is covered at
// the transport level, with the time-outs shrunk, by the unit test AStalledServerFailsWithinTheStallTimeout.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "rows.h"

namespace e2e {
namespace {

const char *const kBodyFile = "/temp4/Report2.txt";
const char *const kBodyFolder = "/temp4";
const std::string kLocation =
    "https://www.facebook.com/connect/login_success.html#access_token=EAAFAULT&expires_in=5183999";

// What a row arranges before its call.
enum class Setup {
    kNone,
    kHideHosts,       // the service's host names stop resolving
    kMissingFolder,   // the output file's folder does not exist
    kHoldOutput,      // another party holds the output file exclusively
    kDeleteMedia,     // the media file is gone when the call starts
    kLargeMedia,      // a media file far larger than the socket buffers
    kHugeAnswer,      // a 100 MiB answer, read from a sparse file by the service
    kReadMidAnswer,   // another party opens the output file for reading while the call writes it
    kAfterKeepAlive,  // a first call of the export left its connection open
    kAfterIdleClose,  // the same, but the service dropped that connection while it was idle
    kAfterHttp10,     // the same, but that first answer was HTTP/1.0 (chunked, "kept alive")
};

struct FaultRow {
    std::string name;
    Export exp;
    std::vector<Response> script;
    Setup setup = Setup::kNone;
    bool needsService = true;  // false: holds with a refusing service and with none
    int result = VFB_DONE;     // all but the sign-in
    std::string location;      // the sign-in's result
    FileExpect file;
    int requests = 0;      // requests the service must record
    int connections = -1;  // connections it must accept; -1: not checked
    // The call's detail (vfb_last_call); -1: not checked.
    int failure = -1;
    int httpStatus = -1;
    int stored = -1;
    bool readableMidAnswer = false;  // kReadMidAnswer: whether that party may open it
};

void PrintTo(const FaultRow &row, std::ostream *os) { *os << row.name; }

std::string Filler(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('A' + i % 23);
    return s;
}

const std::size_t kCutBody = 1500;  // below the form posts' 1999-byte limit
// Two whole 512-byte chunks: every stack then agrees on what "received so far" is.
const std::size_t kCutAfter = 1024;

// The normal answer of the row's export, with `body` as its body.
Response Answer(Family f, const std::string &body) {
    if (f != Family::kSignIn) return Response::Ok(body);
    Response r = Response::Status(302, body);
    r.WithHeader("Location", kLocation).WithHeader("Content-Type", "text/html");
    return r;
}

const std::vector<FaultRow> &FaultRows() {
    static const std::vector<FaultRow> rows = [] {
        std::vector<FaultRow> v;
        for (const Export &e : AllExports()) {
            const Family f = e.family;
            // The result of a call that never got a response, and what it leaves.
            int noResponse = 0;
            FileExpect noResponseFile = FileExpect::Untouched();
            switch (f) {
                case Family::kFetch:
                case Family::kNotes:  // the notes return their fetch's result
                    noResponse = VFB_ERR_OPEN;
                    break;
                case Family::kFormPost:
                    noResponse = VFB_ERR_SEND;
                    break;
                case Family::kUpload:
                    noResponse = VFB_ERR_START;
                    break;
                case Family::kSignIn:
                    noResponseFile = FileExpect::Content("");  // created, left empty
                    break;
            }
            // The detail a row expects: why it failed, the answer's status, whether the file took it.
            // The sign-in creates its body file even when no answer comes.
            auto detail = [f](FaultRow r, int failure, int httpStatus, int stored) {
                r.failure = failure;
                r.httpStatus = httpStatus;
                r.stored = f == Family::kSignIn && stored == 0 && httpStatus == 0 ? -1 : stored;
                return r;
            };
            auto add = [&](const std::string &fault, FaultRow r) {
                r.name = Short(e.fn) + "_" + fault;
                if (!r.exp.fn) r.exp = e;
                v.push_back(std::move(r));
            };
            auto failed = [&](std::vector<Response> script, Setup setup, int requests, int connections,
                              bool needsService = true) {
                FaultRow r;
                r.script = std::move(script);
                r.setup = setup;
                r.needsService = needsService;
                r.result = noResponse;
                r.file = noResponseFile;
                r.requests = requests;
                r.connections = connections;
                return r;
            };

            // Name resolution. Only the fetch names its host; for the others
            // the sandbox's own host table stops naming the service's hosts.
            if (f == Family::kFetch) {
                FaultRow r = failed({}, Setup::kNone, 0, 0, false);
                r.exp = e;
                r.exp.args[0] = "https://nonexistent.invalid/faults";
                add("UnresolvableNamedHost", detail(r, VFB_FAIL_NAME_RESOLUTION, 0, 0));
            }
            add("UnresolvableHost",
                detail(failed({}, Setup::kHideHosts, 0, 0, false), VFB_FAIL_NAME_RESOLUTION, 0, 0));
            add("ConnectionRefused",
                detail(failed(std::vector<Response>(4, Response::Refuse()), Setup::kNone, 0, 1, false), -1, 0,
                       0));  // reset once accepted: refused, or a failed TLS start
            add("UntrustedCertificate", detail(failed({Response::Cert("untrusted")}, Setup::kNone, 0, 1),
                                               VFB_FAIL_TLS_CERTIFICATE, 0, 0));
            add("CertificateForAnotherHost",
                detail(failed({Response::Cert("wrong_host")}, Setup::kNone, 0, 1), VFB_FAIL_TLS_CERTIFICATE,
                       0, 0));
            add("HandshakeAborted",
                detail(failed({Response::Fault("\"abort_handshake\"")}, Setup::kNone, 0, 1), VFB_FAIL_TLS, 0,
                       0));
            // A URL open never leaves TLS for a redirect. The target is the service's
            // own port, so that a plain request, had it gone out, would show there.
            if (f == Family::kFetch || f == Family::kNotes) {
                Response toPlain = Response::Status(302, "moved");
                toPlain.WithHeader("Location", "http://graph.facebook.com:443/plain");
                add("RedirectToPlainHttpNotFollowed", failed({toPlain}, Setup::kNone, 1, 1));
            }

            // The request arrived whole; the connection ends before any response.
            for (const char *type : {"reset", "close"}) {
                FaultRow r = failed({Answer(f, "never sent")
                                         .WithFault(std::string("{\"type\": \"") + type +
                                                    "\", \"stage\": \"before_response\"}")},
                                    Setup::kNone, 1, 1);
                if (f == Family::kUpload) {
                    // Ending the upload fails unnoticed; the capture's first read then fails.
                    r.result = VFB_ERR_READ;
                    r.file = FileExpect::Content("");
                }
                add(std::string(type == std::string("reset") ? "Reset" : "Closed") + "BeforeResponse", r);
            }

            // Reset after part of the body; the delay lets that part arrive first.
            {
                FaultRow r;
                r.script = {Answer(f, Filler(kCutBody))
                                .WithFault("{\"type\": \"reset\", \"stage\": \"during_response_body\", "
                                           "\"after_bytes\": " +
                                           std::to_string(kCutAfter) + ", \"delay\": 0.3}")};
                r.requests = r.connections = 1;
                if (f == Family::kFormPost) {
                    r.result = VFB_ERR_READ;
                    r.file = FileExpect::Untouched();
                } else {
                    // Streamed: the bytes that arrived stay, and the cut is reported; the
                    // headers (and the Location) came whole.
                    if (f != Family::kSignIn) r.result = VFB_ERR_READ;
                    r.file = FileExpect::Content(Filler(kCutAfter));
                    r.location = kLocation;
                }
                add("ResetDuringResponseBody",
                    detail(r, VFB_FAIL_CUT_SHORT, f == Family::kSignIn ? 302 : 200, -1));
            }

            if (f == Family::kUpload) {
                FaultRow r = failed(
                    {Response::Ok("{}").WithFault("{\"type\": \"reset\", \"stage\": \"during_request_body\", "
                                                  "\"after_bytes\": 65536}")},
                    Setup::kLargeMedia, 1, 1);
                r.result = VFB_ERR_SEND_CHUNK;
                add("ResetDuringRequestBody", detail(r, -1, 0, 0));  // the reset may show on either direction

                FaultRow gone = failed({}, Setup::kDeleteMedia, 0, 0, false);
                gone.result = VFB_ERR_OPEN_ROOT_OR_MEDIA;
                add("MediaDeletedBeforeCall", detail(gone, VFB_FAIL_MEDIA_FILE, 0, 0));
            }

            if (f == Family::kFormPost) {
                FaultRow r;
                r.setup = Setup::kHugeAnswer;
                r.result = VFB_ERR_TOO_LARGE;
                r.file = FileExpect::Untouched();
                r.requests = r.connections = 1;
                add("HundredMebibyteAnswer", detail(r, -1, 200, 0));
            }

            // The output file while the answer is being written: the fetch
            // (and the notes) open it shared, for others to read as it grows;
            // uploads and the sign-in exclusively (the form posts too, but
            // they write only once the answer is whole, too briefly to catch).
            // The service pauses mid-body so that the call is caught writing.
            if (f != Family::kFormPost) {
                FaultRow r;
                r.script = {Answer(f, Filler(kCutBody))
                                .WithFault("{\"type\": \"stall\", \"stage\": \"during_response_body\", "
                                           "\"after_bytes\": " +
                                           std::to_string(kCutAfter) + ", \"seconds\": 2}")};
                r.setup = Setup::kReadMidAnswer;
                r.readableMidAnswer = f == Family::kFetch || f == Family::kNotes;
                r.file = FileExpect::Content(Filler(kCutBody));
                r.location = kLocation;
                r.requests = r.connections = 1;
                add(r.readableMidAnswer ? "OthersMayReadMidAnswer" : "OthersMayNotOpenMidAnswer", r);
            }

            // A call rides the connection an earlier call left open, or a new
            // one when the service dropped it meanwhile...
            {
                FaultRow r;
                r.script = {Answer(f, "{\"id\":\"second\"}")};
                r.setup = Setup::kAfterKeepAlive;
                r.file = FileExpect::Content("{\"id\":\"second\"}");
                r.location = kLocation;
                r.requests = 2;
                r.connections = 1;
                add("ReusesTheConnection", detail(r, VFB_FAIL_NONE, f == Family::kSignIn ? 302 : 200, 1));
                r.setup = Setup::kAfterIdleClose;
                r.connections = 2;
                add("ServiceDroppedTheIdleConnection", r);
                // An HTTP/1.0 server's keep-alive is never trusted with the next request.
                r.setup = Setup::kAfterHttp10;
                add("NeverReusesAnHttp10Connection", r);
            }
            // ...but a request the service may have acted on is never sent again.
            {
                FaultRow r = failed({Answer(f, "never sent")
                                         .WithFault("{\"type\": \"close\", \"stage\": \"before_response\"}")},
                                    Setup::kAfterKeepAlive, 2, 1);
                if (f == Family::kUpload) {
                    r.result = VFB_ERR_READ;
                    r.file = FileExpect::Content("");
                }
                add("DroppedOnTheReusedConnection", r);
            }

            // The file system: the exchange is unaffected, the file is not written.
            {
                FaultRow r;
                r.script = {Answer(f, "{\"id\":\"fresh\"}")};
                r.setup = Setup::kMissingFolder;
                r.file = FileExpect::Absent();
                r.location = kLocation;
                r.requests = r.connections = 1;
                add("MissingOutputFolder",
                    detail(r, VFB_FAIL_OUTPUT_FILE, f == Family::kSignIn ? 302 : 200, 0));
                r.setup = Setup::kHoldOutput;
                r.file = FileExpect::Untouched();
                add("OutputHeldExclusively",
                    detail(r, VFB_FAIL_OUTPUT_FILE, f == Family::kSignIn ? 302 : 200, 0));
            }
        }
        return v;
    }();
    return rows;
}

struct FaultRowName {
    std::string operator()(const ::testing::TestParamInfo<FaultRow> &info) const { return info.param.name; }
};

// Rewrites the sandbox's host table without the service's names for as long
// as it lives. Only ever inside the sandbox, whose /etc/hosts is its own.
class HiddenHosts {
public:
    HiddenHosts() {
        if (GetEnv("VFB_SANDBOX") != "1" || !ReadFile(kHosts, &saved_)) return;
        std::string kept;
        std::size_t at = 0;
        while (at < saved_.size()) {
            std::size_t end = saved_.find('\n', at);
            if (end == std::string::npos) end = saved_.size();
            std::string line = saved_.substr(at, end - at);
            if (line.find("facebook.com") == std::string::npos) kept += line + "\n";
            at = end + 1;
        }
        active_ = WriteFile(kHosts, kept);
    }
    ~HiddenHosts() {
        if (active_) WriteFile(kHosts, saved_);
    }
    bool active() const { return active_; }

private:
    static constexpr const char *kHosts = "/etc/hosts";
    std::string saved_;
    bool active_ = false;
};

class FaultRowTest : public E2ETest, public ::testing::WithParamInterface<FaultRow> {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!DirExists(kBodyFolder)) MakeDirs(kBodyFolder);
    }
    void TearDown() override {
        if (InsideSandbox() && !DirExists(kBodyFolder)) MakeDirs(kBodyFolder);
        E2ETest::TearDown();
    }

    // The first exchange of a process may set up what lives as long as the
    // process (the TLS library's tables); that is not a leak of a call.
    static void WarmUp() {
        static bool done = false;
        if (done || !ServiceRunning()) return;
        done = true;
        WriteScript({Response::Ok("warm"), Response::Ok("warm")});
        std::string dir = GetEnv("VFB_E2E_TMP").empty() ? "/tmp/vfb-e2e" : GetEnv("VFB_E2E_TMP");
        std::string out = dir + "/" + std::to_string(ProcessId()) + "/warm-up.bin";
        FaceBookToken(Widen("https://graph.facebook.com/warm").c_str(), WidePath(out).c_str());
        FaceBookStatus(Widen("m").c_str(), Widen("T").c_str(), Widen("1").c_str(), nullptr,
                       WidePath(out).c_str());
        RemoveFile(out);
        ResetRecording();
    }

    void Run(const FaultRow &row);
};

void FaultRowTest::Run(const FaultRow &row) {
    WarmUp();
    const bool signIn = row.exp.family == Family::kSignIn;
    Call call{row.exp.fn, row.exp.args};
    std::string out = signIn ? std::string(kBodyFile) : Out();
    if (row.setup == Setup::kMissingFolder) {
        if (signIn) {
            ASSERT_TRUE(RemoveTree(kBodyFolder) && !DirExists(kBodyFolder))
                << "cannot remove " << kBodyFolder;
        } else {
            out = Dir() + "/missing/out.bin";
            for (auto &a : call.args)
                if (a == "$OUT") a = "$DIR/missing/out.bin";
        }
    } else {
        ASSERT_TRUE(WriteFile(out, kPrevious));
    }

    std::vector<Response> script = row.script;
    const bool reuse = row.setup == Setup::kAfterKeepAlive || row.setup == Setup::kAfterIdleClose ||
                       row.setup == Setup::kAfterHttp10;
    if (reuse) {
        Response first = Answer(row.exp.family, "{\"id\":\"first\"}");
        if (row.setup == Setup::kAfterHttp10) {
            first.version = "HTTP/1.0";
            first.chunked = true;
            first.WithHeader("Connection", "keep-alive");
        }
        script.insert(script.begin(), first.WithKeepAlive(row.setup == Setup::kAfterIdleClose ? 0.3 : 10));
    }
    if (row.setup == Setup::kHugeAnswer) {
        // Sparse: the 100 MiB cost the service a read, not the sandbox's memory.
        const std::string huge = Dir() + "/huge-answer.bin";
        ASSERT_TRUE(WriteFile(huge, "{\"data\":\"")) << huge;
        ASSERT_TRUE(ResizeFile(huge, 100ull << 20)) << huge;
        script = {Response::FromFile(huge)};
    }
    if (ServiceRunning()) WriteScript(script);

    if (row.exp.family == Family::kUpload) {
        if (row.setup == Setup::kLargeMedia) {
            // Larger than anything the sockets can buffer, so the reset meets the chunks.
            ASSERT_TRUE(WriteFile(Media(), "\xFF\xD8\xFF\xE0"));
            ASSERT_TRUE(ResizeFile(Media(), 32ull << 20));
        } else {
            ASSERT_TRUE(WriteFile(Media(), "\xFF\xD8\xFF\xE0 a small photo"));
        }
        if (row.setup == Setup::kDeleteMedia) {
            ASSERT_TRUE(RemoveFile(Media()));
        }
    }

    std::unique_ptr<HiddenHosts> hidden;
    if (row.setup == Setup::kHideHosts) {
#if defined(_WIN32)
        GTEST_SKIP() << "WinINet keeps the names it resolved for the life of the process, so a changed "
                        "host table does not make the service's hosts unresolvable";
#endif
        hidden.reset(new HiddenHosts);
        if (!hidden->active()) GTEST_SKIP() << "the sandbox's host table cannot be changed here";
    }
    ExclusiveHold hold;
    if (row.setup == Setup::kHoldOutput) {
        hold = HoldFileExclusively(out);
        ASSERT_TRUE(hold.held()) << "cannot hold " << out;
    }
    long long peakBefore = -1;
    if (row.setup == Setup::kHugeAnswer) {
        ResetPeakResident();
        peakBefore = PeakResidentKiB();
    }

    if (reuse) {
        const CallResult first = Invoke(call);
        if (signIn)
            ASSERT_EQ(first.location, kLocation) << "the first call";
        else
            ASSERT_EQ(first.code, VFB_DONE) << "the first call";
        if (row.setup == Setup::kAfterIdleClose) SleepMs(1000);
        ASSERT_TRUE(WriteFile(out, kPrevious));
    }

    const int handlesBefore = CountOpenHandles();
    ASSERT_GT(handlesBefore, 0);
    // Another party tries the file once the call has opened it (its earlier
    // content is gone), while the service holds the rest of the body back.
    std::atomic<bool> callReturned{false};
    std::atomic<int> opened{-1};  // -1: never tried
    std::atomic<bool> triedMidCall{false};
    std::thread reader;
    if (row.setup == Setup::kReadMidAnswer) {
        const long long previousSize = static_cast<long long>(std::string(kPrevious).size());
        reader = std::thread([&, previousSize] {
            for (int i = 0; i < 2500 && !callReturned; ++i) {
                if (FileSize(out) != previousSize) {
                    opened = CanOpenForReading(out) ? 1 : 0;
                    triedMidCall = !callReturned;
                    return;
                }
                SleepMs(2);
            }
        });
    }
    CallResult got = Invoke(call);
    callReturned = true;
    if (reader.joinable()) reader.join();
    ExpectHandlesBackTo(handlesBefore);
    if (row.setup == Setup::kReadMidAnswer) {
        ASSERT_TRUE(triedMidCall) << "the call was not caught writing the file (tried: " << opened << ")";
        EXPECT_EQ(opened == 1, row.readableMidAnswer)
            << (row.readableMidAnswer ? "another party could not read the file the call shares"
                                      : "another party could open the file the call writes exclusively");
    }

    if (signIn) {
        EXPECT_EQ(got.location, row.location);
    } else {
        EXPECT_EQ(got.code, row.result) << row.exp.fn << ": " << vfb_result_meaning(got.code, nullptr);
        EXPECT_EQ(got.detail.result, got.code) << "the detail's result";
    }
    if (row.failure >= 0) {
        EXPECT_EQ(got.detail.failure, row.failure) << got.detail.message;
    }
    if (row.httpStatus >= 0) {
        EXPECT_EQ(got.detail.http_status, row.httpStatus) << got.detail.message;
    }
    if (row.stored >= 0) {
        EXPECT_EQ(got.detail.stored, row.stored) << got.detail.message;
    }
    if (row.failure > 0 || (!signIn && got.code != VFB_DONE)) {
        EXPECT_NE(got.detail.message[0], '\0') << "a failure without words";
    }

    if (row.setup == Setup::kHugeAnswer) {
        const long long peakAfter = PeakResidentKiB();
        if (peakBefore < 0 || peakAfter < 0) {
            std::printf("[   NOTE   ] %s: the peak resident size is not known here; memory not checked\n",
                        row.name.c_str());
        } else {
            EXPECT_LT(peakAfter - peakBefore, 16 * 1024)
                << "KiB of resident memory grew while refusing a 100 MiB answer";
        }
        // The service never got to send it all: the call stopped reading.
        std::vector<std::pair<int, std::string>> outcomes;
        for (int i = 0; i < 250 && outcomes.empty(); ++i) {
            outcomes = ConnectionOutcomes();
            if (outcomes.empty()) SleepMs(20);
        }
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_NE(outcomes[0].second, "answered") << "the whole 100 MiB were read";
    }

    hold.Release();
    hidden.reset();

    if (ServiceRunning()) {
        auto requests =
            row.requests > 0 ? WaitForRequests(static_cast<std::size_t>(row.requests)) : Requests();
        EXPECT_EQ(static_cast<int>(requests.size()), row.requests) << "requests recorded";
        if (row.connections >= 0 && row.requests == 0 && row.connections > 0) {
            // A stack may try again a connection that failed before any request was sent.
            EXPECT_GE(ConnectionCount(), row.connections) << "connections accepted";
        } else if (row.connections >= 0) {
            EXPECT_EQ(ConnectionCount(), row.connections)
                << "connections accepted (a request is never sent twice)";
        }
    }
    CheckFile(out, row.file);
    if (row.setup == Setup::kMissingFolder) {
        EXPECT_FALSE(DirExists(signIn ? std::string(kBodyFolder) : Dir() + "/missing"))
            << "the library must not create the folder";
    }
}

TEST_P(FaultRowTest, Run) {
    if (GetParam().needsService) {
        E2E_NEED_SERVICE();
    }
    Run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRowTest, ::testing::ValuesIn(FaultRows()), FaultRowName());

// A media file that shrinks while it is being sent: the body would no longer
// match the declared length, so the upload stops with 7. The service stalls
// after the first 64 KiB, which holds the upload mid-file while the file is cut.
using MediaShrinks = E2ETest;

TEST_F(MediaShrinks, DuringTheUploadGives7) {
    E2E_NEED_SERVICE();
    for (const char *fn : {"FaceBookPictureUpload", "FaceBookVideoUpload"}) {
        SCOPED_TRACE(fn);
        ResetRecording();
        WriteScript({Response::Ok("{}").WithFault(
            "{\"type\": \"stall\", \"stage\": \"during_request_body\", \"after_bytes\": 65536, \"seconds\": "
            "1.5}")});
        ASSERT_TRUE(WriteFile(Media(), "\xFF\xD8\xFF\xE0"));
        ASSERT_TRUE(ResizeFile(Media(), 32ull << 20));
        ASSERT_TRUE(WriteFile(Out(), kPrevious));
        const int handlesBefore = CountOpenHandles();
        ASSERT_GT(handlesBefore, 0);

        std::atomic<int> code{-1};
        std::thread upload([&] { code = Invoke({fn, {"$MEDIA", "100", "m", "T", "$OUT"}}).code; });
        // The request's head is recorded as it arrives; the body follows.
        const std::string requests = GetEnv("VFB_FAKE_DIR") + "/requests";
        bool started = false;
        for (int i = 0; i < 500 && !started && code == -1; ++i) {
            for (const auto &name : ListDir(requests))
                if (name.find(".raw") != std::string::npos) started = true;
            if (!started) SleepMs(5);
        }
        const bool cut = started && ResizeFile(Media(), 0);
        upload.join();
        if (!started) {
            ADD_FAILURE() << "the upload never reached the service; result " << code;
            continue;
        }
        if (!cut) GTEST_SKIP() << "this system does not let another party cut a file being read";
        EXPECT_EQ(code, VFB_ERR_MEDIA_READ) << vfb_result_meaning(code, nullptr);
        CheckFile(Out(), FileExpect::Untouched());
        ExpectHandlesBackTo(handlesBefore);
    }
}

// The caller's control of a call: a progress callback that cancels it in
// each phase, the stall and connection limits shrunk, progress totals, and a
// trace that never shows the token. Settings are per thread; each row sets
// them on a thread of its own, so no row sees another's.
struct ControlRow {
    const char *name;
    const char *fn;
    std::vector<std::string> args;
    Response answer;
    unsigned connectMs = 0, stallMs = 0;  // 0: the defaults
    int cancelAfterReports = -1;          // -1: never cancels
    int result;
    int failure;
    bool largeMedia = false;
};

void PrintTo(const ControlRow &row, std::ostream *os) { *os << row.name; }

const char *const kSecretToken = "SECRET-TOKEN-4242";

std::vector<ControlRow> ControlRows() {
    auto stall = [](const char *stage, double seconds) {
        return Response::Ok(Filler(4000))
            .WithFault(std::string("{\"type\": \"stall\", \"stage\": \"") + stage +
                       "\", \"after_bytes\": 1024, \"seconds\": " + std::to_string(seconds) + "}");
    };
    const std::vector<std::string> status = {"m", kSecretToken, "1", "", "$OUT"};
    const std::vector<std::string> fetch = {
        std::string("https://graph.facebook.com/c?access_token=") + kSecretToken, "$OUT"};
    const std::vector<std::string> photo = {"$MEDIA", "1", "m", kSecretToken, "$OUT"};
    return {
        // Cancelled while connecting, while the answer is awaited, while
        // the media goes out and while the answer comes in: each ends at once
        // with its step's code.
        {"CancelWhileConnecting", "FaceBookStatus", status, stall("before_handshake", 5), 0, 0, 2,
         VFB_ERR_SEND, VFB_FAIL_CANCELLED},
        {"CancelWhileAwaitingTheAnswer", "FaceBookStatus", status, stall("before_response", 5), 0, 0, 3,
         VFB_ERR_SEND, VFB_FAIL_CANCELLED},
        {"CancelWhileUploading", "FaceBookPictureUpload", photo, stall("during_request_body", 5), 0, 0, 5,
         VFB_ERR_SEND_CHUNK, VFB_FAIL_CANCELLED, true},
        {"CancelWhileReading", "FaceBookToken", fetch, stall("during_response_body", 5), 0, 0, 3,
         VFB_ERR_READ, VFB_FAIL_CANCELLED},
        // The limits, shrunk: a silent answer and a silent handshake.
        {"StallLimit", "FaceBookToken", fetch, stall("during_response_body", 3), 0, 400, -1, VFB_ERR_READ,
         VFB_FAIL_STALLED},
        {"ConnectionTimeOut", "FaceBookStatus", status, stall("before_handshake", 3), 400, 0, -1,
         VFB_ERR_SEND, VFB_FAIL_TIMEOUT},
        // Watched to the end: the totals are known and reached.
        {"UploadWatched", "FaceBookPictureUpload", photo, Response::Ok("{}"), 0, 0, -1, VFB_DONE,
         VFB_FAIL_NONE, true},
        {"DownloadWatched", "FaceBookToken", fetch, Response::Ok(Filler(300000)), 0, 0, -1, VFB_DONE,
         VFB_FAIL_NONE},
    };
}

struct Watch {
    int reports = 0;
    int cancelAfter = -1;
    std::uint64_t sent = 0, sendTotal = 0, received = 0, receiveTotal = 0;
    std::vector<std::string> trace;
};

int OnProgress(void *user, std::uint64_t sent, std::uint64_t sendTotal, std::uint64_t received,
               std::uint64_t receiveTotal) {
    auto *w = static_cast<Watch *>(user);
    w->sent = sent;
    w->sendTotal = sendTotal;
    w->received = received;
    w->receiveTotal = receiveTotal;
    return w->cancelAfter >= 0 && ++w->reports > w->cancelAfter ? 1 : 0;
}

void OnTrace(void *user, const char *line) { static_cast<Watch *>(user)->trace.emplace_back(line); }

class Control : public E2ETest, public ::testing::WithParamInterface<ControlRow> {};

TEST_P(Control, Run) {
    E2E_NEED_SERVICE();
    const ControlRow &row = GetParam();
    if (row.largeMedia) {
        ASSERT_TRUE(WriteFile(Media(), "\xFF\xD8\xFF\xE0"));
        ASSERT_TRUE(ResizeFile(Media(), 8ull << 20));
    }
    WriteScript({row.answer});
    vfb_call_info before{};
    before.size = sizeof before;
    ASSERT_EQ(vfb_last_call(&before), 0);
    Watch watch;
    watch.cancelAfter = row.cancelAfterReports;
    CallResult got;
    double seconds = 0;
    std::thread caller([&] {
        vfb_set_progress(&OnProgress, &watch);
        vfb_set_trace(&OnTrace, &watch);
        vfb_set_timeouts(row.connectMs, row.stallMs);
        const auto start = std::chrono::steady_clock::now();
        got = Invoke({row.fn, row.args});
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    caller.join();
    EXPECT_EQ(got.code, row.result) << got.detail.message;
    EXPECT_EQ(got.detail.failure, row.failure) << got.detail.message;
    if (row.cancelAfterReports >= 0 || row.stallMs || row.connectMs) {
        EXPECT_LT(seconds, 2.0) << "the call did not end within a second of its cancel or limit";
    }
    if (row.result == VFB_DONE) {
        const bool upload = std::string(row.fn) == "FaceBookPictureUpload";
        EXPECT_GT(upload ? watch.sendTotal : watch.receiveTotal, 0u) << "no total";
        EXPECT_EQ(watch.sent, watch.sendTotal);
        EXPECT_EQ(watch.received, watch.receiveTotal);
    }
    // The token travels in every row's request, and never in a trace line.
    EXPECT_FALSE(watch.trace.empty());
    for (const std::string &line : watch.trace) EXPECT_EQ(line.find(kSecretToken), std::string::npos) << line;
    // The detail stayed with the thread that made the call.
    vfb_call_info after{};
    after.size = sizeof after;
    ASSERT_EQ(vfb_last_call(&after), 0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0)
        << "this thread's detail changed: " << after.message;
}

INSTANTIATE_TEST_SUITE_P(Rows, Control, ::testing::ValuesIn(ControlRows()),
                         [](const ::testing::TestParamInfo<ControlRow> &info) { return info.param.name; });

}  // namespace
}  // namespace e2e
