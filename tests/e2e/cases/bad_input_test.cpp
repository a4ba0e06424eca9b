// Hostile and malformed arguments: null pointers, line breaks, controls,
// non-ASCII and unpaired surrogates, and lengths at and just past every
// limit. Nothing a caller passes may split the request line, add a header
// line, or reach the wire when the call refuses it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "rows.h"
#include "text/utf.h"

namespace e2e {
namespace {

// The sign-in takes no arguments, so no input of an application can reach it.
const std::vector<Export> &Exports() {
    static const std::vector<Export> withArguments = [] {
        std::vector<Export> v;
        for (const Export &e : AllExports())
            if (e.family != Family::kSignIn) v.push_back(e);
        return v;
    }();
    return withArguments;
}

const Export &Find(const std::string &fn) {
    for (const auto &e : Exports())
        if (fn == e.fn) return e;
    return Exports().front();
}

bool IsFile(const std::string &arg) { return arg == "$OUT" || arg == "$MEDIA"; }

// ------------------------------------------------------------------ the expected wire form

// What the library receives for an argument: the text up to its first NUL.
WString WideArg(const std::string &arg) {
    if (arg == "$NULL") return WString();
    WString w = Widen(arg);
    std::size_t nul = w.find(VFB_WCHAR(0));
    return nul == WString::npos ? w : w.substr(0, nul);
}

// UTF-8, an unpaired surrogate standing as U+FFFD: a wire form that any
// reader can decode, whatever the caller passed.
std::string Utf8(const WString &w) { return vfb::utf::ToUtf8(std::basic_string_view<VFB_WCHAR>(w)); }

std::string Percent(unsigned char c) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%%%02X", c);
    return buf;
}

// The service's query encoding of a user text, non-ASCII as UTF-8 %XX.
std::string QueryText(const std::string &utf8) {
    static const std::string table = "\n\r !$%&'()*+,/:;=?@";
    std::string out;
    for (unsigned char c : utf8) {
        if (c == '{')
            out += '&';
        else if (c == '}')
            out += '=';
        else if (c >= 0x80 || table.find(static_cast<char>(c)) != std::string::npos)
            out += Percent(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

// A request target as it may stand in a request line: controls, space,
// DEL, non-ASCII and backslash as %XX, and no "." or ".." path segment
// left for anyone to resolve.
std::string WireTarget(const std::string &target) {
    const std::size_t pathEnd = std::min(target.find('?'), target.size());
    std::string out;
    std::size_t segment = 0;
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (i < pathEnd && i == segment) {
            std::size_t end = std::min(target.find('/', i), pathEnd);
            std::string s = target.substr(i, end - i);
            if (s == "." || s == "..") {
                for (std::size_t k = 0; k < s.size(); ++k) out += "%2E";
                i = end - 1;
                continue;
            }
        }
        unsigned char c = static_cast<unsigned char>(target[i]);
        if (c == '/' && i < pathEnd) segment = i + 1;
        out += (c <= 0x20 || c >= 0x7F || c == '\\') ? Percent(c) : std::string(1, static_cast<char>(c));
    }
    return out;
}

// A path or URL built from a template, in the library's units (UTF-16 for
// identifiers, one unit per byte of an encoded text) and in bytes.
struct Built {
    std::string bytes;
    std::size_t units = 0;
    void Literal(const std::string &ascii) {
        bytes += ascii;
        units += ascii.size();
    }
    void Id(const std::string &arg) {
        WString w = WideArg(arg);
        bytes += Utf8(w);
        units += w.size();
    }
    void Text(const std::string &arg) {
        std::string q = QueryText(Utf8(WideArg(arg)));
        bytes += q;
        units += q.size();
    }
};

struct Expected {
    std::string method, host;
    Built path;  // the notes: the whole URL
    std::string target;
    std::vector<std::string> headers;  // lower case, sorted
    std::string closing;               // uploads: the closing part, with "B" for the boundary
};

const char *const kCheckInTail =
    "&place=Vantrel&coordinates={\"latitude\":\"43.24022\", \"longitude\": \"-79.8533\"}";

Expected Expect(const std::string &fn, const std::vector<std::string> &a) {
    Expected x;
    Built &p = x.path;
    std::string prefix;  // of a notes URL
    const Family family = Find(fn).family;
    if (fn == "FaceBookToken") {
        x.method = "GET";
        x.host = kGraphHost;
        const std::string url = Utf8(WideArg(a[0]));
        const std::string origin = std::string("https://") + kGraphHost;
        p.Literal(url.compare(0, origin.size(), origin) == 0 ? url.substr(origin.size()) : url);
    } else if (fn == "FaceBookStatus" || fn == "FaceBookCheckIn" || fn == "FaceBookEvents") {
        x.method = "POST";
        x.host = kGraphHost;
        p.Literal("/"), p.Id(a[2]);
        p.Literal(fn == "FaceBookStatus" ? "/feed" : fn == "FaceBookCheckIn" ? "/checkins" : "/events");
        p.Literal("?access_token="), p.Id(a[1]);
        p.Literal(fn == "FaceBookEvents" ? "&name=" : "&message="), p.Text(a[0]);
        if (fn == "FaceBookCheckIn") p.Literal(kCheckInTail);
        if (fn == "FaceBookEvents") p.Literal("&start_time=1272718027");
    } else if (fn == "FaceBookDelete") {
        x.method = "DELETE";
        x.host = kGraphHost;
        p.Literal("/"), p.Id(a[2]), p.Literal("?access_token="), p.Id(a[1]);
    } else if (fn == "FaceBookNotes") {
        x.method = "GET";
        x.host = kRestHost;
        p.Literal(prefix = std::string("https://") + kRestHost);
        p.Literal("/method/notes.create?uid="), p.Id(a[2]), p.Literal("&title="), p.Text(a[0]);
        p.Literal("&content="), p.Text(a[3]), p.Literal("&access_token="), p.Id(a[1]);
    } else if (fn == "FaceBookNotesEdit") {
        x.method = "GET";
        x.host = kRestHost;
        p.Literal(prefix = std::string("https://") + kRestHost);
        p.Literal("/method/notes.edit?note_id="), p.Id(a[2]), p.Literal("&uid="), p.Id(a[4]);
        p.Literal("&title="), p.Text(a[0]), p.Literal("&content="), p.Text(a[3]);
        p.Literal("&access_token="), p.Id(a[1]);
    } else if (fn == "FaceBookNotesView") {
        x.method = "GET";
        x.host = kGraphHost;
        p.Literal(prefix = std::string("https://") + kGraphHost);
        p.Literal("/"), p.Id(a[1]), p.Literal("_"), p.Id(a[2]), p.Literal("?access_token="), p.Id(a[0]);
    } else if (fn == "FaceBookNotesDelete") {
        x.method = "GET";
        x.host = kRestHost;
        p.Literal(prefix = std::string("https://") + kRestHost);
        p.Literal("/method/notes.delete?note_id="), p.Id(a[1]), p.Literal("&uid="), p.Id(a[2]);
        p.Literal("&access_token="), p.Id(a[0]);
    } else if (fn == "FaceBookPictureUpload") {
        x.method = "POST";
        x.host = kGraphHost;
        p.Literal("/"), p.Id(a[1]), p.Literal("/photos?access_token="), p.Id(a[3]);
        x.closing = "\r\n--B\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n" +
                    Utf8(WideArg(a[2])) + "\r\n--B--\r\n";
    } else if (fn == "FaceBookVideoUpload") {
        x.method = "POST";
        x.host = kVideoHost;
        p.Literal("/"), p.Id(a[1]), p.Literal("/videos");
        x.closing = "\r\n--B\r\nContent-Disposition: form-data; name=\"access_token\"\r\n\r\n" +
                    Utf8(WideArg(a[3])) +
                    "\r\n--B\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n" +
                    Utf8(WideArg(a[2])) + "\r\n--B--\r\n";
    }
    x.target = WireTarget(p.bytes.substr(prefix.size()));
    if (family == Family::kFetch || family == Family::kNotes)
        x.headers = {"accept", "host", "user-agent"};
    else
        x.headers = {"accept", "content-length", "content-type", "host", "user-agent"};
    return x;
}

// The closing part with the real boundary in place of "B".
std::string WithBoundary(const std::string &closing, const std::string &boundary) {
    std::string out;
    for (std::size_t i = 0; i < closing.size(); ++i) {
        bool marker = closing.compare(i, 3, "--B") == 0 &&
                      (i + 3 == closing.size() || closing[i + 3] == '\r' || closing[i + 3] == '-');
        if (marker) {
            out += "--" + boundary;
            i += 2;
        } else {
            out += closing[i];
        }
    }
    return out;
}

// The request's head holds nothing a caller's text could have added: one
// request line of exactly three fields, printable ASCII in its target, only
// CR LF line ends, and exactly the expected header names, each once.
void CheckHead(const RecordedRequest &r, const Expected &want) {
    SCOPED_TRACE("request: " + Printable(r.raw, 600));
    const std::size_t headEnd = r.raw.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    const std::string head = r.raw.substr(0, headEnd + 2);
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\r') {
            EXPECT_TRUE(i + 1 < head.size() && head[i + 1] == '\n') << "a bare CR at " << i;
        }
        if (head[i] == '\n') {
            EXPECT_TRUE(i > 0 && head[i - 1] == '\r') << "a bare LF at " << i;
        }
    }
    EXPECT_EQ(std::count(r.requestLine.begin(), r.requestLine.end(), ' '), 2) << r.requestLine;
    for (unsigned char c : r.target) {
        EXPECT_TRUE(c > 0x20 && c < 0x7F) << "raw byte " << Percent(c) << " in the request target";
    }
    EXPECT_EQ(r.method, want.method);
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.target, want.target);
    EXPECT_EQ(r.sni, want.host);
    EXPECT_EQ(r.Value("Host"), want.host);
    std::vector<std::string> names;
    for (const auto &h : r.headers) {
        std::string n = h.first;
        for (char &c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, want.headers) << "header lines";
}

void CheckUploadBody(const RecordedRequest &r, const Expected &want) {
    const std::string prefix = "multipart/form-data; boundary=";
    const std::string type = r.Value("Content-Type");
    ASSERT_EQ(type.compare(0, prefix.size(), prefix), 0) << type;
    const std::string closing = WithBoundary(want.closing, type.substr(prefix.size()));
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.Value("Content-Length"), std::to_string(r.body.size()));
    ASSERT_GE(r.body.size(), closing.size());
    EXPECT_EQ(r.body.substr(r.body.size() - closing.size()), closing)
        << Printable(r.body.substr(r.body.size() - closing.size()));
}

// ------------------------------------------------------------------ rows

struct InputRow {
    std::string name;
    std::string fn;
    std::vector<std::string> args;  // "$NULL" passes a null pointer
    bool sent = true;               // false: refused before any network step
    int result = VFB_DONE;
    bool writesOutput = true;  // false: the output path is null or empty
    // A refusal's detail: the limit broken (0: not checked) and the argument's
    // position (1 = first; 0: not checked).
    unsigned limit = 0;
    int argument = 0;
};

void PrintTo(const InputRow &row, std::ostream *os) { *os << row.name; }

struct InputRowName {
    std::string operator()(const ::testing::TestParamInfo<InputRow> &info) const { return info.param.name; }
};

int RefusalCode(Family f) { return f == Family::kUpload ? VFB_ERR_START : VFB_ERR_OPEN; }

// A null pointer in each argument, and an empty output path.
std::vector<InputRow> NullRows() {
    std::vector<InputRow> v;
    for (const Export &e : Exports()) {
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            InputRow r;
            r.name = Short(e.fn) + "_NullArgument" + std::to_string(i + 1);
            r.fn = e.fn;
            r.args = e.args;
            r.args[i] = "$NULL";
            if (e.args[i] == "$OUT") r.writesOutput = false;
            if (e.args[i] == "$MEDIA") {
                r.sent = false;
                r.result = VFB_ERR_OPEN_ROOT_OR_MEDIA;
            }
            if (e.family == Family::kFetch && i == 0) {
                r.sent = false;
                r.result = VFB_ERR_OPEN;
            }
            v.push_back(r);
            if (e.args[i] == "$OUT") {
                r.name = Short(e.fn) + "_EmptyOutputPath";
                r.args[i] = "";
                v.push_back(r);
            }
        }
    }
    return v;
}

struct Hostile {
    const char *name;
    std::string value;
};

// Values that could split a request line, add a header line or confuse a
// decoder if any of them reached the wire raw.
const std::vector<Hostile> &HostileValues() {
    static const std::vector<Hostile> values = {
        {"CrLfHeader", "a\r\nX-Injected: yes"},
        {"LfHeader", "a\nX-Injected: yes"},
        {"CrHeader", "a\rX-Injected: yes"},
        {"SpaceAndVersion", "a HTTP/1.1\r\nHost: evil.example\r\n\r\nGET /smuggled"},
        {"Controls", "\x01\x02\x1F\x7F\ta"},
        {"TextBeforeNul", std::string("ab\0\r\nX-Injected: yes", 20)},
        {"Latin", "caf\xC3\xA9"},
        {"Cjk", "\xE6\xBC\xA2\xE5\xAD\x97"},
        {"Emoji", "\xF0\x9F\x98\x80"},
        {"UnpairedHigh", "a\xED\xA0\x80z"},  // U+D800 alone, as a wide unit
        {"UnpairedLow", "\xED\xB0\x80z"},    // U+DC00 alone
        {"SwappedPair", "\xED\xB8\x80\xED\xA0\xBD"},
        {"DotSegment", ".."},
        {"QuotesAndBackslash", "\"<a\\b>`|^"},
    };
    return values;
}

std::vector<InputRow> HostileRows() {
    std::vector<InputRow> v;
    for (const Export &e : Exports()) {
        for (const Hostile &h : HostileValues()) {
            InputRow r;
            r.name = Short(e.fn) + "_" + h.name;
            r.fn = e.fn;
            r.args = e.args;
            if (e.family == Family::kFetch) {
                if (std::string(h.name) == "DotSegment") {
                    r.args[0] = "https://graph.facebook.com/../bad";
                } else {
                    r.args[0] = "https://graph.facebook.com/bad?v=" + h.value;
                }
            } else {
                for (auto &a : r.args)
                    if (!IsFile(a)) a = h.value;
            }
            v.push_back(r);
        }
    }
    return v;
}

// Lengths at and just past each limit: an encoded text of 999 bytes, a path
// or URL of 1999 units, an upload's closing part of 999 bytes.
std::vector<InputRow> LimitRows() {
    std::vector<InputRow> v;
    auto add = [&](const std::string &name, const Export &e, std::vector<std::string> args, bool fits,
                   unsigned limit = 0, int argument = 0) {
        InputRow r;
        r.name = Short(e.fn) + "_" + name + (fits ? "_Fits" : "_Refused");
        r.fn = e.fn;
        r.args = std::move(args);
        r.sent = fits;
        r.result = fits ? VFB_DONE : RefusalCode(e.family);
        r.limit = fits ? 0 : limit;
        r.argument = fits ? 0 : argument;
        v.push_back(r);
    };

    // Texts that are query-encoded: 999 encoded bytes, however they grow.
    struct TextArg {
        const char *fn;
        std::size_t index;
        const char *what;
    };
    const TextArg texts[] = {{"FaceBookStatus", 0, "Message"},   {"FaceBookCheckIn", 0, "Message"},
                             {"FaceBookEvents", 0, "Name"},      {"FaceBookNotes", 0, "Title"},
                             {"FaceBookNotes", 3, "Content"},    {"FaceBookNotesEdit", 0, "Title"},
                             {"FaceBookNotesEdit", 3, "Content"}};
    const std::string e9 = "\xC3\xA9";  // é: 2 bytes, 6 encoded
    std::string accents;
    for (int i = 0; i < 166; ++i) accents += e9;
    for (const TextArg &t : texts) {
        const Export &e = Find(t.fn);
        auto with = [&](std::string text) {
            auto a = e.args;
            a[t.index] = std::move(text);
            return a;
        };
        const std::string what = t.what;
        const int position = static_cast<int>(t.index) + 1;
        add(what + "Of999Bytes", e, with(std::string(999, 'a')), true);
        add(what + "Of1000Bytes", e, with(std::string(1000, 'a')), false, 999, position);
        add(what + "Of333SpacesEncoded999", e, with(std::string(333, ' ')), true);
        add(what + "Of333SpacesAndOneEncoded1000", e, with(std::string(333, ' ') + "a"), false, 999,
            position);
        add(what + "OfAccentsEncoded999", e, with(accents + "abc"), true);
        add(what + "OfAccentsEncoded1000", e, with(accents + "abcd"), false, 999, position);
    }

    // A path or URL of 1999 units, filled up by one identifier or the token.
    struct IdArg {
        const char *fn;
        std::size_t index;
        const char *what;
    };
    const IdArg ids[] = {
        {"FaceBookStatus", 2, "Target"},
        {"FaceBookStatus", 1, "Token"},
        {"FaceBookCheckIn", 2, "Target"},
        {"FaceBookCheckIn", 1, "Token"},
        {"FaceBookEvents", 2, "Target"},
        {"FaceBookEvents", 1, "Token"},
        {"FaceBookDelete", 2, "Object"},
        {"FaceBookDelete", 1, "Token"},
        {"FaceBookNotes", 2, "Uid"},
        {"FaceBookNotes", 1, "Token"},
        {"FaceBookNotesEdit", 2, "NoteId"},
        {"FaceBookNotesEdit", 4, "Uid"},
        {"FaceBookNotesEdit", 1, "Token"},
        {"FaceBookNotesView", 1, "Owner"},
        {"FaceBookNotesView", 2, "NoteId"},
        {"FaceBookNotesView", 0, "Token"},
        {"FaceBookNotesDelete", 1, "NoteId"},
        {"FaceBookNotesDelete", 0, "Token"},
        {"FaceBookPictureUpload", 1, "Target"},
        {"FaceBookPictureUpload", 3, "Token"},
        {"FaceBookVideoUpload", 1, "Target"},
    };
    for (const IdArg &d : ids) {
        const Export &e = Find(d.fn);
        auto a = e.args;
        a[d.index] = "";
        const std::size_t base = Expect(e.fn, a).path.units;
        for (std::size_t units : {std::size_t(1999), std::size_t(2000)}) {
            a[d.index] = std::string(units - base, 'i');
            // The notes name no single argument for a URL built of several.
            const int position = Find(d.fn).family == Family::kNotes ? 0 : static_cast<int>(d.index) + 1;
            add(std::string(d.what) + "Path" + std::to_string(units) + "Units", e, a, units == 1999, 1999,
                position);
        }
    }
    // The fetch's own URL.
    {
        const Export &e = Find("FaceBookToken");
        const std::string base = "https://graph.facebook.com/limit?q=";
        for (std::size_t units : {std::size_t(1999), std::size_t(2000)}) {
            auto a = e.args;
            a[0] = base + std::string(units - base.size(), 'u');
            add("Url" + std::to_string(units) + "Units", e, a, units == 1999, 1999, 1);
        }
    }
    // Units, not bytes: an identifier of 2-byte characters (6 on the wire).
    {
        const Export &e = Find("FaceBookStatus");
        auto a = e.args;
        a[2] = "";
        const std::size_t base = Expect(e.fn, a).path.units;
        for (std::size_t units : {std::size_t(1999), std::size_t(2000)}) {
            a[2].clear();
            for (std::size_t i = base; i < units; ++i) a[2] += e9;
            add("AccentedTargetPath" + std::to_string(units) + "Units", e, a, units == 1999);
        }
    }

    // The closing part of an upload: 999 bytes in its narrow form.
    struct ClosingArg {
        const char *fn;
        std::size_t index;
        const char *what;
    };
    const ClosingArg closings[] = {{"FaceBookPictureUpload", 2, "Message"},
                                   {"FaceBookVideoUpload", 2, "Title"},
                                   {"FaceBookVideoUpload", 3, "Token"}};
    for (const ClosingArg &c : closings) {
        const Export &e = Find(c.fn);
        auto a = e.args;
        a[c.index] = "";
        // The boundary is 21 characters where the expectation has "B".
        const std::size_t base = WithBoundary(Expect(e.fn, a).closing, std::string(21, '-')).size();
        for (std::size_t bytes : {std::size_t(999), std::size_t(1000)}) {
            a[c.index] = std::string(bytes - base, 'w');
            add(std::string(c.what) + "ClosingPart" + std::to_string(bytes) + "Bytes", e, a, bytes == 999,
                999);
            // The same length in 2-byte characters (and one 'w' if odd).
            a[c.index].clear();
            for (std::size_t i = 0; i + 1 < bytes - base; i += 2) a[c.index] += e9;
            if ((bytes - base) % 2) a[c.index] += 'w';
            add(std::string(c.what) + "AccentedClosingPart" + std::to_string(bytes) + "Bytes", e, a,
                bytes == 999);
        }
    }

    // Texts that are ignored have no limit: they never reach a request.
    for (const char *fn : {"FaceBookStatus", "FaceBookCheckIn", "FaceBookEvents", "FaceBookDelete"}) {
        const Export &e = Find(fn);
        auto a = e.args;
        a[3] = std::string(5000, 'z');
        if (std::string(fn) == "FaceBookDelete") a[0] = std::string(5000, 'y');
        InputRow r;
        r.name = Short(fn) + "_IgnoredTextsOf5000Units";
        r.fn = fn;
        r.args = a;
        v.push_back(r);
    }
    return v;
}

class BadInput : public E2ETest, public ::testing::WithParamInterface<InputRow> {
protected:
    void Run(const InputRow &row);
};

const char *const kAnswer = "{\"id\":\"4242\"}";

void BadInput::Run(const InputRow &row) {
    const Family family = Find(row.fn).family;
    WriteScript({Response::Ok(kAnswer), Response::Ok("sentinel")});
    ASSERT_TRUE(WriteFile(Media(), "\xFF\xD8\xFF\xE0 photo"));
    ASSERT_TRUE(WriteFile(Out(), kPrevious));
    const auto filesBefore = ListDir(Dir());
    const int handlesBefore = CountOpenHandles();

    CallResult got = Invoke({row.fn, row.args});
    EXPECT_EQ(got.code, row.result) << vfb_result_meaning(got.code, nullptr);
    if (row.limit) {
        EXPECT_EQ(got.detail.failure, VFB_FAIL_INPUT) << got.detail.message;
        EXPECT_EQ(got.detail.limit, row.limit) << got.detail.message;
        if (row.argument) {
            EXPECT_EQ(got.detail.argument, row.argument) << got.detail.message;
        }
        EXPECT_NE(std::string(got.detail.message).find("too long"), std::string::npos) << got.detail.message;
    }

    auto requests = Requests();
    if (row.sent) {
        ASSERT_EQ(requests.size(), 1u) << "requests recorded";
        std::vector<std::string> plain = row.args;  // what the library saw, paths aside
        const Expected want = Expect(row.fn, plain);
        CheckHead(requests[0], want);
        if (family == Family::kUpload) CheckUploadBody(requests[0], want);
        if (family == Family::kFormPost || family == Family::kFetch || family == Family::kNotes) {
            EXPECT_TRUE(requests[0].body.empty()) << Printable(requests[0].body);
        }
    } else {
        // A fetch after the call: had the call opened a connection, the
        // service would have accepted it first.
        const std::string sentinel = Dir() + "/sentinel.bin";
        EXPECT_EQ(
            FaceBookToken(Widen("https://graph.facebook.com/sentinel").c_str(), WidePath(sentinel).c_str()),
            VFB_DONE);
        requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].target, "/sentinel") << "the refused call sent " << Printable(requests[0].raw);
        EXPECT_EQ(ConnectionCount(), 1) << "the refused call opened a connection";
        RemoveFile(sentinel);
    }

    if (!row.writesOutput) {
        EXPECT_EQ(ListDir(Dir()), filesBefore) << "a call without an output path wrote a file";
        CheckFile(Out(), FileExpect::Untouched());
    } else if (row.sent) {
        CheckFile(Out(), FileExpect::Content(kAnswer));
    } else {
        CheckFile(Out(), FileExpect::Untouched());
    }

    ExpectHandlesBackTo(handlesBefore);
}

TEST_P(BadInput, Run) {
    E2E_NEED_SERVICE();
    Run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(NullArguments, BadInput, ::testing::ValuesIn(NullRows()), InputRowName());
INSTANTIATE_TEST_SUITE_P(HostileValues, BadInput, ::testing::ValuesIn(HostileRows()), InputRowName());
INSTANTIATE_TEST_SUITE_P(Limits, BadInput, ::testing::ValuesIn(LimitRows()), InputRowName());

// The sign-in takes no argument; a URL whose host part carries a line break
// must not produce a request with an added header either.
using BadUrl = E2ETest;

TEST_F(BadUrl, LineBreakInTheHostPartAddsNoHeader) {
    E2E_NEED_SERVICE();
    WriteScript({Response::Ok(kAnswer), Response::Ok(kAnswer), Response::Ok(kAnswer)});
    for (const char *url : {"https://graph.facebook.com\r\nX-Injected: yes/",
                            "https://graph.facebook.com:443\r\n/x", "https://graph.facebook.com /x"}) {
        SCOPED_TRACE(Printable(url));
        ResetRecording();
        ASSERT_TRUE(WriteFile(Out(), kPrevious));
        CallResult got = Invoke({"FaceBookToken", {url, "$OUT"}});
        auto requests = Requests();
        if (got.code == VFB_DONE) {
            ASSERT_EQ(requests.size(), 1u);
            for (const auto &h : requests[0].headers) EXPECT_NE(h.first, "X-Injected");
            EXPECT_EQ(requests[0].Values("Host").size(), 1u);
        } else {
            EXPECT_EQ(got.code, VFB_ERR_OPEN);
            EXPECT_TRUE(requests.empty()) << Printable(requests[0].raw);
            CheckFile(Out(), FileExpect::Untouched());
        }
    }
}

}  // namespace
}  // namespace e2e
