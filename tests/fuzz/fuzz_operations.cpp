// The operations over the scripted fake platform, with fuzzed texts,
// identifiers, tokens, answers, media files, clock and one injected failure.
// Whatever the input: the result is one the header documents for that call
// and the one the failure calls for, no handle or file is left open, no file
// is touched but at its documented moment, a file held by another call is
// never clobbered, the body agrees with its declared length, and nothing a
// caller passes reaches the request line or a header unescaped.
#include <curl/curl.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fake_platform.h"
#include "fuzz_support.h"
#include "http/internet.h"
#include "operations/operations.h"
#include "text/text.h"

namespace vfb::fuzz {
namespace {

using vfb::testing::FakePlatform;
using vfb::testing::Step;

enum class Op {
    kStatus,
    kCheckIn,
    kEvent,
    kDelete,
    kNoteCreate,
    kNoteEdit,
    kNoteView,
    kNoteDelete,
    kPhoto,
    kVideo,
    kFetch,
    kSignIn,
    kLast = kSignIn,
};

const std::string kMediaPath = "media.jpg";
const std::string kOldPath = "out.txt";    // holds an earlier call's answer
const std::string kNewPath = "new.txt";    // does not exist yet
const std::string kHeldPath = "held.txt";  // open without sharing by another call
const std::string kOldBytes = "an earlier call's answer";
const std::string kHeldBytes = "written by the call that holds it";

// A caller's text: null, or wide units that end at their first NUL.
struct Text {
    bool null = false;
    WString units;
    const WChar *get() const { return null ? nullptr : units.c_str(); }
    WStringView view() const { return null ? WStringView() : WStringView(units.c_str()); }
    std::string narrow() const { return EncodeUtf8(CodePointsOf(view())); }
    bool plain() const {
        for (WChar u : view())
            if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z'))) return false;
        return true;
    }
};

Text ConsumeText(FuzzedDataProvider &p) {
    Text t;
    t.null = p.ConsumeIntegralInRange<int>(0, 15) == 0;
    t.units = DecodeUnits(p.ConsumeRandomLengthString(3000));
    // Repeats reach the field limits (999, 1999, 2083 units) without the
    // fuzzer having to grow an input that long byte by byte.
    if (!t.units.empty() && p.ConsumeIntegralInRange<int>(0, 7) == 0) {
        const WString once = t.units;
        const int times = p.ConsumeIntegralInRange<int>(2, 2200);
        for (int i = 1; i < times && t.units.size() < 6000; ++i) t.units += once;
    }
    return t;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    return out;
}

WString W8(const std::string &ascii) { return WidenAscii(ascii); }

bool PassesRaw(unsigned char b) { return b > 0x20 && b < 0x7F && b != '\\'; }

WString UnitsOf(const std::vector<char32_t> &points) {
    WString out;
    for (char32_t cp : points) {
        if (cp >= 0x10000) {
            out.push_back(static_cast<WChar>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<WChar>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<WChar>(cp));
        }
    }
    return out;
}

// The query text of a prepared field, or nothing when the field is refused.
std::optional<std::string> Prepared(const Text &t) {
    const std::string narrow = t.narrow();
    if (narrow.size() > 1999 || EncodedSize(narrow) > 999) return std::nullopt;
    return EncodeQueryText(narrow);
}

std::string Boundary(const LocalTime &t) {
    char text[64];
    std::snprintf(text, sizeof text, "--%04d%02d%02d%02d%02d%02d%02d%03d", t.year, t.month, t.dayOfWeek,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return text;
}

// What a server parsing the query sees: the names in order, and the values.
struct Query {
    std::string path;
    std::vector<std::string> names;
    std::vector<std::string> values;
};

Query ParseTarget(std::string target, bool isUrl) {
    // A URL's fragment never reaches the server.
    if (isUrl) target = target.substr(0, target.find('#'));
    Query q;
    const std::size_t question = target.find('?');
    q.path = target.substr(0, question);
    if (question == std::string::npos) return q;
    const std::string query = target.substr(question + 1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t amp = query.find('&', start);
        const std::string pair =
            query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        const std::size_t eq = pair.find('=');
        q.names.push_back(pair.substr(0, eq));
        q.values.push_back(eq == std::string::npos ? std::string() : pair.substr(eq + 1));
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return q;
}

// A query text value as the server decodes it.
void CheckTextValue(const Query &q, const std::string &name, const Text &text) {
    bool found = false;
    for (std::size_t i = 0; i < q.names.size(); ++i) {
        if (q.names[i] != name) continue;
        const std::optional<std::string> decoded = PercentDecode(q.values[i]);
        FUZZ_CHECK(decoded.has_value() && *decoded == text.narrow());
        found = true;
    }
    FUZZ_CHECK(found);
}

using Files = std::map<std::string, testing::FakeFile>;

bool SameFiles(const Files &a, const Files &b) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || i->second.bytes != j->second.bytes) return false;
    return true;
}

// A text stays inside its own parameter unless it uses the braces, which
// add parameters by design. '#' passes the service's table unchanged; in a
// URL, where it would start the fragment, it must arrive as %23.
bool Contained(const Text &t) { return t.narrow().find_first_of("{}") == std::string::npos; }

// How a value goes into a note's URL.
WString InUrl(WString value) {
    WString out;
    for (WChar u : value) out += u == '#' ? W8("%23") : WString(1, u);
    return out;
}

struct Scenario {
    Op op;
    int faultStep = -1;  // a Step, or -1
    int faultCall = 0;
    std::uint32_t maxReadChunk = 0;
    std::string body;
    bool hasLocation = false;
    Text location;
    enum class Media { kNormal, kMissing, kUnreadable, kFailsLater, kSizeLies } media = Media::kNormal;
    std::string mediaBytes;
    std::uint32_t mediaFailsAfter = 0;
    std::int64_t mediaClaimedSize = 0;
    int outputChoice = 0;
    LocalTime now{};
    Text text, token, id, uid, noteId, ownerId, title, content, url;
};

Scenario ConsumeScenario(FuzzedDataProvider &p) {
    Scenario s;
    s.op = static_cast<Op>(p.ConsumeIntegralInRange<int>(0, static_cast<int>(Op::kLast)));
    s.faultStep = p.ConsumeIntegralInRange<int>(-1, static_cast<int>(Step::kOpenUrl));
    s.faultCall = p.ConsumeIntegralInRange<int>(1, 8);
    s.maxReadChunk = p.ConsumeIntegralInRange<std::uint32_t>(1, 5000);
    s.body = Pattern(p.ConsumeIntegralInRange<std::size_t>(0, 2100), 1);
    s.hasLocation = p.ConsumeBool();
    const int media = p.ConsumeIntegralInRange<int>(0, 9);
    s.media = media <= 4 ? static_cast<Scenario::Media>(media) : Scenario::Media::kNormal;
    s.mediaBytes = Pattern(p.ConsumeIntegralInRange<std::size_t>(0, 5000), 2);
    s.mediaFailsAfter =
        p.ConsumeIntegralInRange<std::uint32_t>(0, static_cast<std::uint32_t>(s.mediaBytes.size()));
    s.mediaClaimedSize = static_cast<std::int64_t>(s.mediaBytes.size()) +
                         (p.ConsumeBool() ? 1 : -1) * p.ConsumeIntegralInRange<std::int64_t>(1, 3000);
    s.outputChoice = p.ConsumeIntegralInRange<int>(0, 5);
    s.now = LocalTime{p.ConsumeIntegralInRange<int>(1970, 9999), p.ConsumeIntegralInRange<int>(1, 12),
                      p.ConsumeIntegralInRange<int>(0, 6),       p.ConsumeIntegralInRange<int>(1, 31),
                      p.ConsumeIntegralInRange<int>(0, 23),      p.ConsumeIntegralInRange<int>(0, 59),
                      p.ConsumeIntegralInRange<int>(0, 60),      p.ConsumeIntegralInRange<int>(0, 999)};
    for (Text *t :
         {&s.text, &s.token, &s.id, &s.uid, &s.noteId, &s.ownerId, &s.title, &s.content, &s.url, &s.location})
        *t = ConsumeText(p);
    return s;
}

const std::set<std::string> kHosts = {"graph.facebook.com", "api.facebook.com", "graph-video.facebook.com",
                                      "www.facebook.com"};

// A URL handed to the stack carries no credentials as libcurl reads it (with
// the flags it parses CURLOPT_URL with): they would go out in a Basic header.
void CheckNoCredentials(const std::string &url) {
    CURLU *parsed = curl_url();
    FUZZ_CHECK(parsed != nullptr);
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) ==
        CURLUE_OK) {
        char *part = nullptr;
        const CURLUcode user = curl_url_get(parsed, CURLUPART_USER, &part, 0);
        curl_free(part);
        part = nullptr;
        const CURLUcode password = curl_url_get(parsed, CURLUPART_PASSWORD, &part, 0);
        curl_free(part);
        if (user != CURLUE_NO_USER || password != CURLUE_NO_PASSWORD)
            std::fprintf(stderr, "credentials in the fetched URL: %s\n", url.c_str());
        FUZZ_CHECK(user == CURLUE_NO_USER);
        FUZZ_CHECK(password == CURLUE_NO_PASSWORD);
    }
    curl_url_cleanup(parsed);
}

void CheckHeaderLines(const std::string &block, const std::string &boundary) {
    // Each added line or block: whole lines from the fixed set, each with its CR LF.
    std::size_t start = 0;
    while (start < block.size()) {
        const std::size_t end = block.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos);
        const std::string line = block.substr(start, end - start);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(line == "Content-Type: application/x-www-form-urlencoded" ||
                   line == "Content-Type: application/x-www-form-urlencoded;charset=utf-8" ||
                   line == "Content-Type: multipart/form-data; boundary=" + boundary);
        start = end + 2;
    }
}

class Run {
public:
    explicit Run(Scenario scenario) : s_(std::move(scenario)) {}

    void Execute() {
        Prepare();
        Dispatch();
        CheckEveryRun();
        CheckExpected();
        held_.reset();
    }

private:
    bool IsForm() const { return s_.op <= Op::kDelete; }
    bool IsNote() const { return s_.op >= Op::kNoteCreate && s_.op <= Op::kNoteDelete; }
    bool IsUpload() const { return s_.op == Op::kPhoto || s_.op == Op::kVideo; }

    void Prepare() {
        auto &in = p_.internet;
        auto &fs = p_.files;
        if (s_.faultStep >= 0) in.failOnCall[static_cast<Step>(s_.faultStep)] = s_.faultCall;
        in.maxReadChunk = s_.maxReadChunk;
        in.responseBody = s_.body;
        in.hasLocation = s_.hasLocation;
        in.location = s_.location.narrow();
        p_.clock.now = s_.now;
        if (s_.media != Scenario::Media::kMissing) fs.files[kMediaPath].bytes = s_.mediaBytes;
        if (s_.media == Scenario::Media::kUnreadable) fs.unreadable.insert(kMediaPath);
        if (s_.media == Scenario::Media::kFailsLater) fs.readFailsAfter[kMediaPath] = s_.mediaFailsAfter;
        if (s_.media == Scenario::Media::kSizeLies)
            fs.sizeOverride[kMediaPath] = s_.mediaClaimedSize < 0 ? -1 : s_.mediaClaimedSize;
        fs.files[kOldPath].bytes = kOldBytes;
        held_ = fs.Open(W8(kHeldPath).c_str(), FileMode::kCreateExclusive);
        FUZZ_CHECK(held_ && held_->Write(kHeldBytes.data(), static_cast<std::uint32_t>(kHeldBytes.size())));
        switch (s_.outputChoice) {
            case 0:
                output_ = W8(kOldPath);
                break;
            case 1:
                output_ = W8(kNewPath);
                break;
            case 2:
                nullOutput_ = true;
                break;
            case 3:
                break;
            case 4:
                output_ = W8(kMediaPath);
                break;
            default:
                output_ = W8(kHeldPath);
                break;
        }
        before_ = fs.files;
    }

    const WChar *Output() const { return nullOutput_ ? nullptr : output_.c_str(); }

    void Dispatch() {
        const Platform platform = p_.get();
        switch (s_.op) {
            case Op::kStatus:
            case Op::kCheckIn:
            case Op::kEvent:
            case Op::kDelete:
                result_ = PostForm(platform, static_cast<FormPost>(static_cast<int>(s_.op)), s_.text.get(),
                                   s_.token.get(), s_.id.get(), Output());
                break;
            case Op::kNoteCreate:
            case Op::kNoteEdit:
            case Op::kNoteView:
            case Op::kNoteDelete: {
                NoteArguments args;
                args.title = s_.title.get();
                args.content = s_.content.get();
                args.accessToken = s_.token.get();
                args.uid = s_.uid.get();
                args.noteId = s_.noteId.get();
                args.ownerId = s_.ownerId.get();
                result_ = RunNoteOperation(
                    platform,
                    static_cast<NoteOperation>(static_cast<int>(s_.op) - static_cast<int>(Op::kNoteCreate)),
                    args, Output());
                break;
            }
            case Op::kPhoto:
            case Op::kVideo:
                result_ =
                    UploadMedia(platform, s_.op == Op::kPhoto ? MediaKind::kPhoto : MediaKind::kVideo,
                                W8(kMediaPath).c_str(), s_.id.get(), s_.text.get(), s_.token.get(), Output());
                break;
            case Op::kFetch:
                result_ = FetchUrl(platform, s_.url.get(), Output());
                break;
            case Op::kSignIn:
                signIn_ = RequestSignIn(platform, Output());
                break;
        }
    }

    void CheckEveryRun() {
        const auto &in = p_.internet;
        const auto &fs = p_.files;
        FUZZ_CHECK(in.openHandles() == 0);
        FUZZ_CHECK(fs.openFiles() == 1);  // only the other call's
        FUZZ_CHECK(fs.files.at(kHeldPath).bytes == kHeldBytes);

        std::set<int> allowed;
        if (IsForm()) allowed = {2, 3, 4, 5, 222, 999};
        if (IsNote() || s_.op == Op::kFetch) allowed = {1, 2, 4, 999};
        if (IsUpload()) allowed = {1, 2, 4, 7, 8, 9, 51, 222, 999};
        if (s_.op != Op::kSignIn) FUZZ_CHECK(allowed.count(result_) == 1);

        // A call that did not run to its end leaves every file as it was, but
        // for a streamed answer cut short, whose file keeps what arrived.
        const bool streamedCut = result_ == VFB_ERR_READ && !IsForm();
        if (s_.op != Op::kSignIn && result_ != VFB_DONE && !streamedCut)
            FUZZ_CHECK(SameFiles(fs.files, before_));
        // An upload reads its media file; nothing may write it meanwhile.
        if (IsUpload() && s_.media != Scenario::Media::kMissing)
            FUZZ_CHECK(fs.files.at(kMediaPath).bytes == s_.mediaBytes);

        FUZZ_CHECK(in.requests.size() <= 1);
        const std::string boundary = Boundary(s_.now);
        for (const auto &r : in.requests) {
            for (unsigned char b : r.target) FUZZ_CHECK(PassesRaw(b));
            for (const std::string &h : r.headers) CheckHeaderLines(h, boundary);
            FUZZ_CHECK(r.agent == "FaceBook" || r.agent == "FTP_to_AIX");
            // Never more body than declared, and a finished body is exactly as long.
            if (r.withBody) FUZZ_CHECK(static_cast<std::int64_t>(r.body.size()) <= r.declaredLength);
            if (r.ended)
                FUZZ_CHECK(r.withBody && r.declaredLength == static_cast<std::int64_t>(r.body.size()));
            if (r.host.empty()) CheckNoCredentials(r.target);
            if (!r.host.empty()) {
                FUZZ_CHECK(kHosts.count(r.host) == 1);
                FUZZ_CHECK(r.port == 443);
                FUZZ_CHECK((r.flags & kFlagSecure) != 0);
            }
        }
        if (IsUpload()) {
            // 21 units, "--" and 19 digits, whatever the moment.
            FUZZ_CHECK(boundary.size() == 21);
            FUZZ_CHECK(boundary.find_first_not_of("0123456789", 2) == std::string::npos);
        }
    }

    // The request the call must have sent when nothing failed.
    struct Expected {
        bool refused = false;  // input rejected before anything was opened
        std::string host;
        std::string verb;
        WString target;                                           // before escaping
        std::vector<std::string> names;                           // query parameter names, in order
        std::vector<std::pair<std::string, const Text *>> texts;  // query-encoded text values
        std::vector<const Text *> raw;  // identifiers and tokens inserted as they are
        bool isUrl = false;
        std::string body;  // uploads
    };

    Expected Expect() const {
        Expected e;
        const auto view = [](const Text &t) { return t.view(); };
        if (IsForm()) {
            static const char *const kPaths[] = {"/feed", "/checkins", "/events", ""};
            static const std::vector<std::string> kNames[] = {
                {"access_token", "message"},
                {"access_token", "message", "place", "coordinates"},
                {"access_token", "name", "start_time"},
                {"access_token"}};
            static const char *const kTails[] = {
                "", "&place=Vantrel&coordinates={\"latitude\":\"43.24022\", \"longitude\": \"-79.8533\"}",
                "&start_time=1272718027", ""};
            const int row = static_cast<int>(s_.op);
            e.host = "graph.facebook.com";
            e.verb = s_.op == Op::kDelete ? "DELETE" : "POST";
            e.names = kNames[row];
            e.raw = {&s_.id, &s_.token};
            e.target = W8("/") + WString(view(s_.id)) + W8(kPaths[row]) + W8("?access_token=") +
                       WString(view(s_.token));
            if (s_.op != Op::kDelete) {
                const std::optional<std::string> text = Prepared(s_.text);
                if (!text) e.refused = true;
                e.texts = {{e.names[1], &s_.text}};
                e.target += W8("&" + e.names[1] + "=") + WidenText(text.value_or("")) + W8(kTails[row]);
            }
            if (e.target.size() > 1999) e.refused = true;
        } else if (IsNote()) {
            const std::optional<std::string> title = Prepared(s_.title), content = Prepared(s_.content);
            const WString t = InUrl(WidenText(title.value_or(""))),
                          c = InUrl(WidenText(content.value_or("")));
            const WString token = InUrl(WString(view(s_.token))), uid = InUrl(WString(view(s_.uid))),
                          note = InUrl(WString(view(s_.noteId)));
            e.verb = "GET";
            e.isUrl = true;
            e.host = s_.op == Op::kNoteView ? "graph.facebook.com" : "api.facebook.com";
            WString rest;
            switch (s_.op) {
                case Op::kNoteCreate:
                    e.refused = !title || !content;
                    rest = W8("/method/notes.create?uid=") + uid + W8("&title=") + t + W8("&content=") + c +
                           W8("&access_token=") + token;
                    e.names = {"uid", "title", "content", "access_token"};
                    e.texts = {{"title", &s_.title}, {"content", &s_.content}};
                    e.raw = {&s_.uid, &s_.token};
                    break;
                case Op::kNoteEdit:
                    e.refused = !title || !content;
                    rest = W8("/method/notes.edit?note_id=") + note + W8("&uid=") + uid + W8("&title=") + t +
                           W8("&content=") + c + W8("&access_token=") + token;
                    e.names = {"note_id", "uid", "title", "content", "access_token"};
                    e.texts = {{"title", &s_.title}, {"content", &s_.content}};
                    e.raw = {&s_.noteId, &s_.uid, &s_.token};
                    break;
                case Op::kNoteView:
                    rest = W8("/") + InUrl(WString(view(s_.ownerId))) + W8("_") + note +
                           W8("?access_token=") + token;
                    e.names = {"access_token"};
                    e.raw = {&s_.ownerId, &s_.noteId, &s_.token};
                    break;
                default:
                    rest = W8("/method/notes.delete?note_id=") + note + W8("&uid=") + uid +
                           W8("&access_token=") + token;
                    e.names = {"note_id", "uid", "access_token"};
                    e.raw = {&s_.noteId, &s_.uid, &s_.token};
                    break;
            }
            e.target = W8("https://" + e.host) + rest;
            if (e.target.size() > 1999) e.refused = true;
        } else if (IsUpload()) {
            const bool photo = s_.op == Op::kPhoto;
            const std::string b = Boundary(s_.now);
            e.host = photo ? "graph.facebook.com" : "graph-video.facebook.com";
            e.verb = "POST";
            e.target = W8("/") + WString(view(s_.id)) +
                       (photo ? W8("/photos?access_token=") + WString(view(s_.token)) : W8("/videos"));
            e.names = photo ? std::vector<std::string>{"access_token"} : std::vector<std::string>{};
            e.raw = {&s_.id, &s_.token};
            const std::string opening =
                "--" + b + "\r\nContent-Disposition: form-data; name=\"source\"; filename=\"test." +
                (photo ? "jpg\"\r\nContent-Type: image/jpeg" : "mp4\"\r\nContent-Type: video/mp4") +
                "\r\n\r\n";
            // Multipart texts travel in the body as UTF-8, not query-encoded.
            const std::string closing =
                photo ? "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n" +
                            s_.text.narrow() + "\r\n--" + b + "--\r\n"
                      : "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"access_token\"\r\n\r\n" +
                            s_.token.narrow() + "\r\n--" + b +
                            "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n" + s_.text.narrow() +
                            "\r\n--" + b + "--\r\n";
            e.refused = e.target.size() > 1999 || closing.size() > 999;
            e.body = opening + s_.mediaBytes + closing;
        } else if (s_.op == Op::kFetch) {
            e.verb = "GET";
            e.isUrl = true;
            e.target = WString(view(s_.url));
            e.refused = e.target.size() > 1999;
        } else {
            e.host = "www.facebook.com";
            e.verb = "POST";
            e.target =
                W8("/dialog/oauth?client_id=" VFB_OAUTH_CLIENT_ID
                   "&response_type=token&redirect_uri=https://www.facebook.com/connect/login_success.html");
            e.names = {"client_id", "response_type", "redirect_uri"};
        }
        return e;
    }

    bool Fired(Step step) const {
        if (s_.faultStep != static_cast<int>(step)) return false;
        auto it = p_.internet.calls.find(step);
        return it != p_.internet.calls.end() && it->second >= s_.faultCall;
    }
    bool AnyFired() const { return s_.faultStep >= 0 && Fired(static_cast<Step>(s_.faultStep)); }

    // What the output file must hold now, given what it held before and
    // whether the call may create it: exclusive opens fail on a file that
    // is open anywhere, shared ones only on a file open without sharing.
    // The output file cannot be opened: no path, held by the other call, or
    // (for an exclusive open) the media file the upload holds.
    bool OutputBlocked(bool exclusive) const {
        const std::string path = nullOutput_ ? std::string() : NarrowText(output_.c_str());
        return path.empty() || path == kHeldPath || (exclusive && IsUpload() && path == kMediaPath);
    }

    void CheckOutput(bool created, const std::string &content, bool exclusive) const {
        const auto &fs = p_.files;
        const std::string path = nullOutput_ ? std::string() : NarrowText(output_.c_str());
        if (!created || OutputBlocked(exclusive)) {
            FUZZ_CHECK(SameFiles(fs.files, before_));
            return;
        }
        FUZZ_CHECK(fs.Exists(path) && fs.files.at(path).bytes == content);
    }

    // After a failed read: the file was created and holds a prefix of the body.
    void CheckPartialOutput(bool exclusive) const {
        const std::string path = nullOutput_ ? std::string() : NarrowText(output_.c_str());
        if (OutputBlocked(exclusive)) {
            FUZZ_CHECK(SameFiles(p_.files.files, before_));
            return;
        }
        FUZZ_CHECK(p_.files.Exists(path));
        const std::string &got = p_.files.files.at(path).bytes;
        FUZZ_CHECK(s_.body.compare(0, got.size(), got) == 0);
    }

    void CheckRequest(const Expected &e) const {
        const auto &in = p_.internet;
        FUZZ_CHECK(in.requests.size() == 1);
        const auto &r = in.requests[0];
        FUZZ_CHECK(r.verb == e.verb);
        if (!e.isUrl) FUZZ_CHECK(r.host == e.host);
        FUZZ_CHECK(r.target == EscapeRequestTarget(e.target));
        if (e.isUrl && s_.op != Op::kFetch) FUZZ_CHECK(r.target.rfind("https://" + e.host + "/", 0) == 0);
        if (!e.isUrl) FUZZ_CHECK(!r.target.empty() && r.target[0] == '/');

        // With plain identifiers and tokens, the parameters are exactly the
        // template's and every text value decodes back to the caller's text.
        bool structural = true;
        for (const Text *t : e.raw) structural = structural && t->plain();
        for (const auto &text : e.texts) structural = structural && Contained(*text.second);
        if (!structural || s_.op == Op::kFetch) return;
        const Query q = ParseTarget(r.target, e.isUrl);
        FUZZ_CHECK(q.names == e.names);
        for (const auto &text : e.texts) CheckTextValue(q, text.first, *text.second);
    }

    void CheckExpected() {
        const Expected e = Expect();
        const auto &in = p_.internet;
        const bool mediaUsable = s_.media == Scenario::Media::kNormal ||
                                 s_.media == Scenario::Media::kUnreadable ||
                                 s_.media == Scenario::Media::kFailsLater ||
                                 (s_.media == Scenario::Media::kSizeLies && s_.mediaClaimedSize >= 0);
        if (IsUpload() && !mediaUsable) {
            FUZZ_CHECK(result_ == VFB_ERR_OPEN_ROOT_OR_MEDIA && in.requests.empty());
            return;
        }
        if (s_.op == Op::kFetch && result_ == VFB_ERR_OPEN && in.calls.empty()) {
            // Refused as too long or as carrying credentials: only a URL with an '@' before its query can.
            const std::string url = s_.url.narrow();
            FUZZ_CHECK(e.refused || url.substr(0, url.find_first_of("?#")).find('@') != std::string::npos);
            return;
        }
        if (e.refused) {
            FUZZ_CHECK(result_ == (IsUpload() ? VFB_ERR_START : VFB_ERR_OPEN));
            FUZZ_CHECK(in.requests.empty() && in.calls.empty());
            return;
        }

        if (IsForm()) {
            int expected = VFB_DONE;
            if (Fired(Step::kOpen) || Fired(Step::kConnect))
                expected = VFB_ERR_CONNECT;
            else if (Fired(Step::kOpenRequest))
                expected = VFB_ERR_OPEN;
            else if (Fired(Step::kSend))
                expected = VFB_ERR_SEND;
            else if (Fired(Step::kRead))
                expected = VFB_ERR_READ;
            else if (s_.body.size() >= 1999)
                expected = VFB_ERR_TOO_LARGE;
            FUZZ_CHECK(result_ == expected);
            if (!Fired(Step::kOpen) && !Fired(Step::kConnect) && !Fired(Step::kOpenRequest)) CheckRequest(e);
            CheckOutput(result_ == VFB_DONE, s_.body, true);
        } else if (IsNote() || s_.op == Op::kFetch) {
            int expected = VFB_DONE;
            if (Fired(Step::kOpen))
                expected = VFB_ERR_OPEN_ROOT_OR_MEDIA;
            else if (Fired(Step::kOpenUrl))
                expected = VFB_ERR_OPEN;
            else if (Fired(Step::kRead))
                expected = VFB_ERR_READ;
            FUZZ_CHECK(result_ == expected);
            if (expected != VFB_DONE && expected != VFB_ERR_READ) return;
            CheckRequest(e);
            // A failed read ends the capture with what had arrived.
            if (Fired(Step::kRead)) {
                CheckPartialOutput(false);
            } else {
                CheckOutput(true, s_.body, false);
            }
        } else if (IsUpload()) {
            CheckUpload(e);
        } else {
            CheckSignIn(e);
        }
    }

    void CheckUpload(const Expected &e) {
        const auto &in = p_.internet;
        const std::uint32_t media = static_cast<std::uint32_t>(s_.mediaBytes.size());
        const std::uint32_t chunkWrites = media / 1024 + 1;
        // Media reads happen at every multiple of 1024 up to the last one.
        const bool mediaFails =
            s_.media == Scenario::Media::kUnreadable ||
            (s_.media == Scenario::Media::kFailsLater && s_.mediaFailsAfter <= (media / 1024) * 1024) ||
            s_.media == Scenario::Media::kSizeLies;
        int expected = VFB_DONE;
        if (Fired(Step::kOpen)) {
            expected = VFB_ERR_OPEN;
        } else if (Fired(Step::kConnect)) {
            expected = VFB_ERR_CONNECT;
        } else if (Fired(Step::kOpenRequest) || Fired(Step::kSendWithBody)) {
            expected = VFB_ERR_START;
        } else if (Fired(Step::kWrite)) {
            const int n = s_.faultCall;
            expected = n == 1                                             ? VFB_ERR_START
                       : static_cast<std::uint32_t>(n) <= chunkWrites + 1 ? VFB_ERR_SEND_CHUNK
                                                                          : VFB_ERR_SEND_CLOSING;
            // A media failure before the failing write comes first.
            if (mediaFails && expected != VFB_ERR_START) expected = -1;
        } else if (mediaFails) {
            expected = VFB_ERR_MEDIA_READ;
        } else if (Fired(Step::kRead) || (Fired(Step::kEndRequest) && !OutputBlocked(true))) {
            // Without an answer the capture's first read fails; with no file it reads nothing.
            expected = VFB_ERR_READ;
        }
        if (expected == -1) {
            FUZZ_CHECK(result_ == VFB_ERR_MEDIA_READ || result_ == VFB_ERR_SEND_CHUNK);
        } else {
            FUZZ_CHECK(result_ == expected);
        }
        if (result_ != VFB_DONE && result_ != VFB_ERR_READ) {
            if (!in.requests.empty()) FUZZ_CHECK(!in.requests[0].ended);
            return;
        }
        CheckRequest(e);
        const auto &r = in.requests[0];
        FUZZ_CHECK(r.body == e.body);
        FUZZ_CHECK(r.declaredLength == static_cast<std::int64_t>(e.body.size()));
        if (!AnyFired()) {
            FUZZ_CHECK(r.headers == std::vector<std::string>{"Content-Type: multipart/form-data; boundary=" +
                                                             Boundary(s_.now) + "\r\n"});
            FUZZ_CHECK(r.ended);
        }
        // The body file is created even when ending the request or a read
        // failed; it then holds what had arrived (nothing, without an end).
        if (Fired(Step::kEndRequest)) {
            CheckOutput(true, std::string(), true);
        } else if (Fired(Step::kRead)) {
            CheckPartialOutput(true);
        } else {
            CheckOutput(true, s_.body, true);
        }
    }

    void CheckSignIn(const Expected &e) {
        FUZZ_CHECK(signIn_.size() <= 999);
        FUZZ_CHECK(signIn_.find(WChar(0)) == WString::npos);
        // No step is checked, so any failure before the answer leaves no Location.
        const bool sent = !Fired(Step::kOpen) && !Fired(Step::kConnect) && !Fired(Step::kOpenRequest) &&
                          !Fired(Step::kSend);
        WString expected;
        if (sent && !Fired(Step::kQueryLocation) && s_.hasLocation) {
            const WString value = UnitsOf(DecodeUtf8Strict(s_.location.narrow()).value());
            // Longer than the 2084-unit field: not returned at all.
            if (value.size() <= 2083) {
                expected = WString(value.c_str());
                if (expected.size() > 999) expected.resize(999);
            }
        }
        FUZZ_CHECK(signIn_ == expected);
        if (!Fired(Step::kOpen) && !Fired(Step::kConnect) && !Fired(Step::kOpenRequest)) {
            CheckRequest(e);
            FUZZ_CHECK(p_.internet.requests[0].version == "HTTP/1.1");
        }
        // The body file is always created, so the caller sees this attempt.
        if (!sent) {
            CheckOutput(true, std::string(), true);
        } else if (Fired(Step::kRead)) {
            CheckPartialOutput(true);
        } else {
            CheckOutput(true, s_.body, true);
        }
    }

    Scenario s_;
    FakePlatform p_;
    std::unique_ptr<File> held_;
    WString output_;
    bool nullOutput_ = false;
    Files before_;
    int result_ = -1;
    WString signIn_;
};

}  // namespace
}  // namespace vfb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    vfb::fuzz::Run run(vfb::fuzz::ConsumeScenario(provider));
    run.Execute();
    return 0;
}
