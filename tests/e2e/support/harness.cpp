#include "harness.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace e2e {

namespace {

std::string FakeDir() { return GetEnv("VFB_FAKE_DIR"); }
std::string RequestsDir() { return FakeDir() + "/requests"; }

std::string Lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The string value of "key" in the flat parts of a recorded .json; "" if absent or not a string.
std::string JsonString(const std::string &json, const std::string &key) {
    std::string needle = "\"" + key + "\": ";
    std::size_t at = json.find(needle);
    if (at == std::string::npos) return "";
    at += needle.size();
    if (at >= json.size() || json[at] != '"') return "";
    std::string out;
    for (std::size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) ++i;
        out += json[i];
    }
    return out;
}

bool JsonTrue(const std::string &json, const std::string &key) {
    return json.find("\"" + key + "\": true") != std::string::npos;
}

std::string DecodeChunked(const std::string &data) {
    std::string out;
    std::size_t at = 0;
    while (at < data.size()) {
        std::size_t eol = data.find("\r\n", at);
        if (eol == std::string::npos) break;
        unsigned long size = std::strtoul(data.substr(at, eol - at).c_str(), nullptr, 16);
        at = eol + 2;
        if (size == 0) break;
        out += data.substr(at, size);
        at += size + 2;
    }
    return out;
}

bool ParseRecord(int index, const std::string &raw, const std::string &json, RecordedRequest *r) {
    r->index = index;
    r->raw = raw;
    std::size_t headEnd = raw.find("\r\n\r\n");
    std::string head = raw.substr(0, headEnd == std::string::npos ? raw.size() : headEnd);
    std::size_t lineEnd = head.find("\r\n");
    r->requestLine = head.substr(0, lineEnd);
    std::istringstream rl(r->requestLine);
    std::getline(rl, r->method, ' ');
    std::getline(rl, r->target, ' ');
    std::getline(rl, r->version);
    std::size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (at < head.size()) {
        std::size_t e = head.find("\r\n", at);
        if (e == std::string::npos) e = head.size();
        std::string line = head.substr(at, e - at);
        std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
        std::size_t b = value.find_first_not_of(" \t");
        std::size_t l = value.find_last_not_of(" \t");
        value = b == std::string::npos ? "" : value.substr(b, l - b + 1);
        r->headers.emplace_back(name, value);
        at = e + 2;
    }
    std::string body = headEnd == std::string::npos ? "" : raw.substr(headEnd + 4);
    r->chunked = JsonTrue(json, "chunked");
    r->body = r->chunked ? DecodeChunked(body) : body;
    r->complete = JsonTrue(json, "complete");
    r->sni = JsonString(json, "sni");
    const std::size_t connection = json.find("\"connection\": ");
    r->connection = connection == std::string::npos ? 0 : std::atoi(json.c_str() + connection + 14);
    std::size_t resp = json.find("\"response\"");
    r->responseSha256 = resp == std::string::npos ? "" : JsonString(json.substr(resp), "body_sha256");
    return true;
}

// ---- SHA-256 (FIPS 180-4), small and portable
struct Sha256 {
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block[64];
    std::size_t used = 0;
    std::uint64_t bits = 0;

    static std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void Compress() {
        static const std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (std::uint32_t(block[4 * i]) << 24) | (std::uint32_t(block[4 * i + 1]) << 16) |
                   (std::uint32_t(block[4 * i + 2]) << 8) | std::uint32_t(block[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 =
                hh + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
    }
    void Update(const unsigned char *p, std::size_t n) {
        bits += std::uint64_t(n) * 8;
        while (n--) {
            block[used++] = *p++;
            if (used == 64) {
                Compress();
                used = 0;
            }
        }
    }
    std::string Hex() {
        std::uint64_t total = bits;
        unsigned char pad = 0x80;
        Update(&pad, 1);
        unsigned char zero = 0;
        while (used != 56) Update(&zero, 1);
        for (int i = 7; i >= 0; --i) {
            unsigned char byte = static_cast<unsigned char>(total >> (8 * i));
            Update(&byte, 1);
        }
        char out[65];
        for (int i = 0; i < 8; ++i) std::snprintf(out + 8 * i, 9, "%08x", static_cast<unsigned>(h[i]));
        return std::string(out, 64);
    }
};

}  // namespace

// ------------------------------------------------------------------ script

std::string JsonQuote(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);  // UTF-8 passes through
                }
        }
    }
    return out + "\"";
}

std::string Response::ToJson() const {
    std::string j = "{\"status\": " + std::to_string(status);
    if (!reason.empty()) j += ", \"reason\": " + JsonQuote(reason);
    j += ", \"headers\": [";
    for (std::size_t i = 0; i < headers.size(); ++i)
        j += (i ? ", [" : "[") + JsonQuote(headers[i].first) + ", " + JsonQuote(headers[i].second) + "]";
    j += "]";
    if (generatedSize >= 0)
        j += ", \"body_bytes\": {\"size\": " + std::to_string(generatedSize) +
             ", \"seed\": " + std::to_string(seed) + "}";
    else if (!bodyFile.empty())
        j += ", \"body_file\": " + JsonQuote(bodyFile);
    else
        j += ", \"body\": " + JsonQuote(body);
    if (!fault.empty()) j += ", \"fault\": " + fault;
    if (!cert.empty()) j += ", \"cert\": " + JsonQuote(cert);
    if (!tlsMax.empty()) j += ", \"tls_max\": " + JsonQuote(tlsMax);
    if (!contentLength) j += ", \"content_length\": false";
    if (chunked) j += ", \"chunked\": true";
    if (!version.empty()) j += ", \"version\": \"" + version + "\"";
    if (keepAliveSeconds > 0) j += ", \"keep_alive\": " + std::to_string(keepAliveSeconds);
    return j + "}";
}

void WriteScript(const std::vector<Response> &responses) {
    std::string j = "[\n";
    for (std::size_t i = 0; i < responses.size(); ++i) j += (i ? ",\n " : " ") + responses[i].ToJson();
    j += "\n]\n";
    std::string tmp = FakeDir() + "/script.json." + std::to_string(ProcessId()) + ".tmp";
    ASSERT_TRUE(WriteFile(tmp, j)) << "cannot write " << tmp;
    ASSERT_TRUE(RenameReplace(tmp, FakeDir() + "/script.json")) << "cannot replace the script";
}

// ------------------------------------------------------------------ recording

std::vector<std::string> RecordedRequest::Values(const std::string &name) const {
    std::vector<std::string> v;
    for (const auto &h : headers)
        if (Lower(h.first) == Lower(name)) v.push_back(h.second);
    return v;
}

std::string RecordedRequest::Value(const std::string &name) const {
    auto v = Values(name);
    return v.empty() ? "" : v.front();
}

std::string RecordedRequest::HeaderText() const {
    std::string t = requestLine + "\n";
    for (const auto &h : headers) t += "  " + h.first + ": " + h.second + "\n";
    return t;
}

namespace {
// Connections numbered up to this one were accepted before the last reset.
int g_connectionMark = 0;

// The numbers of the accepted connections in connections.jsonl.
std::vector<int> AcceptedConnections() {
    std::vector<int> numbers;
    std::string text;
    if (!ReadFile(FakeDir() + "/connections.jsonl", &text)) return numbers;
    const std::string accepted = "{\"event\": \"accepted\", \"connection\": ";
    for (std::size_t at = text.find(accepted); at != std::string::npos; at = text.find(accepted, at + 1))
        numbers.push_back(std::atoi(text.c_str() + at + accepted.size()));
    return numbers;
}
}  // namespace

void ResetRecording() {
    for (const auto &name : ListDir(RequestsDir())) RemoveFile(RequestsDir() + "/" + name);
    // The log is kept: a connection of an earlier case may still add its end to it.
    for (int n : AcceptedConnections()) g_connectionMark = std::max(g_connectionMark, n);
}

std::vector<RecordedRequest> Requests() {
    std::vector<RecordedRequest> out;
    for (const auto &name : ListDir(RequestsDir())) {
        if (name.size() != 9 || name.compare(4, 5, ".json") != 0) continue;
        std::string base = RequestsDir() + "/" + name.substr(0, 4);
        std::string json, raw;
        if (!ReadFile(base + ".json", &json) || !ReadFile(base + ".raw", &raw)) continue;
        RecordedRequest r;
        ParseRecord(std::atoi(name.substr(0, 4).c_str()), raw, json, &r);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<RecordedRequest> WaitForRequests(std::size_t n, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto r = Requests();
        if (r.size() >= n || std::chrono::steady_clock::now() > deadline) return r;
        SleepMs(20);
    }
}

int ConnectionCount() {
    auto numbers = AcceptedConnections();
    return static_cast<int>(
        std::count_if(numbers.begin(), numbers.end(), [](int n) { return n > g_connectionMark; }));
}

std::vector<std::pair<int, std::string>> ConnectionOutcomes() {
    std::vector<std::pair<int, std::string>> out;
    std::string text;
    if (!ReadFile(FakeDir() + "/connections.jsonl", &text)) return out;
    const std::string closed = "{\"event\": \"closed\", \"connection\": ";
    for (std::size_t at = text.find(closed); at != std::string::npos; at = text.find(closed, at + 1)) {
        int number = std::atoi(text.c_str() + at + closed.size());
        if (number <= g_connectionMark) continue;
        std::size_t end = text.find('\n', at);
        out.emplace_back(number,
                         JsonString(text.substr(at, end == std::string::npos ? end : end - at), "outcome"));
    }
    return out;
}

// ------------------------------------------------------------------ calls

std::string E2ETest::Substitute(const std::string &arg) const {
    if (arg == "$OUT") return Out();
    if (arg == "$OUT2") return dir_ + "/out2.bin";
    if (arg == "$MEDIA") return Media();
    if (arg.compare(0, 5, "$DIR/") == 0) return dir_ + arg.substr(4);
    return arg;
}

CallResult E2ETest::Invoke(const Call &call) {
    CallResult result;
    std::vector<WString> wide;
    std::vector<const VFB_WCHAR *> args;
    for (const auto &a : call.args) {
        bool isPath = !a.empty() && a[0] == '$' && a != "$NULL";
        wide.push_back(isPath ? WidePath(Substitute(a)) : Widen(a));
    }
    for (std::size_t i = 0; i < wide.size(); ++i)
        args.push_back(call.args[i] == "$NULL" ? nullptr : wide[i].c_str());
    if (!CallExport(call.fn, args, &result.code, &result.location))
        ADD_FAILURE() << "bad call of " << call.fn << " with " << call.args.size() << " arguments";
    result.detail.size = sizeof result.detail;
    EXPECT_EQ(vfb_last_call(&result.detail), 0);
    return result;
}

// ------------------------------------------------------------------ fixture

// The process's descriptors (handles) are where they were before the call.
// A resolver thread may close its end a moment after the call returns.
void ExpectHandlesBackTo(int before, int callsAtOnce) {
    const int allowance = CachedHandleAllowance(callsAtOnce);
    int after = CountOpenHandles();
    for (int i = 0; i < 100 && std::abs(after - before) > allowance; ++i) {
        SleepMs(20);
        after = CountOpenHandles();
    }
    EXPECT_LE(std::abs(after - before), allowance)
        << "descriptors (handles) before the call: " << before << ", after: " << after;
}

bool InsideSandbox() { return !FakeDir().empty(); }
bool ServiceRunning() { return GetEnv("VFB_FAKE_SERVICE") != "0"; }

void E2ETest::SetUp() {
    if (!InsideSandbox()) GTEST_SKIP() << "VFB_FAKE_DIR is not set: run inside tests/e2e/sandbox.sh";
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    const std::string limitation = KnownLimitation(name);
    if (!limitation.empty()) GTEST_SKIP() << limitation;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_') c = '_';
    std::string base = GetEnv("VFB_E2E_TMP");
    if (base.empty()) base = "/tmp/vfb-e2e";
    dir_ = base + "/" + std::to_string(ProcessId()) + "/" + name;
    RemoveTree(dir_);
    ASSERT_TRUE(MakeDirs(dir_)) << "cannot make " << dir_;
    if (ServiceRunning()) WriteScript({});
    ResetRecording();
}

void E2ETest::TearDown() {
    if (!dir_.empty() && !HasFailure()) RemoveTree(dir_);
}

// ------------------------------------------------------------------ misc

std::string Sha256Hex(const std::string &bytes) {
    Sha256 s;
    s.Update(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    return s.Hex();
}

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::string out(n, '\0');
    std::uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::string Printable(const std::string &bytes, std::size_t max) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else
            out += static_cast<char>(c);
    }
    if (bytes.size() > max) out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace e2e
