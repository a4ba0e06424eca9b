// vfb::Internet over WinINet's wide calls, which Windows CE's WinINet also
// provides. Each method is one WinINet call (two for a body write that the
// stack accepts in parts); the values the callers pass go through unchanged
// except where noted. Beyond that the layer sets the time-outs and checks a
// body's length itself, so that both builds end a transfer the same way.
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

#include "http/internet.h"
#include "http/redirect.h"

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

// A transfer fails when no byte moves in either direction for a minute, and
// only then: the libcurl build's rule. WinINet's defaults differ between
// versions (and Wine's sessions have no send or receive time-out at all), so
// they are set explicitly. The root's values reach every handle made from it
// on Windows and CE. Wine ignores a root's send and receive time-outs and
// honours them per request, so requests get them too; the URL fetch's handle
// only comes back once its exchange has started, so under Wine it keeps none.
constexpr DWORD kStallMilliseconds = 60000;

void SetTimeouts(HINTERNET handle) {
    // A time-out that cannot be set leaves the stack's own: the exchange
    // still works, so a failure here does not fail the call.
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        DWORD value = kStallMilliseconds;
        InternetSetOptionW(handle, option, &value, sizeof value);
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

// A response's status code; 0 when it has none (Wine's reading of a
// connection closed before any status line).
DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

// The response's first Location as the bytes that came on the wire, blanks
// around it trimmed: WinINet widens header bytes with the ANSI code page, so
// the same code page narrows them back. False when there is none.
bool FirstLocation(HINTERNET request, std::string *value) {
    DWORD size = 0;
    if (HttpQueryInfoW(request, HTTP_QUERY_LOCATION, nullptr, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return false;
    const std::size_t units = size / sizeof(WCHAR) + 1;
    std::unique_ptr<WCHAR[]> wide(new (std::nothrow) WCHAR[units]);
    if (!wide) return false;
    size = static_cast<DWORD>(units * sizeof(WCHAR));
    if (!HttpQueryInfoW(request, HTTP_QUERY_LOCATION, wide.get(), &size, nullptr)) return false;
    const int length = static_cast<int>(size / sizeof(WCHAR));
    value->clear();
    if (length > 0) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.get(), length, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) return false;
        value->resize(static_cast<std::size_t>(bytes));
        if (WideCharToMultiByte(CP_ACP, 0, wide.get(), length, &(*value)[0], bytes, nullptr, nullptr) != bytes)
            return false;
    }
    const std::size_t first = value->find_first_not_of(" \t");
    const std::size_t last = value->find_last_not_of(" \t\r\n");
    *value = first == std::string::npos ? std::string() : value->substr(first, last - first + 1);
    return true;
}

bool StartsWithNoCase(const std::string &text, const char *prefix) {
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

inline HINTERNET Native(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }
inline InternetHandle Wrap(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

// WinINet reads null-terminated strings; views need not be terminated.
inline WString Terminated(WStringView text) { return WString(text); }

// The target as every build puts it on the wire: WinINet would otherwise
// rewrite backslashes and dot segments itself, and the libcurl build would not.
inline WString EscapedTarget(WStringView target) { return WidenAscii(EscapeRequestTarget(target)); }

class WinInetInternet final : public Internet {
public:
    InternetHandle Open(WStringView agent, AccessType access) override {
        const WString agentText = Terminated(agent);
        const HINTERNET root =
            InternetOpenW(agentText.c_str(), static_cast<DWORD>(access), nullptr, nullptr, 0);
        if (root) SetTimeouts(root);
        return Wrap(root);
    }

    InternetHandle Connect(InternetHandle root, WStringView host, std::uint16_t port) override {
        if (!root) return nullptr;
        const WString hostText = Terminated(host);
        return Wrap(InternetConnectW(Native(root), hostText.c_str(), port, nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, 0));
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
                                                   nullptr, acceptTypes, flags | kNoAutoRedirect, 0);
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
        if (!request) return false;
        const WString headerText = Terminated(headers);
        return HttpSendRequestW(Native(request), headerText.empty() ? nullptr : headerText.c_str(),
                                static_cast<DWORD>(headerText.size()), nullptr, 0) != FALSE;
    }

    bool SendWithBody(InternetHandle request, std::uint32_t bodyLength) override {
        if (!request) return false;
        INTERNET_BUFFERSW buffers;
        std::memset(&buffers, 0, sizeof buffers);
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = bodyLength;
        return HttpSendRequestExW(Native(request), &buffers, nullptr, kSendExFlags, 0) != FALSE;
    }

    bool Write(InternetHandle request, const void *data, std::uint32_t size) override {
        if (!request || (!data && size != 0)) return false;
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        // The stack may take a write in parts; the interface promises all of it.
        while (size > 0) {
            DWORD written = 0;
            if (!InternetWriteFile(Native(request), bytes, size, &written) || written == 0 || written > size)
                return false;
            bytes += written;
            size -= written;
        }
        return true;
    }

    bool EndRequest(InternetHandle request) override {
        if (!request) return false;
        return HttpEndRequestW(Native(request), nullptr, kEndRequestFlags, 0) != FALSE;
    }

    bool Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) override {
        if (read) *read = 0;
        if (!handle || !read || (!buffer && size != 0)) return false;
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
                if (status == 0)
                    body_.failure = ERROR_HTTP_INVALID_SERVER_RESPONSE;
                else
                    body_.lengthKnown = DeclaredLength(native, status, &body_.declared);
            }
        }
        if (body_.failure != ERROR_SUCCESS) {
            SetLastError(body_.failure);
            return false;
        }
        // Bytes past the declared length are no part of the answer (a
        // server that sends more is wrong, or they belong to the next
        // answer): the body ends at its length, as the libcurl build ends it.
        if (body_.lengthKnown) {
            const std::uint64_t left = body_.declared - body_.received;
            if (left == 0) return true;
            if (size > left) size = static_cast<std::uint32_t>(left);
        }
        DWORD count = 0;
        const BOOL ok = InternetReadFile(native, buffer, size, &count);
        if (count > size) count = 0;
        body_.received += count;
        *read = count;
        if (!ok) {
            // Wine reports bytes it did read together with the failure that
            // followed them (a reset): they are handed out, and the failure
            // is reported by the next read.
            if (count == 0) return false;
            body_.failure = GetLastError();
            if (body_.failure == ERROR_SUCCESS) body_.failure = ERROR_INTERNET_CONNECTION_ABORTED;
            return true;
        }
        // WinINet (Wine's at least) takes a clean close for the end of the
        // body even before the declared length has arrived; that is a cut.
        if (count == 0 && size != 0 && body_.lengthKnown && body_.received < body_.declared) {
            body_.failure = ERROR_INTERNET_CONNECTION_ABORTED;
            SetLastError(body_.failure);
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
            const WString urlText = WidenAscii(current);
            const HINTERNET response =
                InternetOpenUrlW(Native(root), urlText.c_str(), nullptr, 0, flags | kNoAutoRedirect, 0);
            if (!response) return nullptr;
            // 301, 302, 303 and 307 with a Location lead on; anything else
            // (another 3xx too) is the answer, body and all.
            std::string location;
            if (!IsFollowedRedirect(StatusCode(response)) || !FirstLocation(response, &location) ||
                location.empty())
                return Wrap(response);
            // The redirect's own body is dropped with its handle.
            InternetCloseHandle(response);
            if (++followed > kMaxRedirects) {
                SetLastError(ERROR_HTTP_REDIRECT_FAILED);
                return nullptr;
            }
            // Where it leads, never to another scheme than http and https,
            // from https to http, or to a URL with a user name. Resolved
            // here rather than by InternetCombineUrlW, whose results differ
            // between WinINet versions (and Wine's) from the libcurl build's.
            current = ResolveRedirect(current, location, httpsOnly);
            if (current.empty()) {
                SetLastError(ERROR_INTERNET_INVALID_URL);
                return nullptr;
            }
            // Escaped as the first URL was: WinINet has nothing left to rewrite.
            current = EscapeRequestTarget(WidenAscii(current));
        }
    }

    bool Close(InternetHandle handle) override {
        if (!handle) return false;
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
    Body body_;
};

}  // namespace

std::unique_ptr<Internet> MakeWinInetInternet() { return std::make_unique<WinInetInternet>(); }

}  // namespace vfb
