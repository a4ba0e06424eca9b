// vfb::Internet over WinINet's wide calls, which Windows CE's WinINet also
// provides. Each method is one WinINet call (two for a body write that the
// stack accepts in parts); the values the callers pass go through unchanged
// except where noted. Beyond that the layer sets the time-outs and checks a
// body's length itself, so that both builds end a transfer the same way, and
// it reports each exchange into the call's detail, progress and trace.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "call/call.h"
#include "http/internet.h"
#include "http/redirect.h"
#include "text/ascii.h"
#include "text/utf.h"

namespace vfb {

std::unique_ptr<Internet> MakeWinInetInternet();

namespace {

// WinINet never follows a redirect itself. Requests opened on a connection
// never follow one: the sign-in dialog's answer is read from the redirect's
// own Location, and the libcurl build behaves the same. The URL fetch follows
// them by hand (OpenUrl), with the libcurl build's rule (http/redirect.h):
// WinINet's own following differs from it (which statuses, how many hops,
// https to http, user names, how a Location resolves), and it differs again
// between WinINet versions.
constexpr DWORD kNoAutoRedirect = INTERNET_FLAG_NO_AUTO_REDIRECT;

// HttpSendRequestExW and HttpEndRequestW receive the flag words the library
// has always passed (HSR_CHUNKED | HSR_INITIATE, and HSR_INITIATE). WinINet
// documents both parameters as reserved; desktop WinINet and Wine ignore
// them, and the body still goes out with the Content-Length of dwBufferTotal.
constexpr DWORD kSendExFlags = 0x28;
constexpr DWORD kEndRequestFlags = 0x08;

// dwStructSize must be what the running WinINet expects for its own pointer
// width: 40 on 32-bit targets (Windows CE on ARM, x86), 56 on x86_64. sizeof
// gives exactly that on every target, where a literal 40 would describe a
// structure the 64-bit stack does not have.
static_assert(sizeof(void *) != 4 || sizeof(INTERNET_BUFFERSW) == 40,
              "32-bit INTERNET_BUFFERSW must be 40 bytes");

// Values must match the interface's, since callers pass them through.
static_assert(kFlagReload == INTERNET_FLAG_RELOAD, "reload flag");
static_assert(kFlagSecure == INTERNET_FLAG_SECURE, "secure flag");
static_assert(static_cast<DWORD>(AccessType::kDirect) == INTERNET_OPEN_TYPE_DIRECT, "direct access");
static_assert(static_cast<DWORD>(AccessType::kPreconfigured) == 4, "preconfigured, no auto-proxy");
static_assert(sizeof(WChar) == sizeof(WCHAR), "wide units are WCHAR");

// A transfer fails when no byte moves in either direction for the stall
// limit (vfb_set_timeouts; a minute unless the caller chose otherwise), and
// only then: the libcurl build's rule. WinINet's defaults differ between
// versions (and Wine's sessions have no send or receive time-out at all), so
// they are set explicitly. The root's values reach every handle made from it
// on Windows and CE. Wine ignores a root's send and receive time-outs and
// honours them per request, so requests get them too; the URL fetch's handle
// only comes back once its exchange has started, so under Wine it keeps none.
void SetTimeouts(HINTERNET handle) {
    const call::Settings &settings = call::ThisThread();
    // A time-out that cannot be set leaves the stack's own: the exchange
    // still works, so a failure here does not fail the call.
    const struct {
        DWORD option;
        DWORD value;
    } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, settings.connectMs},
                    {INTERNET_OPTION_SEND_TIMEOUT, settings.stallMs},
                    {INTERNET_OPTION_RECEIVE_TIMEOUT, settings.stallMs}};
    for (const auto &t : timeouts) {
        DWORD value = t.value;
        InternetSetOptionW(handle, t.option, &value, sizeof value);
    }
}

// The body length a response declares, when there is one to hold it to: not
// with a transfer coding, whose framing ends the body instead (RFC 9112
// section 6.3), nor for the statuses that never carry a body. The value is
// read as text, since it may exceed the 32 bits of HTTP_QUERY_FLAG_NUMBER; a
// value that is no number is left to the stack. One past 64 bits saturates:
// no body that long ever arrives whole.
bool DeclaredLength(HINTERNET request, DWORD status, std::uint64_t *length) {
    if (status < 200 || status == 204 || status == 304) return false;
    WCHAR text[64];
    DWORD size = sizeof text;
    if (HttpQueryInfoW(request, HTTP_QUERY_TRANSFER_ENCODING, text, &size, nullptr) ||
        GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        return false;
    size = sizeof text;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
    const std::size_t units = size / sizeof(WCHAR);
    std::size_t at = 0;
    while (at < units && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < units && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        const unsigned digit = static_cast<unsigned>(text[at] - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    while (at < units && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (digits == 0 || at != units) return false;
    *length = value;
    return true;
}

// Content-Length values that disagree, or one that is no number, leave no
// way to tell where this answer ends and the next begins: such an answer is
// cut, as the libcurl build cuts it. WinINet hands each header out by index.
bool FramingBroken(HINTERNET request) {
    std::wstring first;
    for (DWORD index = 0;;) {
        WCHAR text[64];
        DWORD size = sizeof text;
        const DWORD asked = index;
        if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index))
            return GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND;
        // A list of equal values ("6, 6") is the one value.
        std::wstring value(text, size / sizeof(WCHAR));
        std::size_t at = 0;
        while (at <= value.size()) {
            std::size_t end = value.find(L',', at);
            if (end == std::wstring::npos) end = value.size();
            std::wstring one = value.substr(at, end - at);
            while (!one.empty() && (one.front() == L' ' || one.front() == L'\t')) one.erase(0, 1);
            while (!one.empty() && (one.back() == L' ' || one.back() == L'\t')) one.pop_back();
            if (one.empty() || one.find_first_not_of(L"0123456789") != std::wstring::npos) return true;
            if (first.empty()) first = one;
            if (one != first) return true;
            at = end + 1;
        }
        if (index == asked) ++index;  // a stack that does not advance it
    }
}

// A response's status code; 0 when it has none (Wine's reading of a
// connection closed before any status line).
DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

// A header query's text as the bytes that came on the wire: WinINet widens
// header bytes with the ANSI code page, so the same code page narrows them
// back. False when the value is absent.
bool QueryBytes(HINTERNET request, DWORD level, std::string *value) {
    DWORD size = 0;
    if (HttpQueryInfoW(request, level, nullptr, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return false;
    const std::size_t units = size / sizeof(WCHAR) + 1;
    std::unique_ptr<WCHAR[]> wide(new (std::nothrow) WCHAR[units]);
    if (!wide) return false;
    size = static_cast<DWORD>(units * sizeof(WCHAR));
    if (!HttpQueryInfoW(request, level, wide.get(), &size, nullptr)) return false;
    const int length = static_cast<int>(size / sizeof(WCHAR));
    value->clear();
    if (length > 0) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.get(), length, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) return false;
        value->resize(static_cast<std::size_t>(bytes));
        if (WideCharToMultiByte(CP_ACP, 0, wide.get(), length, &(*value)[0], bytes, nullptr, nullptr) !=
            bytes)
            return false;
    }
    return true;
}

// The response's first Location, blanks around it trimmed. False when there is none.
bool FirstLocation(HINTERNET request, std::string *value) {
    if (!QueryBytes(request, HTTP_QUERY_LOCATION, value)) return false;
    const std::size_t first = value->find_first_not_of(" \t");
    const std::size_t last = value->find_last_not_of(" \t\r\n");
    *value = first == std::string::npos ? std::string() : value->substr(first, last - first + 1);
    return true;
}

// The host and port an absolute http or https URL names, for the detail's
// messages and the trace; WinINet has parsed it already, but only for itself.
void HostAndPort(const std::string &url, std::string *host, unsigned *port) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = url.find_first_of("/?#", start);
    *host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    *port = StartsWithNoCase(url, "https:") ? 443 : 80;
    const std::size_t colon = host->rfind(':');
    if (colon != std::string::npos && host->find(']', colon) == std::string::npos) {
        *port = static_cast<unsigned>(std::strtoul(host->c_str() + colon + 1, nullptr, 10));
        host->resize(colon);
    }
}

// The step of an exchange a WinINet failure happened in: its error numbers
// do not say, and the same number means another cause in each.
enum class Step { kRequest, kBody, kAnswer, kReading };

bool IsCertificateError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return true;
        default:
            return false;
    }
}

const char *CertificateProblem(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
            return "issued by an authority the system does not trust";
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
            return "expired or not yet valid";
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
            return "issued for another host name";
        case ERROR_INTERNET_SEC_CERT_REVOKED:
            return "revoked";
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
            return "its revocation could not be checked";
        default:
            return "invalid";
    }
}

inline HINTERNET Native(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }
inline InternetHandle Wrap(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

// WinINet reads null-terminated strings; views need not be terminated.
inline WString Terminated(WStringView text) { return WString(text); }

// The target as every build puts it on the wire: WinINet would otherwise
// rewrite backslashes and dot segments itself, and the libcurl build would not.
inline WString EscapedTarget(WStringView target) { return WidenAscii(EscapeRequestTarget(target)); }

// Trace lines carry no token and no Cookie or Authorization value.
void TraceRedacted(const char *prefix, const std::string &line) {
    call::Trace("%s%s", prefix, call::Redact(line).c_str());
}

// Each line of a CR LF block of header lines, as sent or received.
void TraceHeaderBlock(const char *prefix, const std::string &block) {
    for (std::size_t at = 0; at < block.size();) {
        std::size_t end = block.find("\r\n", at);
        if (end == std::string::npos) end = block.size();
        if (end > at) TraceRedacted(prefix, block.substr(at, end - at));
        at = end + 2;
    }
}

// Progress is reported at least this often while bytes move: often enough
// for a meter and for a cancel to act within a second, rarely enough that a
// callback costs nothing next to the transfer.
constexpr std::uint64_t kProgressBytes = 64 * 1024;
constexpr DWORD kProgressMilliseconds = 100;

class WinInetInternet final : public Internet {
public:
    WinInetInternet() = default;
    WinInetInternet(const WinInetInternet &) = delete;
    WinInetInternet &operator=(const WinInetInternet &) = delete;

    ~WinInetInternet() override { Settle(); }

    InternetHandle Open(WStringView agent, AccessType access) override {
        const WString agentText = Terminated(agent);
        const HINTERNET root =
            InternetOpenW(agentText.c_str(), static_cast<DWORD>(access), nullptr, nullptr, 0);
        if (root) {
            SetTimeouts(root);
            // Inherited by every handle made from the root. WinINet calls it
            // on the calling thread of a synchronous session, and only for
            // handles opened with a context, which is this object.
            InternetSetStatusCallbackW(root, &OnStatus);
        }
        return Wrap(root);
    }

    InternetHandle Connect(InternetHandle root, WStringView host, std::uint16_t port) override {
        if (!root) return nullptr;
        const WString hostText = Terminated(host);
        exchange_.host = utf::ToUtf8(host);
        exchange_.port = port;
        return Wrap(InternetConnectW(Native(root), hostText.c_str(), port, nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, Context()));
    }

    InternetHandle OpenRequest(InternetHandle connection, WStringView verb, WStringView target,
                               WStringView version, std::uint32_t flags) override {
        if (!connection) return nullptr;
        const WString verbText = Terminated(verb);
        const WString targetText = EscapedTarget(target);
        const WString versionText = Terminated(version);
        static const WCHAR kAnyType[] = L"*/*";
        LPCWSTR acceptTypes[] = {kAnyType, nullptr};
        const HINTERNET request = HttpOpenRequestW(Native(connection), verbText.c_str(), targetText.c_str(),
                                                   versionText.empty() ? nullptr : versionText.c_str(),
                                                   nullptr, acceptTypes, flags | kNoAutoRedirect, Context());
        if (request) SetTimeouts(request);
        return Wrap(request);
    }

    bool AddHeader(InternetHandle request, WStringView line) override {
        if (!request) return false;
        const WString lineText = Terminated(line);
        return HttpAddRequestHeadersW(Native(request), lineText.c_str(), static_cast<DWORD>(-1),
                                      HTTP_ADDREQ_FLAG_ADD) != FALSE;
    }

    bool Send(InternetHandle request, WStringView headers) override {
        if (!request || !Begin(0)) return false;
        const WString headerText = Terminated(headers);
        Blocking();
        if (!HttpSendRequestW(Native(request), headerText.empty() ? nullptr : headerText.c_str(),
                              static_cast<DWORD>(headerText.size()), nullptr, 0))
            return Failed(Step::kRequest, Native(request));
        RequestWent(Native(request));
        return Answered(Native(request));
    }

    bool SendWithBody(InternetHandle request, std::uint32_t bodyLength) override {
        if (!request || !Begin(bodyLength)) return false;
        INTERNET_BUFFERSW buffers;
        std::memset(&buffers, 0, sizeof buffers);
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = bodyLength;
        Blocking();
        if (!HttpSendRequestExW(Native(request), &buffers, nullptr, kSendExFlags, 0))
            return Failed(Step::kRequest, Native(request));
        RequestWent(Native(request));
        return true;
    }

    bool Write(InternetHandle request, const void *data, std::uint32_t size) override {
        if (!request || (!data && size != 0) || exchange_.cancelled) return false;
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        // The stack may take a write in parts; the interface promises all of it.
        while (size > 0) {
            DWORD written = 0;
            Blocking();
            if (!InternetWriteFile(Native(request), bytes, size, &written) || written == 0 || written > size)
                return Failed(Step::kBody);
            bytes += written;
            size -= written;
            exchange_.sent += written;
            exchange_.bodySent += written;
            if (!Proceed(false)) return false;
        }
        return true;
    }

    bool EndRequest(InternetHandle request) override {
        if (!request || !Proceed(true)) return false;
        Blocking();
        if (!HttpEndRequestW(Native(request), nullptr, kEndRequestFlags, 0)) return Failed(Step::kAnswer);
        return Answered(Native(request));
    }

    bool Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) override {
        if (read) *read = 0;
        if (!handle || !read || (!buffer && size != 0) || exchange_.cancelled) return false;
        const HINTERNET native = Native(handle);
        if (body_.handle != native) {
            body_ = Body();
            body_.handle = native;
            DWORD status = 0;
            DWORD statusSize = sizeof status;
            if (HttpQueryInfoW(native, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                               nullptr)) {
                // Wine's WinINet takes a connection closed (or reset) before
                // any status line for an HTTP/0.9 answer with an empty body,
                // whose status code reads 0. No status line is no answer.
                if (status == 0) {
                    body_.failure = ERROR_HTTP_INVALID_SERVER_RESPONSE;
                } else if (FramingBroken(native)) {
                    call::Fail(VFB_FAIL_CUT_SHORT, "the answer from %s has conflicting or malformed lengths",
                               exchange_.host.c_str());
                    body_.failure = ERROR_INTERNET_CONNECTION_ABORTED;
                } else {
                    body_.lengthKnown = DeclaredLength(native, status, &body_.declared);
                }
            }
            exchange_.receiveTotal = body_.lengthKnown ? body_.declared : 0;
        }
        if (body_.failure != ERROR_SUCCESS) return ReadFailed();
        // Bytes past the declared length are no part of the answer (a
        // server that sends more is wrong, or they belong to the next
        // answer): the body ends at its length, as the libcurl build ends it.
        if (body_.lengthKnown) {
            const std::uint64_t left = body_.declared - body_.received;
            if (left == 0) return true;
            if (size > left) size = static_cast<std::uint32_t>(left);
        }
        DWORD count = 0;
        Blocking();
        const BOOL ok = InternetReadFile(native, buffer, size, &count);
        if (count > size) count = 0;
        body_.received += count;
        exchange_.received += count;
        exchange_.bodyReceived += count;
        *read = count;
        if (!ok) {
            // Wine reports bytes it did read together with the failure that
            // followed them (a reset): they are handed out, and the failure
            // is reported by the next read.
            if (count == 0) return Failed(Step::kReading);
            body_.failure = GetLastError();
            if (body_.failure == ERROR_SUCCESS) body_.failure = ERROR_INTERNET_CONNECTION_ABORTED;
            return true;
        }
        // WinINet (Wine's at least) takes a clean close for the end of the
        // body even before the declared length has arrived; that is a cut.
        if (count == 0 && size != 0 && body_.lengthKnown && body_.received < body_.declared) {
            body_.failure = ERROR_INTERNET_CONNECTION_ABORTED;
            return ReadFailed();
        }
        if (count != 0 && !Proceed(false)) {
            *read = 0;
            return false;
        }
        return true;
    }

    bool QueryLocation(InternetHandle request, WChar *buffer, std::uint32_t *sizeBytes) override {
        if (!request || !buffer || !sizeBytes) return false;
        // WinINet may write into the buffer before it finds the value does
        // not fit; a private copy keeps the caller's buffer untouched on
        // every failure, as the interface promises.
        const std::uint32_t capacity = *sizeBytes;
        const std::size_t units = capacity / sizeof(WChar);
        if (units == 0) return false;
        std::unique_ptr<WChar[]> scratch(new (std::nothrow) WChar[units]);
        if (!scratch) return false;
        DWORD length = static_cast<DWORD>(units * sizeof(WChar));
        if (!HttpQueryInfoW(Native(request), HTTP_QUERY_LOCATION, scratch.get(), &length, nullptr))
            return false;
        // On success the length excludes the terminator WinINet wrote after the value.
        const std::size_t valueUnits = length / sizeof(WChar);
        if (valueUnits >= units) return false;
        scratch[valueUnits] = 0;
        std::memcpy(buffer, scratch.get(), (valueUnits + 1) * sizeof(WChar));
        *sizeBytes = static_cast<std::uint32_t>(valueUnits * sizeof(WChar));
        return true;
    }

    InternetHandle OpenUrl(InternetHandle root, WStringView url, std::uint32_t flags) override {
        if (!root) return nullptr;
        // A fragment belongs to the client: a request line may not carry it
        // (RFC 9112 section 3.2). Wine's WinINet would send it and libcurl
        // drops it, so it is cut here for both builds to send the same line.
        std::string current = EscapeRequestTarget(url.substr(0, url.find(static_cast<WChar>('#'))));
        // As the libcurl build: once the fetch was asked for https, no hop leaves it.
        const bool httpsOnly = StartsWithNoCase(current, "https:");
        for (int followed = 0;;) {
            HostAndPort(current, &exchange_.host, &exchange_.port);
            if (!Begin(0)) return nullptr;
            const WString urlText = WidenAscii(current);
            Blocking();
            const HINTERNET response = InternetOpenUrlW(Native(root), urlText.c_str(), nullptr, 0,
                                                        flags | kNoAutoRedirect, Context());
            if (!response) {
                const DWORD error = GetLastError();
                // WinINet takes other schemes (ftp:) too; the fetch means http and https.
                if (followed == 0 &&
                    (error == ERROR_INTERNET_INVALID_URL || error == ERROR_INTERNET_UNRECOGNIZED_SCHEME ||
                     !(StartsWithNoCase(current, "http:") || StartsWithNoCase(current, "https:"))))
                    call::Fail(VFB_FAIL_INPUT, "the URL is malformed or not http or https");
                SetLastError(error);
                Failed(Step::kRequest);
                return nullptr;
            }
            RequestWent(response);
            Answered(response);
            // 301, 302, 303 and 307 with a Location lead on; anything else
            // (another 3xx too) is the answer, body and all.
            const DWORD status = StatusCode(response);
            std::string location;
            if (!IsFollowedRedirect(status) || !FirstLocation(response, &location) || location.empty())
                return Wrap(response);
            // The redirect's own body is dropped with its handle.
            InternetCloseHandle(response);
            if (++followed > kMaxRedirects) {
                call::Fail(VFB_FAIL_CONNECTION, "more than %d redirects from %s", kMaxRedirects,
                           exchange_.host.c_str());
                SetLastError(ERROR_HTTP_REDIRECT_FAILED);
                return nullptr;
            }
            // Where it leads, never to another scheme than http and https,
            // from https to http, or to a URL with a user name. Resolved
            // here rather than by InternetCombineUrlW, whose results differ
            // between WinINet versions (and Wine's) from the libcurl build's.
            const std::string next = ResolveRedirect(current, location, httpsOnly);
            if (next.empty()) {
                // The Location itself stays out of the message: it may carry a password.
                call::Fail(
                    VFB_FAIL_CONNECTION,
                    "a redirect from %s leads to another scheme, from https to http, or to a user name",
                    exchange_.host.c_str());
                SetLastError(ERROR_INTERNET_INVALID_URL);
                return nullptr;
            }
            // Escaped as the first URL was: WinINet has nothing left to rewrite.
            current = EscapeRequestTarget(WidenAscii(next));
            if (call::Tracing()) TraceRedacted("* redirect ", std::to_string(status) + " to " + current);
        }
    }

    bool Close(InternetHandle handle) override {
        if (!handle) return false;
        // The operations close their handles once the exchange is over,
        // before the call's result is recorded.
        Settle();
        // A handle WinINet hands out again later is a new response.
        if (body_.handle == Native(handle)) body_ = Body();
        return InternetCloseHandle(Native(handle)) != FALSE;
    }

private:
    // The response body being read. An operation reads one response at a
    // time, so the last handle read is all there is to track; another
    // handle starts over.
    struct Body {
        HINTERNET handle = nullptr;
        bool lengthKnown = false;
        std::uint64_t declared = 0;
        std::uint64_t received = 0;
        DWORD failure = ERROR_SUCCESS;  // once set, every later read fails with it
    };

    // What the call's exchanges did, over every hop, for the call's detail.
    // Body bytes are what progress counts; sent and received add the header
    // lines as WinINet reports them, which is close to what went on the wire.
    struct Exchange {
        std::string host;
        unsigned port = 0;
        bool started = false;
        bool settled = false;
        bool cancelled = false;
        bool requestSent = false;    // the current request reached a connection
        bool newConnection = false;  // WinINet connected for it
        bool reused = false;
        std::uint64_t sent = 0, received = 0;
        std::uint64_t bodySent = 0, sendTotal = 0, bodyReceived = 0, receiveTotal = 0;
        std::uint64_t reportedBytes = 0;
        DWORD reportedTick = 0;
        DWORD blockedAt = 0;
    };

    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }

    // What the call's exchange moved, into its detail, once: the platform
    // lives for one call.
    void Settle() {
        if (!exchange_.started || exchange_.settled) return;
        exchange_.settled = true;
        if (!exchange_.cancelled && call::HasProgress())
            call::Progress(exchange_.bodySent, exchange_.sendTotal, exchange_.bodyReceived,
                           exchange_.receiveTotal);
        call::Sent(exchange_.sent);
        call::Received(exchange_.received);
        call::Reused(exchange_.reused);
        if (call::Tracing())
            call::Trace("bytes: %llu sent, %llu received", static_cast<unsigned long long>(exchange_.sent),
                        static_cast<unsigned long long>(exchange_.received));
    }

    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
        if (!context) return;
        Exchange &e = reinterpret_cast<WinInetInternet *>(context)->exchange_;
        if (status == INTERNET_STATUS_CONNECTING_TO_SERVER) {
            // Also where WinINet sends a request again, on a new connection,
            // after the kept-alive one it tried first died.
            e.newConnection = true;
            e.reused = false;
            if (call::Tracing()) call::Trace("* connecting to %s:%u", e.host.c_str(), e.port);
        } else if (status == INTERNET_STATUS_SENDING_REQUEST && !e.requestSent) {
            // A request that goes out without WinINet connecting for it goes
            // out on a kept-alive connection. (Wine tells of the sending
            // again when an upload's body follows.)
            e.requestSent = true;
            e.reused = !e.newConnection;
            if (e.reused && call::Tracing())
                call::Trace("* reusing the connection to %s:%u", e.host.c_str(), e.port);
        }
    }

    // Before a request goes out: the caller may still stop the call there.
    bool Begin(std::uint64_t bodyLength) {
        exchange_.started = true;
        exchange_.requestSent = false;
        exchange_.newConnection = false;
        exchange_.sendTotal = bodyLength;
        exchange_.bodySent = 0;
        exchange_.receiveTotal = 0;
        exchange_.bodyReceived = 0;
        exchange_.reportedBytes = 0;
        return Proceed(true);
    }

    // Reports progress when due (always when `now`); false, with the call
    // failed as cancelled, when the callback asks to stop.
    bool Proceed(bool now) {
        if (exchange_.cancelled) return false;
        if (!call::HasProgress()) return true;
        const std::uint64_t moved = exchange_.bodySent + exchange_.bodyReceived;
        const DWORD tick = GetTickCount();
        if (!now && moved - exchange_.reportedBytes < kProgressBytes &&
            tick - exchange_.reportedTick < kProgressMilliseconds)
            return true;
        exchange_.reportedBytes = moved;
        exchange_.reportedTick = tick;
        if (call::Progress(exchange_.bodySent, exchange_.sendTotal, exchange_.bodyReceived,
                           exchange_.receiveTotal))
            return true;
        exchange_.cancelled = true;
        call::Fail(VFB_FAIL_CANCELLED, "cancelled by the progress callback");
        return false;
    }

    // The request's line and header lines, once WinINet has sent them.
    void RequestWent(HINTERNET request) {
        std::string headers;
        if (!QueryBytes(request, HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS, &headers))
            return;
        exchange_.sent += headers.size();
        if (call::Tracing()) TraceHeaderBlock("> ", headers);
    }

    // The answer's status line and header lines have arrived.
    bool Answered(HINTERNET request) {
        call::HttpStatus(static_cast<int>(StatusCode(request)));
        std::string headers;
        if (QueryBytes(request, HTTP_QUERY_RAW_HEADERS_CRLF, &headers)) {
            exchange_.received += headers.size();
            if (call::Tracing()) TraceHeaderBlock("< ", headers);
        }
        return true;
    }

    // A WinINet call that may block on the network starts now.
    void Blocking() { exchange_.blockedAt = GetTickCount(); }

    // Whether the blocking call that just failed lasted as long as its
    // time-out: Wine reports some time-outs as a lost connection (a receive
    // as 12030, a body as its clean end), which a server's own close or reset
    // never mimics, since that comes at once.
    bool TookTimeout(unsigned limitMs) const {
        constexpr DWORD kTimerSlackMs = 100;  // the tick count moves in steps of 10 to 16 ms
        return GetTickCount() - exchange_.blockedAt + kTimerSlackMs >= limitMs;
    }

    // Records why a step failed, from WinINet's last error; always false.
    // `request`: the request the step was sending, whose lines count when
    // they went out before the failure.
    bool Failed(Step step, HINTERNET request = nullptr) {
        const DWORD error = GetLastError();
        if (request && exchange_.requestSent) RequestWent(request);
        const char *host = exchange_.host.c_str();
        const unsigned port = exchange_.port;
        const call::Settings &settings = call::ThisThread();
        const bool connecting = step == Step::kRequest && !exchange_.requestSent;
        const bool lost = error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED ||
                          error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_CANNOT_CONNECT;
        if (error == ERROR_INTERNET_NAME_NOT_RESOLVED) {
            call::Fail(VFB_FAIL_NAME_RESOLUTION, "cannot resolve %s", host);
        } else if (connecting && lost &&
                   (error == ERROR_INTERNET_TIMEOUT || TookTimeout(settings.connectMs))) {
            call::Fail(VFB_FAIL_TIMEOUT, "connecting to %s took longer than %u ms", host, settings.connectMs);
        } else if (!connecting && lost &&
                   (error == ERROR_INTERNET_TIMEOUT || TookTimeout(settings.stallMs))) {
            call::Fail(VFB_FAIL_STALLED, "no byte moved to or from %s for %u ms", host, settings.stallMs);
        } else if (error == ERROR_INTERNET_CANNOT_CONNECT) {
            call::Fail(VFB_FAIL_CONNECTION, "cannot connect to %s:%u", host, port);
        } else if (IsCertificateError(error)) {
            call::Fail(VFB_FAIL_TLS_CERTIFICATE, "certificate not trusted for %s: %s", host,
                       CertificateProblem(error));
        } else if (error == ERROR_INTERNET_SECURITY_CHANNEL_ERROR ||
                   error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) {
            call::Fail(VFB_FAIL_TLS, "TLS with %s failed (WinINet error %lu)", host,
                       static_cast<unsigned long>(error));
        } else if (error == ERROR_INTERNET_PROXY_SERVER_UNREACHABLE ||
                   error == ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT ||
                   error == ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT) {
            call::Fail(VFB_FAIL_PROXY, "the proxy for %s failed (WinINet error %lu)", host,
                       static_cast<unsigned long>(error));
        } else if (step == Step::kReading || step == Step::kAnswer) {
            call::Fail(VFB_FAIL_CUT_SHORT, "the answer from %s was cut short (WinINet error %lu)", host,
                       static_cast<unsigned long>(error));
        } else {
            call::Fail(VFB_FAIL_SEND, "sending to %s failed (WinINet error %lu)", host,
                       static_cast<unsigned long>(error));
        }
        SetLastError(error);
        return false;
    }

    bool ReadFailed() {
        SetLastError(body_.failure);
        if (body_.failure == ERROR_HTTP_INVALID_SERVER_RESPONSE)
            call::Fail(VFB_FAIL_CUT_SHORT, "%s closed the connection without an answer",
                       exchange_.host.c_str());
        else if (body_.lengthKnown && body_.failure == ERROR_INTERNET_CONNECTION_ABORTED &&
                 !TookTimeout(call::ThisThread().stallMs))
            call::Fail(VFB_FAIL_CUT_SHORT, "the answer from %s ended after %llu of %llu bytes",
                       exchange_.host.c_str(), static_cast<unsigned long long>(body_.received),
                       static_cast<unsigned long long>(body_.declared));
        else
            Failed(Step::kReading);
        return false;
    }

    Body body_;
    Exchange exchange_;
};

}  // namespace

std::unique_ptr<Internet> MakeWinInetInternet() { return std::make_unique<WinInetInternet>(); }

}  // namespace vfb
