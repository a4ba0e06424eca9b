#include "rows.h"

#include <algorithm>
#include <cctype>

namespace e2e {

const std::vector<Export> &AllExports() {
    static const std::vector<Export> all = {
        {"FaceBookToken", Family::kFetch, {"https://graph.facebook.com/e2e?v=1", "$OUT"}},
        {"FaceBookStatus", Family::kFormPost, {"m", "T", "100", "x", "$OUT"}},
        {"FaceBookCheckIn", Family::kFormPost, {"m", "T", "100", "x", "$OUT"}},
        {"FaceBookEvents", Family::kFormPost, {"n", "T", "100", "x", "$OUT"}},
        {"FaceBookDelete", Family::kFormPost, {"x", "T", "100_200", "y", "$OUT"}},
        {"FaceBookNotes", Family::kNotes, {"t", "T", "1", "c", "$OUT"}},
        {"FaceBookNotesEdit", Family::kNotes, {"t", "T", "2", "c", "1", "$OUT"}},
        {"FaceBookNotesView", Family::kNotes, {"T", "1", "2", "$OUT"}},
        {"FaceBookNotesDelete", Family::kNotes, {"T", "2", "1", "$OUT"}},
        {"FaceBookPictureUpload", Family::kUpload, {"$MEDIA", "100", "m", "T", "$OUT"}},
        {"FaceBookVideoUpload", Family::kUpload, {"$MEDIA", "100", "t", "T", "$OUT"}},
        {"FaceBookTokenGraph", Family::kSignIn, {}},
    };
    return all;
}

const char *const kGraphHost = "graph.facebook.com";
const char *const kRestHost = "api.facebook.com";
const char *const kVideoHost = "graph-video.facebook.com";
const char *const kDialogHost = "www.facebook.com";
const char *const kAgentFetch = "FTP_to_AIX";
const char *const kAgent = "FaceBook";
const char *const kFormTypeCharset = "application/x-www-form-urlencoded;charset=utf-8";
const char *const kFormType = "application/x-www-form-urlencoded";
const char *const kPrevious = "PREVIOUS CONTENT\n";

namespace {

std::string Lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char *const kToken = "EAAB+tok/en=1";  // raw in every request: never encoded

// ------------------------------------------------------------------ requests

// A GET made by the URL fetch (FaceBookToken and the notes operations).
ExpectedRequest FetchRequest(const std::string &host, const std::string &target) {
    ExpectedRequest r;
    r.method = "GET";
    r.host = host;
    r.target = target;
    r.exact = {{"Host", host}, {"User-Agent", kAgentFetch}};
    r.optional = {{"Accept", ""}};
    r.strict = true;
    return r;
}

// A form post: one Content-Type line, no body.
ExpectedRequest FormRequest(const std::string &verb, const std::string &target, const char *type) {
    ExpectedRequest r;
    r.method = verb;
    r.host = kGraphHost;
    r.target = target;
    r.exact = {{"Host", kGraphHost},
               {"User-Agent", kAgent},
               {"Accept", "*/*"},
               {"Content-Type", type},
               {"Content-Length", "0"}};
    r.strict = true;
    return r;
}

// Only "one request reached that host with that verb" (capture rows).
ExpectedRequest AnyRequest(const std::string &verb, const std::string &host) {
    ExpectedRequest r;
    r.method = verb;
    r.host = host;
    return r;
}

Row Make(std::string name, Call call, std::vector<Response> script, ExpectedRequest request, int result,
         FileExpect file) {
    Row r;
    r.name = std::move(name);
    r.call = std::move(call);
    r.script = std::move(script);
    r.request = std::move(request);
    r.result = result;
    r.file = std::move(file);
    return r;
}

Row NoRequest(Row r) {
    r.expectRequest = false;
    return r;
}

struct FormPost {
    const char *fn;
    const char *verb;
    const char *type;
};
const FormPost kFormPosts[] = {
    {"FaceBookStatus", "POST", kFormTypeCharset},
    {"FaceBookCheckIn", "POST", kFormType},
    {"FaceBookEvents", "POST", kFormType},
    {"FaceBookDelete", "DELETE", kFormTypeCharset},
};

std::string Filler(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

}  // namespace

// ------------------------------------------------------------------ tables

const std::vector<Row> &FetchRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> v;
        const std::string body = "{\"access_token\":\"abc\",\"expires\":\"5183999\"}";
        v.push_back(Make(
            "RequestLineAndAgent",
            {"FaceBookToken", {"https://graph.facebook.com/oauth/access_token?client_id=1&x=a+b", "$OUT"}},
            {Response::Ok(body)}, FetchRequest(kGraphHost, "/oauth/access_token?client_id=1&x=a+b"), VFB_DONE,
            FileExpect::Content(body)));
        v.push_back(Make("OtherHost", {"FaceBookToken", {"https://www.facebook.com/", "$OUT"}},
                         {Response::Ok("<html/>")}, FetchRequest(kDialogHost, "/"), VFB_DONE,
                         FileExpect::Content("<html/>")));
        v.push_back(Make("ErrorStatusStored", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}},
                         {Response::Status(400, "{\"error\":{\"message\":\"Invalid OAuth access token.\"}}")},
                         FetchRequest(kGraphHost, "/me"), VFB_DONE,
                         FileExpect::Content("{\"error\":{\"message\":\"Invalid OAuth access token.\"}}")));
        v.push_back(Make("ServerErrorStored", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}},
                         {Response::Status(500, "oops")}, FetchRequest(kGraphHost, "/me"), VFB_DONE,
                         FileExpect::Content("oops")));
        v.push_back(Make("EmptyBodyEmptyFile", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}},
                         {Response::Ok("")}, FetchRequest(kGraphHost, "/me"), VFB_DONE,
                         FileExpect::Content("")));
        {
            Response chunked = Response::Ok(Filler(3000));
            chunked.chunked = true;
            v.push_back(Make("ChunkedBodyStored", {"FaceBookToken", {"https://graph.facebook.com/c", "$OUT"}},
                             {chunked}, FetchRequest(kGraphHost, "/c"), VFB_DONE,
                             FileExpect::Content(Filler(3000))));
        }
        {
            Response closeDelimited = Response::Ok(Filler(1500));
            closeDelimited.contentLength = false;
            v.push_back(Make("CloseDelimitedBodyStored",
                             {"FaceBookToken", {"https://graph.facebook.com/d", "$OUT"}}, {closeDelimited},
                             FetchRequest(kGraphHost, "/d"), VFB_DONE, FileExpect::Content(Filler(1500))));
        }
        // Without a declared length only TLS's close alert ends a body: a bare
        // close may be an attacker's cut.
        {
            Response cut = Response::Ok(Filler(1500));
            cut.contentLength = false;
            cut.WithFault(
                "{\"type\": \"close\", \"stage\": \"during_response_body\", \"after_bytes\": 1500}");
            v.push_back(Make("CloseDelimitedWithoutCloseAlertIsCut",
                             {"FaceBookToken", {"https://graph.facebook.com/d", "$OUT"}}, {cut},
                             FetchRequest(kGraphHost, "/d"), VFB_ERR_READ,
                             FileExpect::Content(Filler(1500))));
        }
        // Lengths that disagree or do not parse leave no way to tell where
        // the answer ends: nothing of it is taken.
        for (const auto &lengths : std::vector<std::pair<std::string, std::vector<std::string>>>{
                 {"ConflictingContentLengthsAreCut", {"6", "4"}}, {"MalformedContentLengthIsCut", {"6x"}}}) {
            Response r = Response::Ok("abcdef");
            for (const std::string &value : lengths.second) r.WithHeader("Content-Length", value);
            v.push_back(Make(lengths.first, {"FaceBookToken", {"https://graph.facebook.com/g", "$OUT"}}, {r},
                             FetchRequest(kGraphHost, "/g"), VFB_ERR_READ, FileExpect::Content("")));
        }
        // A read that fails after some chunks: reported, and the bytes received so far kept.
        v.push_back(Make(
            "CutShortKeepsWhatArrived", {"FaceBookToken", {"https://graph.facebook.com/e", "$OUT"}},
            {Response::Ok(Filler(4000))
                 .WithFault(
                     "{\"type\": \"close\", \"stage\": \"during_response_body\", \"after_bytes\": 2048}")},
            FetchRequest(kGraphHost, "/e"), VFB_ERR_READ, FileExpect::Content(Filler(2048))));
        // Chunked bodies end by their framing: a last chunk that never comes
        // is a cut even when the connection closes cleanly.
        {
            Response cut = Response::Ok("400\r\n" + Filler(1024) + "\r\n");
            cut.contentLength = false;
            cut.WithHeader("Transfer-Encoding", "chunked");
            v.push_back(
                Make("ChunkedWithoutLastChunk", {"FaceBookToken", {"https://graph.facebook.com/f", "$OUT"}},
                     {cut}, FetchRequest(kGraphHost, "/f"), VFB_ERR_READ, FileExpect::Content(Filler(1024))));
            Response reset = Response::Ok(Filler(4000));
            reset.chunked = true;
            reset.WithFault(
                "{\"type\": \"reset\", \"stage\": \"during_response_body\", \"after_bytes\": 2048, "
                "\"delay\": 0.3}");
            v.push_back(Make(
                "ChunkedResetKeepsWhatArrived", {"FaceBookToken", {"https://graph.facebook.com/g", "$OUT"}},
                {reset}, FetchRequest(kGraphHost, "/g"), VFB_ERR_READ, FileExpect::Content(Filler(2048))));
        }
        // Redirects to a place that cannot be reached: 301, 302, 303 and 307
        // are followed (and fail with 2, the file untouched); any other 3xx
        // is the answer, and its body is stored.
        for (int status : {300, 301, 302, 303, 307, 308}) {
            const bool followed = status == 301 || status == 302 || status == 303 || status == 307;
            const std::string body = "moved with " + std::to_string(status);
            Response moved = Response::Status(status, body);
            moved.WithHeader("Location", "https://nonexistent.invalid/moved");
            v.push_back(Make("Redirect" + std::to_string(status) + (followed ? "Followed" : "Stored"),
                             {"FaceBookToken", {"https://graph.facebook.com/r", "$OUT"}}, {moved},
                             FetchRequest(kGraphHost, "/r"), followed ? VFB_ERR_OPEN : VFB_DONE,
                             followed ? FileExpect::Untouched() : FileExpect::Content(body)));
        }
        // Followed to the service itself: the hop's request is where the
        // Location leads (resolved against the current URL, no fragment).
        const auto redirect = [](int status, const std::string &location) {
            Response r = Response::Status(status, "moved");
            r.WithHeader("Location", location);
            return r;
        };
        const auto followed = [&](std::string name, int status, const std::string &url, const std::string &location,
                                  const std::string &host, const std::string &target, const std::string &hop) {
            Row r = Make(std::move(name), {"FaceBookToken", {url, "$OUT"}},
                         {redirect(status, location), Response::Ok("arrived")}, FetchRequest(kGraphHost, target),
                         VFB_DONE, FileExpect::Content("arrived"));
            r.followUps = {FetchRequest(host, hop)};
            return r;
        };
        for (int status : {301, 302, 303, 307})
            v.push_back(followed("Redirect" + std::to_string(status) + "ToTheService", status,
                                 "https://graph.facebook.com/r?a=1", "/hop?s=" + std::to_string(status), kGraphHost,
                                 "/r?a=1", "/hop?s=" + std::to_string(status)));
        v.push_back(followed("RedirectToAQueryAlone", 302, "https://graph.facebook.com/dir/list?page=1", "?page=2",
                             kGraphHost, "/dir/list?page=1", "/dir/list?page=2"));
        v.push_back(followed("RedirectFragmentNeverSent", 302, "https://graph.facebook.com/dir/s",
                             "/frag/t?x=1#section", kGraphHost, "/dir/s", "/frag/t?x=1"));
        v.push_back(followed("RedirectRelativePath", 302, "https://graph.facebook.com/dir/s?x=1",
                             "next/../other/./page", kGraphHost, "/dir/s?x=1", "/dir/other/page"));
        v.push_back(followed("RedirectSchemeRelative", 301, "https://graph.facebook.com/s", "//api.facebook.com/sr",
                             kRestHost, "/s", "/sr"));
        // Never followed: the call fails with 2 after the one request.
        for (const auto &refused : std::vector<std::pair<std::string, std::string>>{
                 {"RedirectToHttpRefused", "http://graph.facebook.com/plain"},
                 {"RedirectToAUserNameRefused", "https://user@graph.facebook.com/u"},
                 {"RedirectToAPasswordRefused", "//user:pw@api.facebook.com/u"},
                 {"RedirectHostAtOtherRefused", "https://graph.facebook.com@api.facebook.com/u"},
                 {"RedirectToFtpRefused", "ftp://graph.facebook.com/f"}})
            v.push_back(Make(refused.first, {"FaceBookToken", {"https://graph.facebook.com/s", "$OUT"}},
                             {redirect(302, refused.second)}, FetchRequest(kGraphHost, "/s"), VFB_ERR_OPEN,
                             FileExpect::Untouched()));
        v.push_back(Make("RedirectWithoutLocationIsTheAnswer",
                         {"FaceBookToken", {"https://graph.facebook.com/s", "$OUT"}},
                         {Response::Status(302, "no location")}, FetchRequest(kGraphHost, "/s"), VFB_DONE,
                         FileExpect::Content("no location")));
        // Ten hops are followed; an eleventh redirect fails the call.
        for (int redirects : {10, 11}) {
            std::vector<Response> script;
            std::vector<ExpectedRequest> hops;
            for (int i = 1; i <= redirects; ++i) {
                script.push_back(redirect(302, "/chain/" + std::to_string(i)));
                if (i <= 10) hops.push_back(FetchRequest(kGraphHost, "/chain/" + std::to_string(i)));
            }
            script.push_back(Response::Ok("end of the chain"));
            Row r = Make(redirects == 10 ? "TenRedirectsFollowed" : "EleventhRedirectFails",
                         {"FaceBookToken", {"https://graph.facebook.com/chain/0", "$OUT"}}, script,
                         FetchRequest(kGraphHost, "/chain/0"), redirects == 10 ? VFB_DONE : VFB_ERR_OPEN,
                         redirects == 10 ? FileExpect::Content("end of the chain") : FileExpect::Untouched());
            r.followUps = hops;
            v.push_back(r);
        }
        {
            // Bytes past the declared length are no part of the answer.
            Response r = Response::Ok("helloEXTRA BYTES");
            r.WithHeader("Content-Length", "5");
            v.push_back(Make("BytesPastContentLengthNeverStored",
                             {"FaceBookToken", {"https://graph.facebook.com/o", "$OUT"}}, {r},
                             FetchRequest(kGraphHost, "/o"), VFB_DONE, FileExpect::Content("hello")));
        }
        v.push_back(NoRequest(
            Make("UntrustedCertificate", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}},
                 {Response::Cert("untrusted")}, {}, VFB_ERR_OPEN, FileExpect::Untouched())));
        v.push_back(NoRequest(
            Make("WrongHostCertificate", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}},
                 {Response::Cert("wrong_host")}, {}, VFB_ERR_OPEN, FileExpect::Untouched())));
        v.push_back(NoRequest(
            Make("HandshakeAborted", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}},
                 {Response::Fault("\"abort_handshake\"")}, {}, VFB_ERR_OPEN, FileExpect::Untouched())));
        {
            Row r =
                Make("MissingOutputFolder",
                     {"FaceBookToken", {"https://graph.facebook.com/me", "$DIR/missing/out.bin"}},
                     {Response::Ok("body")}, FetchRequest(kGraphHost, "/me"), VFB_DONE, FileExpect::Absent());
            r.precreate = false;
            v.push_back(r);
        }
        return v;
    }();
    return rows;
}

const std::vector<Row> &NotesRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> v;
        const std::string answer = "{\"note_id\":\"4711\"}";
        // Texts pass the encoding table; identifiers and the token go raw.
        v.push_back(Make(
            "Create", {"FaceBookNotes", {"My note & more", kToken, "u&1=2", "line1\r\nline2 50%!", "$OUT"}},
            {Response::Ok(answer)},
            FetchRequest(kRestHost, std::string("/method/notes.create?uid=u&1=2&title=My%20note%20%26%20more"
                                                "&content=line1%0D%0Aline2%2050%25%21&access_token=") +
                                        kToken),
            VFB_DONE, FileExpect::Content(answer)));
        // uid, the fifth argument, goes second in the query.
        v.push_back(Make(
            "EditUidSecond", {"FaceBookNotesEdit", {"New title", kToken, "4711", "a=b;c", "100", "$OUT"}},
            {Response::Ok("true")},
            FetchRequest(kRestHost, std::string("/method/notes.edit?note_id=4711&uid=100&title=New%20title"
                                                "&content=a%3Db%3Bc&access_token=") +
                                        kToken),
            VFB_DONE, FileExpect::Content("true")));
        v.push_back(Make("ViewOwnerUnderscoreNote", {"FaceBookNotesView", {kToken, "100", "200", "$OUT"}},
                         {Response::Ok("{\"id\":\"100_200\",\"subject\":\"x\"}")},
                         FetchRequest(kGraphHost, std::string("/100_200?access_token=") + kToken), VFB_DONE,
                         FileExpect::Content("{\"id\":\"100_200\",\"subject\":\"x\"}")));
        // A number sign would start the URL's fragment and cut off the rest of the query.
        v.push_back(
            Make("NumberSignKeepsTheWholeQuery", {"FaceBookNotes", {"C# tips", "T", "u#1", "#1", "$OUT"}},
                 {Response::Ok("{}")},
                 FetchRequest(kRestHost,
                              "/method/notes.create?uid=u%231&title=C%23%20tips&content=%231&access_token=T"),
                 VFB_DONE, FileExpect::Content("{}")));
        v.push_back(Make(
            "Delete", {"FaceBookNotesDelete", {kToken, "4711", "100", "$OUT"}}, {Response::Ok("true")},
            FetchRequest(kRestHost,
                         std::string("/method/notes.delete?note_id=4711&uid=100&access_token=") + kToken),
            VFB_DONE, FileExpect::Content("true")));
        v.push_back(Make("CreateEmptyTexts", {"FaceBookNotes", {"", "T", "1", "", "$OUT"}},
                         {Response::Ok("{}")},
                         FetchRequest(kRestHost, "/method/notes.create?uid=1&title=&content=&access_token=T"),
                         VFB_DONE, FileExpect::Content("{}")));
        v.push_back(
            Make("CreateErrorStored", {"FaceBookNotes", {"t", "bad", "1", "c", "$OUT"}},
                 {Response::Status(400, "{\"error_code\":190}")},
                 FetchRequest(kRestHost, "/method/notes.create?uid=1&title=t&content=c&access_token=bad"),
                 VFB_DONE, FileExpect::Content("{\"error_code\":190}")));
        // A fetch that fails is reported as such (never as 999 beside an earlier file), and writes nothing.
        {
            Row r = NoRequest(Make("ViewUntrustedGivesTheFetchResult",
                                   {"FaceBookNotesView", {"T", "1", "2", "$OUT"}},
                                   {Response::Cert("untrusted")}, {}, VFB_ERR_OPEN, FileExpect::Untouched()));
            v.push_back(r);
        }
        return v;
    }();
    return rows;
}

const std::vector<Row> &FormPostRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> v;
        const std::string answer = "{\"id\":\"100_5001\"}";
        auto post = [&](std::string name, const char *fn, std::string text, std::string target,
                        const char *type, const char *verb = "POST") {
            v.push_back(Make(std::move(name), {fn, {std::move(text), kToken, "100", "extra", "$OUT"}},
                             {Response::Ok(answer)}, FormRequest(verb, target, type), VFB_DONE,
                             FileExpect::Content(answer)));
        };
        const std::string t = std::string("access_token=") + kToken;
        post("StatusRequest", "FaceBookStatus", "Hello World", "/100/feed?" + t + "&message=Hello%20World",
             kFormTypeCharset);
        // The coordinates' spaces cannot stand raw in a request line: %20, as every stack sends them.
        post("CheckInRequest", "FaceBookCheckIn", "At the lake",
             "/100/checkins?" + t +
                 "&message=At%20the%20lake&place=Vantrel&coordinates="
                 "{\"latitude\":\"43.24022\",%20\"longitude\":%20\"-79.8533\"}",
             kFormType);
        post("EventsRequest", "FaceBookEvents", "Launch party",
             "/100/events?" + t + "&name=Launch%20party&start_time=1272718027", kFormType);
        v.push_back(Make("DeleteRequest",
                         {"FaceBookDelete", {"ignored & text", kToken, "100_200", "more {x}", "$OUT"}},
                         {Response::Ok("true")}, FormRequest("DELETE", "/100_200?" + t, kFormTypeCharset),
                         VFB_DONE, FileExpect::Content("true")));
        // The encoding table as it reaches the wire.
        post("MessageAmpPlusCrLf", "FaceBookStatus", "fish & chips + peas\r\nline 2",
             "/100/feed?" + t + "&message=fish%20%26%20chips%20%2B%20peas%0D%0Aline%202", kFormTypeCharset);
        post("MessageSpecExample", "FaceBookStatus", "a b&c=d", "/100/feed?" + t + "&message=a%20b%26c%3Dd",
             kFormTypeCharset);
        post("MessageBracesAddParameter", "FaceBookStatus", "Hi{x}y z",
             "/100/feed?" + t + "&message=Hi&x=y%20z", kFormTypeCharset);
        post("MessageWholeTable", "FaceBookStatus", "\n\r !$%&'()*+,/:;=?@{}",
             "/100/feed?" + t + "&message=%0A%0D%20%21%24%25%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40&=",
             kFormTypeCharset);
        post("MessageUnreservedUnchanged", "FaceBookStatus", "AZaz09-._~",
             "/100/feed?" + t + "&message=AZaz09-._~", kFormTypeCharset);
        post("MessageEmpty", "FaceBookStatus", "", "/100/feed?" + t + "&message=", kFormTypeCharset);
        post("CheckInMessageEncoded", "FaceBookCheckIn", "a&b",
             "/100/checkins?" + t +
                 "&message=a%26b&place=Vantrel&coordinates="
                 "{\"latitude\":\"43.24022\",%20\"longitude\":%20\"-79.8533\"}",
             kFormType);
        post("EventsNameEncoded", "FaceBookEvents", "50% off!",
             "/100/events?" + t + "&name=50%25%20off%21&start_time=1272718027", kFormType);
        return v;
    }();
    return rows;
}

const std::vector<Row> &FormPostCaptureRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> v;
        for (const auto &fp : kFormPosts) {
            std::string p = std::string(fp.fn).substr(8);  // without "FaceBook"
            Call call{fp.fn, {"text", "TOKEN", "100", "", "$OUT"}};
            ExpectedRequest any = AnyRequest(fp.verb, kGraphHost);
            auto add = [&](const std::string &what, std::vector<Response> script, int result, FileExpect file,
                           bool request = true) {
                Row r = Make(p + "_" + what, call, std::move(script), any, result, std::move(file));
                r.expectRequest = request;
                v.push_back(r);
            };
            add("Body1998Stored", {Response::Ok(Filler(1998))}, VFB_DONE, FileExpect::Content(Filler(1998)));
            add("Body1999TooLarge", {Response::Ok(Filler(1999))}, VFB_ERR_TOO_LARGE, FileExpect::Untouched());
            add("Body2000TooLarge", {Response::Ok(Filler(2000))}, VFB_ERR_TOO_LARGE, FileExpect::Untouched());
            add("Body1MiBTooLarge", {Response::Generated(1 << 20, 3)}, VFB_ERR_TOO_LARGE,
                FileExpect::Untouched());
            add("EmptyBodyEmptyFile", {Response::Ok("")}, VFB_DONE, FileExpect::Content(""));
            add("ErrorStatusStored", {Response::Status(403, "{\"error\":{\"code\":200}}")}, VFB_DONE,
                FileExpect::Content("{\"error\":{\"code\":200}}"));
            add("UntrustedCertificate", {Response::Cert("untrusted")}, VFB_ERR_SEND, FileExpect::Untouched(),
                false);
            add("WrongHostCertificate", {Response::Cert("wrong_host")}, VFB_ERR_SEND, FileExpect::Untouched(),
                false);
            add("CloseMidBody", {Response::Ok(Filler(1000)).WithFault("\"close_mid_body\"")}, VFB_ERR_READ,
                FileExpect::Untouched());
            add("ResetMidBody",
                {Response::Ok(Filler(1000))
                     .WithFault("{\"type\": \"reset\", \"stage\": \"during_response_body\", \"after_bytes\": "
                                "300, \"delay\": 0.3}")},
                VFB_ERR_READ, FileExpect::Untouched());
            Row missing = Make(p + "_MissingOutputFolder",
                               {fp.fn, {"text", "TOKEN", "100", "", "$DIR/missing/out.bin"}},
                               {Response::Ok("{}")}, any, VFB_DONE, FileExpect::Absent());
            missing.precreate = false;
            v.push_back(missing);
        }
        return v;
    }();
    return rows;
}

const std::vector<Row> &UnreachableRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> v;
        // With the service running, the connection is reset before TLS; with
        // --no-service nothing listens. Either way no request arrives.
        std::vector<Response> refuse(4, Response::Refuse());
        auto add = [&](std::string name, Call call, int result, FileExpect file, bool precreate = true) {
            Row r = NoRequest(Make(std::move(name), std::move(call), refuse, {}, result, std::move(file)));
            r.precreate = precreate;
            v.push_back(r);
        };
        add("Fetch", {"FaceBookToken", {"https://graph.facebook.com/me", "$OUT"}}, VFB_ERR_OPEN,
            FileExpect::Untouched());
        add("FetchUnresolvableHost", {"FaceBookToken", {"https://nonexistent.invalid/", "$OUT"}},
            VFB_ERR_OPEN, FileExpect::Untouched());
        // The notes operations return their fetch's result, and write no file.
        add("Notes", {"FaceBookNotes", {"t", "T", "1", "c", "$OUT"}}, VFB_ERR_OPEN, FileExpect::Absent(),
            false);
        add("NotesEdit", {"FaceBookNotesEdit", {"t", "T", "2", "c", "1", "$OUT"}}, VFB_ERR_OPEN,
            FileExpect::Absent(), false);
        add("NotesView", {"FaceBookNotesView", {"T", "1", "2", "$OUT"}}, VFB_ERR_OPEN, FileExpect::Absent(),
            false);
        add("NotesDelete", {"FaceBookNotesDelete", {"T", "2", "1", "$OUT"}}, VFB_ERR_OPEN,
            FileExpect::Absent(), false);
        for (const auto &fp : kFormPosts)
            add(std::string(fp.fn).substr(8), {fp.fn, {"m", "T", "100", "", "$OUT"}}, VFB_ERR_SEND,
                FileExpect::Untouched());
        add("PictureUpload", {"FaceBookPictureUpload", {"$MEDIA", "100", "m", "T", "$OUT"}}, VFB_ERR_START,
            FileExpect::Untouched());
        add("VideoUpload", {"FaceBookVideoUpload", {"$MEDIA", "100", "t", "T", "$OUT"}}, VFB_ERR_START,
            FileExpect::Untouched());
        // A file of 2 GiB or more is as good as a small one up to 4 GiB - 1 byte, on
        // 32-bit systems too: its size is read and the upload goes on to connect.
        add("PictureUploadOf3GiB", {"FaceBookPictureUpload", {"$MEDIA", "100", "m", "T", "$OUT"}},
            VFB_ERR_START, FileExpect::Untouched());
        v.back().mediaSize = 3ull << 30;
        return v;
    }();
    return rows;
}

// ------------------------------------------------------------------ checks

void CheckRequest(const RecordedRequest &got, const ExpectedRequest &want) {
    SCOPED_TRACE("request #" + std::to_string(got.index) + ":\n" + got.HeaderText());
    EXPECT_EQ(got.method, want.method);
    if (!want.target.empty()) {
        EXPECT_EQ(got.target, want.target) << "request target";
    }
    EXPECT_EQ(got.version, want.version);
    if (!want.host.empty()) {
        EXPECT_EQ(got.sni, want.host) << "TLS server name";
        auto hosts = got.Values("Host");
        EXPECT_EQ(hosts.size(), 1u) << "Host header lines";
        if (!hosts.empty()) {
            EXPECT_TRUE(hosts[0] == want.host || hosts[0] == want.host + ":443") << hosts[0];
        }
    }
    for (const auto &h : want.exact) {
        auto values = got.Values(h.first);
        EXPECT_EQ(values.size(), 1u) << "header " << h.first << " must appear exactly once";
        if (!values.empty()) {
            EXPECT_EQ(values[0], h.second) << "header " << h.first;
        }
    }
    for (const auto &h : want.optional) {
        auto values = got.Values(h.first);
        EXPECT_LE(values.size(), 1u) << "header " << h.first;
        if (!values.empty() && !h.second.empty()) {
            EXPECT_EQ(values[0], h.second) << "header " << h.first;
        }
    }
    if (want.strict) {
        for (const auto &h : got.headers) {
            std::string n = Lower(h.first);
            bool known = n == "host" || n == "connection" || n == "cache-control" || n == "pragma";
            for (const auto &e : want.exact) known = known || Lower(e.first) == n;
            for (const auto &e : want.optional) known = known || Lower(e.first) == n;
            EXPECT_TRUE(known) << "unexpected header line: " << h.first << ": " << h.second;
        }
    }
    if (want.emptyBody) {
        EXPECT_EQ(got.body.size(), 0u) << "body: " << Printable(got.body);
        EXPECT_TRUE(got.Values("Transfer-Encoding").empty()) << "no chunked body expected";
    }
}

void CheckFile(const std::string &path, const FileExpect &want) {
    std::string bytes;
    bool exists = FileExists(path) && ReadFile(path, &bytes);
    switch (want.kind) {
        case FileExpect::kAbsent:
            EXPECT_FALSE(FileExists(path)) << path << " must not exist; holds " << Printable(bytes);
            break;
        case FileExpect::kUntouched:
            ASSERT_TRUE(exists) << path << " was removed";
            EXPECT_EQ(bytes, kPrevious) << path << " was changed to " << Printable(bytes);
            break;
        case FileExpect::kContent:
            ASSERT_TRUE(exists) << path << " was not written";
            EXPECT_EQ(bytes.size(), want.content.size()) << path;
            EXPECT_TRUE(bytes == want.content)
                << path << " holds " << Printable(bytes) << "\nexpected " << Printable(want.content);
            break;
    }
}

void RowTest::RunRow(const Row &row) {
    if (ServiceRunning()) WriteScript(row.script);
    std::string out;
    for (const auto &a : row.call.args)
        if (a == "$OUT" || a.compare(0, 5, "$DIR/") == 0) out = Substitute(a);
    for (const auto &a : row.call.args)
        if (a == "$MEDIA") {
            ASSERT_TRUE(WriteFile(Media(), "\xFF\xD8\xFF\xE0 not really a JPEG"));
            if (row.mediaSize > 0) {
                ASSERT_TRUE(ResizeFile(Media(), row.mediaSize)) << Media();
            }
        }
    if (row.precreate && !out.empty()) {
        ASSERT_TRUE(WriteFile(out, kPrevious));
    }

    CallResult got = Invoke(row.call);
    EXPECT_EQ(got.code, row.result) << row.call.fn << ": " << vfb_result_meaning(got.code, nullptr);

    if (row.expectRequest) {
        const std::size_t count = 1 + row.followUps.size();
        auto requests = WaitForRequests(count);
        SleepMs(50);  // a further request (a retry) would show by now
        requests = Requests();
        ASSERT_EQ(requests.size(), count) << "requests recorded";
        CheckRequest(requests[0], row.request);
        for (std::size_t i = 0; i < row.followUps.size(); ++i) {
            SCOPED_TRACE("request " + std::to_string(i + 2));
            CheckRequest(requests[i + 1], row.followUps[i]);
        }
    } else if (ServiceRunning()) {
        EXPECT_EQ(Requests().size(), 0u) << "no request may reach the service";
    }
    if (!out.empty()) CheckFile(out, row.file);
}

}  // namespace e2e
