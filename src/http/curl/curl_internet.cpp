#include "http/curl/curl_internet.h"

#include <curl/curl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "call/call.h"
#include "http/curl/connection_pool.h"
#include "text/ascii.h"
#include "text/text.h"

namespace vfb {

struct InternetObject {
    virtual ~InternetObject() = default;
};

namespace {

// Staging for request bodies: writes collect here and go to the connection
// in blocks, so 1 KiB chunks do not become one TLS record each.
constexpr std::size_t kUploadBlock = 64 * 1024;
// Response bytes wait here for the caller's reads; when it is full the
// transfer pauses, which is what keeps memory flat for any body size.
constexpr std::size_t kReceiveRing = 256 * 1024;
constexpr long kReceiveBuffer = 128 * 1024;
constexpr long kMaxRedirects = 10;

// "scheme://host:port" of a URL: which pooled connections may serve it.
std::string Origin(const std::string &url) {
    const std::size_t scheme = url.find("://");
    const std::size_t end = url.find_first_of("/?#", scheme == std::string::npos ? 0 : scheme + 3);
    return url.substr(0, end);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

struct Root final : InternetObject {
    std::string agent;
    AccessType access;
};

struct Connection final : InternetObject {
    // Copied rather than linked: a root may be closed before its children.
    std::string agent;
    AccessType access;
    std::string host;
    std::uint16_t port;
};

struct CurlEasyDeleter {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct SlistDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

class Transfer final : public InternetObject {
public:
    // Where the exchange is. Changed only through Enter(), and each step
    // below says in which phases it may run, in the manner of the stack's
    // own CURLMstate; what is paused is a separate matter (pausedSend_,
    // pausedRecv_), as the stack keeps its direction bits apart.
    enum class Phase {
        kSetup,        // the request is being built: headers may still be added
        kSendingBody,  // handed to the stack; the caller's body comes in writes
        kAwaiting,     // the request is out; the response's headers are awaited
        kRedirecting,  // a followed redirect's response is being dropped
        kReceiving,    // the final response's headers are in; its body is read
        kDone,         // over; result_ says how and endedIn_ where
    };

    Transfer(const CurlTimeouts &timeouts, std::string agent, AccessType access)
        : timeouts_(timeouts), agent_(std::move(agent)), access_(access) {}

    ~Transfer() override {
        if (multi_ && easy_) curl_multi_remove_handle(multi_.get(), easy_.get());
    }

    void SetRequest(std::string url, std::string target, std::string verb) {
        url_ = std::move(url);
        target_ = std::move(target);
        verb_ = std::move(verb);
    }

    bool AddHeaderLine(std::string_view line) {
        std::string_view trimmed = Trim(line);
        if (trimmed.empty() || phase_ != Phase::kSetup) return false;
        // A header line may carry no raw line break of its own.
        if (trimmed.find_first_of("\r\n") != std::string_view::npos) return false;
        if (StartsWithNoCase(trimmed, "content-type:")) ownContentType_ = true;
        headerLines_.emplace_back(trimmed);
        return true;
    }

    bool AddHeaderBlock(std::string_view block) {
        while (!block.empty()) {
            std::size_t end = block.find("\r\n");
            std::string_view line = block.substr(0, end);
            if (!Trim(line).empty() && !AddHeaderLine(line)) return false;
            if (end == std::string_view::npos) break;
            block.remove_prefix(end + 2);
        }
        return true;
    }

    // Starts the exchange and drives it until the response's headers are in.
    bool StartWithoutBody() {
        if (!Start(false, 0)) return false;
        Drive([this] { return HeadersIn(); });
        return Succeeded(HeadersIn());
    }

    // Starts the exchange and drives it until the stack asks for body bytes.
    bool StartWithBody(std::uint32_t total) {
        if (!Start(true, total)) return false;
        Drive([this] { return pausedSend_ || HeadersIn(); });
        return Succeeded(pausedSend_ || HeadersIn());
    }

    bool OpenUrl() {
        follow_ = true;
        return StartWithoutBody();
    }

    bool WriteBody(const unsigned char *data, std::size_t size) {
        if (!BodyOpen()) return false;
        if (size > bodyTotal_ - bodyAccepted_) return false;
        while (size > 0) {
            std::size_t n = std::min(size, kUploadBlock - stagedEnd_);
            std::memcpy(staging_.get() + stagedEnd_, data, n);
            stagedEnd_ += n;
            bodyAccepted_ += n;
            data += n;
            size -= n;
            if (stagedEnd_ == kUploadBlock && !FlushStaging()) return false;
        }
        return true;
    }

    bool End() {
        if (!hasBody_ || bodyEnded_ || phase_ == Phase::kSetup) return false;
        bodyEnded_ = true;
        // The declared length is a promise to the server; a short body is never finished.
        if (bodyAccepted_ != bodyTotal_) {
            Abort();
            return false;
        }
        if (!FlushStaging()) return false;
        if (phase_ == Phase::kSendingBody) Enter(Phase::kAwaiting);
        Drive([this] { return HeadersIn(); });
        return Succeeded(HeadersIn());
    }

    bool ReadBody(unsigned char *buffer, std::size_t size, std::uint32_t *read) {
        *read = 0;
        if (phase_ == Phase::kSetup) return false;
        if (ringUsed_ == 0 && phase_ != Phase::kDone) {
            ResumeReceiving();
            Drive([this] { return ringUsed_ > 0; });
        }
        if (ringUsed_ == 0) return phase_ == Phase::kDone && result_ == CURLE_OK;
        std::size_t n = std::min(size, ringUsed_);
        std::size_t first = std::min(n, kReceiveRing - ringStart_);
        std::memcpy(buffer, ring_.get() + ringStart_, first);
        std::memcpy(buffer + first, ring_.get(), n - first);
        ringStart_ = (ringStart_ + n) % kReceiveRing;
        ringUsed_ -= n;
        *read = static_cast<std::uint32_t>(n);
        return true;
    }

    // The final response's first Location, as the platform reports it;
    // a trailer never counts.
    bool Location(std::string *value) const {
        curl_header *header = nullptr;
        if (!HeadersIn() ||
            curl_easy_header(easy_.get(), "Location", 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
            return false;
        *value = header->value;
        return true;
    }

private:
    void Enter(Phase next) { phase_ = next; }

    // The final response's headers arrived, whether or not the exchange
    // failed later (a body cut short): that failure belongs to the reads.
    bool HeadersIn() const {
        return phase_ == Phase::kReceiving || (phase_ == Phase::kDone && endedIn_ == Phase::kReceiving);
    }
    // Body bytes are taken until the caller ends the body, also once an
    // early answer came, for as long as the exchange goes on.
    bool BodyOpen() const {
        return hasBody_ && !bodyEnded_ &&
               (phase_ == Phase::kSendingBody || phase_ == Phase::kAwaiting || phase_ == Phase::kReceiving);
    }
    bool failed() const { return phase_ == Phase::kDone && result_ != CURLE_OK; }
    // Reaching the wanted state counts even if the exchange failed right
    // after it: that failure belongs to a later step.
    bool Succeeded(bool reached) const { return reached || (phase_ == Phase::kDone && result_ == CURLE_OK); }

    bool Start(bool hasBody, std::uint32_t total) {
        if (phase_ != Phase::kSetup) return false;
        hasBody_ = hasBody;
        bodyTotal_ = total;
        Enter(hasBody ? Phase::kSendingBody : Phase::kAwaiting);
        easy_.reset(curl_easy_init());
        // An empty handle: the stack could not be set up.
        multi_ = connection_pool::Take(Origin(url_));
        if (!easy_ || !multi_) return Fail();
        ring_.reset(new unsigned char[kReceiveRing]);
        if (hasBody) staging_.reset(new unsigned char[kUploadBlock]);

        // Every option must take: a stack that ignored one (an older libcurl
        // without protocol lists, say) would follow redirects it must not.
        CURL *e = easy_.get();
        bool ok = true;
        auto set = [&](CURLoption option, auto value) {
            ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK;
        };
        set(CURLOPT_URL, url_.c_str());
        if (!target_.empty()) set(CURLOPT_REQUEST_TARGET, target_.c_str());
        // The scheme follows the request flags; the operations always ask for
        // TLS. These hold for every hop of a followed redirect too: one never
        // leaves TLS once it was asked for, as the platform's stack refuses
        // such a redirect by default.
        const bool secure = StartsWithNoCase(url_, "https:");
        set(CURLOPT_PROTOCOLS_STR, secure ? "https" : "http,https");
        set(CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        set(CURLOPT_USERAGENT, agent_.c_str());
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        set(CURLOPT_CONNECTTIMEOUT_MS, timeouts_.connectMs);
        ok = ok && connection_pool::Configure(e) && multi_.Track(e);
        set(CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
        set(CURLOPT_OPENSOCKETDATA, this);
        // Names are the system resolver's business, as they were before
        // connections were pooled: a changed host table counts at once.
        set(CURLOPT_DNS_CACHE_TIMEOUT, 0L);
        // The stack resends a request whose reused connection died before any
        // answer; the server may have acted on the first, so this fails instead.
        set(CURLOPT_PREREQFUNCTION, &Transfer::OnPrerequest);
        set(CURLOPT_PREREQDATA, this);
        set(CURLOPT_BUFFERSIZE, kReceiveBuffer);
        // Direct access ignores any proxy the environment names; the
        // preconfigured access leaves the stack's own proxy handling in place.
        if (access_ == AccessType::kDirect) set(CURLOPT_PROXY, "");
        // A proxy's answer to CONNECT is not the server's: a refused or broken
        // tunnel is a failed connection, never a response.
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
        set(CURLOPT_WRITEDATA, this);
        errors_[0] = 0;
        set(CURLOPT_ERRORBUFFER, errors_);
        // The stack's own account of the exchange, only when someone reads it.
        if (call::Tracing()) {
            set(CURLOPT_VERBOSE, 1L);
            set(CURLOPT_DEBUGFUNCTION, &Transfer::OnDebug);
            set(CURLOPT_DEBUGDATA, this);
        }

        std::vector<std::string> lines = {"Accept: */*", "Expect:"};
        if (verb_ == "GET") {
            set(CURLOPT_HTTPGET, 1L);
        } else {
            // Every request that is not a GET declares its length, 0 when it has no body.
            set(CURLOPT_POST, 1L);
            if (verb_ != "POST") set(CURLOPT_CUSTOMREQUEST, verb_.c_str());
            if (hasBody) {
                set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(total));
                set(CURLOPT_READFUNCTION, &Transfer::OnUpload);
                set(CURLOPT_READDATA, this);
                set(CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(kUploadBlock));
            } else {
                set(CURLOPT_POSTFIELDS, "");
                set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            }
            // The stack would otherwise invent a form Content-Type of its own.
            if (!ownContentType_) lines.emplace_back("Content-Type:");
        }
        lines.insert(lines.end(), headerLines_.begin(), headerLines_.end());
        for (const std::string &line : lines) {
            curl_slist *next = curl_slist_append(headers_.get(), line.c_str());
            if (!next) return Fail();
            headers_.release();
            headers_.reset(next);
        }
        set(CURLOPT_HTTPHEADER, headers_.get());
        if (!ok || curl_multi_add_handle(multi_.get(), e) != CURLM_OK) return Fail();
        return true;
    }

    bool Fail() {
        Stop(CURLE_FAILED_INIT);
        return false;
    }

    void Abort() { Stop(CURLE_ABORTED_BY_CALLBACK); }

    // Ends the exchange for good; the response's bytes already in the ring stay readable.
    void Stop(CURLcode why) {
        Finish(why);
        if (multi_ && easy_) curl_multi_remove_handle(multi_.get(), easy_.get());
        multi_.reset();
    }

    void Finish(CURLcode why) {
        if (phase_ == Phase::kDone) return;
        if (why == CURLE_OK && closeAlert_ && !closeAlert_->load()) why = CURLE_PARTIAL_FILE;
        endedIn_ = phase_;
        result_ = why;
        Enter(Phase::kDone);
        CountHop();
        call::Sent(bodyHanded_);
        if (why != CURLE_OK) Describe(why);
        ReportProgress(true);
        if (call::Tracing())
            call::Trace("bytes: %llu sent, %llu received",
                        static_cast<unsigned long long>(sentHeaders_ + bodyHanded_),
                        static_cast<unsigned long long>(received_));
    }

    // The request bytes of the hop that ends here (the body is counted once, at the end).
    void CountHop() {
        long requestSize = 0;
        if (easy_ && curl_easy_getinfo(easy_.get(), CURLINFO_REQUEST_SIZE, &requestSize) == CURLE_OK &&
            requestSize > 0) {
            sentHeaders_ += static_cast<std::uint64_t>(requestSize);
            call::Sent(static_cast<std::uint64_t>(requestSize));
        }
    }

    std::string Host() const {
        std::string host;
        CURLU *url = curl_url();
        char *part = nullptr;
        if (url &&
            curl_url_set(url, CURLUPART_URL, next_.empty() ? url_.c_str() : next_.c_str(), 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_HOST, &part, 0) == CURLUE_OK)
            host = part;
        curl_free(part);
        curl_url_cleanup(url);
        return host.empty() ? "the server" : host;
    }

    // The cause of a failed exchange in the call's detail.
    void Describe(CURLcode why) {
        const std::string host = Host();
        const char *stack = errors_[0] ? errors_ : curl_easy_strerror(why);
        switch (why) {
            case CURLE_COULDNT_RESOLVE_HOST:
                return call::Fail(VFB_FAIL_NAME_RESOLUTION, "cannot resolve %s", host.c_str());
            case CURLE_COULDNT_RESOLVE_PROXY:
#if LIBCURL_VERSION_NUM >= 0x074900
            case CURLE_PROXY:
#endif
                return call::Fail(VFB_FAIL_PROXY, "the proxy failed for %s: %s", host.c_str(), stack);
            case CURLE_COULDNT_CONNECT:
                return call::Fail(VFB_FAIL_CONNECTION, "cannot connect to %s: %s", host.c_str(), stack);
            case CURLE_OPERATION_TIMEDOUT:
                if (stalled_)
                    return call::Fail(VFB_FAIL_STALLED, "no byte moved to or from %s for %ld ms",
                                      host.c_str(), timeouts_.stallMs);
                return call::Fail(VFB_FAIL_TIMEOUT, "connecting to %s took longer than %ld ms", host.c_str(),
                                  timeouts_.connectMs);
            case CURLE_PEER_FAILED_VERIFICATION: {
                long verify = X509_V_OK;
                curl_easy_getinfo(easy_.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
                if (verify != X509_V_OK)
                    return call::Fail(VFB_FAIL_TLS_CERTIFICATE, "certificate not trusted for %s: %s",
                                      host.c_str(), X509_verify_cert_error_string(verify));
                return call::Fail(VFB_FAIL_TLS_CERTIFICATE, "certificate not valid for %s: %s", host.c_str(),
                                  stack);
            }
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_ENGINE_INITFAILED:
                return call::Fail(VFB_FAIL_TLS, "TLS with %s failed: %s", host.c_str(), stack);
            case CURLE_SEND_ERROR:
                return call::Fail(VFB_FAIL_SEND, "sending to %s failed: %s", host.c_str(), stack);
            case CURLE_ABORTED_BY_CALLBACK:
                if (cancelled_) return call::Fail(VFB_FAIL_CANCELLED, "cancelled by the progress callback");
                if (attempts_ > 1)
                    return call::Fail(
                        VFB_FAIL_SEND,
                        "the connection to %s closed after the request went out; it is not sent again",
                        host.c_str());
                return call::Fail(VFB_FAIL_SEND, "the request body for %s ended before its declared length",
                                  host.c_str());
            case CURLE_WRITE_ERROR:
                if (response_.bad)
                    return call::Fail(VFB_FAIL_CUT_SHORT,
                                      "the answer from %s has conflicting or malformed lengths",
                                      host.c_str());
                return call::Fail(VFB_FAIL_CUT_SHORT, "the answer from %s could not be taken: %s",
                                  host.c_str(), stack);
            case CURLE_PARTIAL_FILE:
                if (closeAlert_ && !closeAlert_->load())
                    return call::Fail(VFB_FAIL_CUT_SHORT,
                                      "the answer from %s ended without TLS's close alert: it may be cut",
                                      host.c_str());
                return call::Fail(VFB_FAIL_CUT_SHORT, "the answer from %s was cut short: %s", host.c_str(),
                                  stack);
            case CURLE_RECV_ERROR:
            case CURLE_GOT_NOTHING:
                return call::Fail(VFB_FAIL_CUT_SHORT, "the answer from %s was cut short: %s", host.c_str(),
                                  stack);
            case CURLE_TOO_MANY_REDIRECTS:
                return call::Fail(VFB_FAIL_CONNECTION, "more than %ld redirects from %s", kMaxRedirects,
                                  host.c_str());
            case CURLE_UNSUPPORTED_PROTOCOL:
                return call::Fail(VFB_FAIL_CONNECTION,
                                  "a redirect from %s leads to a scheme not followed: %s", host.c_str(),
                                  stack);
            case CURLE_URL_MALFORMAT:
                return call::Fail(VFB_FAIL_INPUT, "the URL (or a redirect's Location) is malformed: %s",
                                  stack);
            default:
                return call::Fail(VFB_FAIL_CONNECTION, "the exchange with %s failed: %s", host.c_str(),
                                  stack);
        }
    }

    // Progress for the caller: whenever bytes moved, about every 100 ms while
    // none do, and once at the end. A refusal cancels the exchange.
    void ReportProgress(bool final) {
        if (!call::HasProgress()) return;
        const bool cancel = !call::Progress(bodyHanded_, bodyTotal_, bodyReceived_,
                                            response_.hasLength ? response_.declared : 0);
        if (cancel && !final && phase_ != Phase::kDone) {
            cancelled_ = true;
            Stop(CURLE_ABORTED_BY_CALLBACK);
        }
    }

    static int OnDebug(CURL *, curl_infotype type, char *data, std::size_t size, void *) {
        if (type != CURLINFO_TEXT && type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT) return 0;
        const char *mark = type == CURLINFO_HEADER_OUT ? "> " : type == CURLINFO_HEADER_IN ? "< " : "* ";
        std::string_view text(data, size);
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            const std::string_view line = Trim(text.substr(0, end));
            if (!line.empty()) call::Trace("%s%s", mark, call::Redact(line).c_str());
            if (end == std::string_view::npos) break;
            text.remove_prefix(end + 1);
        }
        return 0;
    }

    // The platform's stack has always followed these, and only with a
    // Location; any other 3xx (300, 305, 308, ...) is the answer itself.
    static bool Followed(long status) {
        return status == 301 || status == 302 || status == 303 || status == 307;
    }

    // Where the redirect leads, resolved against this hop's URL as the
    // stack resolves its own redirects; empty when it cannot be resolved.
    std::string RedirectTarget(const char *location) {
        char *current = nullptr;
        char *target = nullptr;
        std::string resolved;
        CURLU *url = curl_url();
        if (url && curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &current) == CURLE_OK && current &&
            curl_url_set(url, CURLUPART_URL, current, 0) == CURLUE_OK &&
            curl_url_set(url, CURLUPART_URL, location, CURLU_URLENCODE | CURLU_ALLOW_SPACE) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_URL, &target, 0) == CURLUE_OK)
            resolved = target;
        curl_free(target);
        curl_url_cleanup(url);
        return resolved;
    }

    // Drops the redirect's response and starts over at its target. Followed
    // by hand because the stack would follow every 3xx.
    void FollowRedirect() {
        CountHop();
        if (call::Tracing()) call::Trace("redirect to %s", call::Redact(next_).c_str());
        Enter(Phase::kAwaiting);
        attempts_ = 0;
        response_ = Framing();
        if (++hops_ > kMaxRedirects) return Stop(CURLE_TOO_MANY_REDIRECTS);
        if (next_.empty()) return Stop(CURLE_URL_MALFORMAT);
        curl_multi_remove_handle(multi_.get(), easy_.get());
        if (curl_easy_setopt(easy_.get(), CURLOPT_URL, next_.c_str()) != CURLE_OK ||
            curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK)
            Stop(CURLE_FAILED_INIT);
    }

    // Hands the staged block to the connection and waits until the stack has
    // sent it and asks for more (or the exchange has ended early).
    bool FlushStaging() {
        if (stagedStart_ == stagedEnd_) {
            stagedStart_ = stagedEnd_ = 0;
            return !failed();
        }
        ResumeSending();
        Drive([this] { return stagedStart_ == stagedEnd_ && (pausedSend_ || bodyHanded_ == bodyTotal_); });
        if (stagedStart_ != stagedEnd_ || failed()) return false;
        stagedStart_ = stagedEnd_ = 0;
        return true;
    }

    void ResumeSending() {
        if (!pausedSend_) return;
        pausedSend_ = false;
        Unpause();
    }
    void ResumeReceiving() {
        if (!pausedRecv_) return;
        pausedRecv_ = false;
        Unpause();
    }
    void Unpause() {
        if (phase_ == Phase::kDone || !easy_) return;
        curl_easy_pause(easy_.get(), (pausedRecv_ ? CURLPAUSE_RECV : 0) | (pausedSend_ ? CURLPAUSE_SEND : 0));
    }

    // Runs the stack until `reached`, the end of the exchange, or a stall:
    // no byte moved either way for the stall limit. The stack's own speed
    // check is not used: it judges an average, not silence, and it sleeps
    // while a direction is paused, which would let a call wait forever.
    template <typename Predicate>
    void Drive(Predicate reached) {
        using Clock = std::chrono::steady_clock;
        const auto limit = std::chrono::milliseconds(timeouts_.stallMs);
        // With a progress callback the caller hears from the call at least
        // this often, so that it can cancel a silent one.
        const auto tick = std::chrono::milliseconds(100);
        auto nextReport = Clock::now() + tick;
        // Counted from here: time the caller spent elsewhere was not the stack's.
        auto deadline = Clock::now() + limit;
        std::uint64_t seen = moved_;
        while (phase_ != Phase::kDone && !reached()) {
            int running = 0;
            if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
                Fail();
                break;
            }
            if (phase_ == Phase::kRedirecting) {
                FollowRedirect();
                continue;
            }
            int queued = 0;
            while (CURLMsg *msg = curl_multi_info_read(multi_.get(), &queued))
                if (msg->msg == CURLMSG_DONE) Finish(msg->data.result);
            if (phase_ == Phase::kDone) break;
            const auto now = Clock::now();
            if (moved_ != seen) {
                seen = moved_;
                deadline = now + limit;
                // Also when the bytes reach the goal: a body read returns as
                // soon as bytes arrive, so only here does the caller hear of them.
                ReportProgress(false);
                nextReport = now + tick;
                if (phase_ == Phase::kDone || reached()) break;
            } else if (reached()) {
                break;
            } else if (now >= deadline) {
                stalled_ = true;
                Stop(CURLE_OPERATION_TIMEDOUT);
                break;
            } else if (call::HasProgress() && now >= nextReport) {
                ReportProgress(false);
                nextReport = now + tick;
            }
            if (phase_ == Phase::kDone) break;
            auto until = deadline;
            if (call::HasProgress()) until = std::min(until, nextReport);
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
            curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::max<long long>(wait, 1)),
                            nullptr);
        }
    }

    // How the response being read declares its end. Conflicting or malformed
    // lengths leave no way to tell where this answer ends and the next
    // begins, so such a response is cut (and its connection closed).
    struct Framing {
        bool http10 = false;
        bool chunked = false;
        bool hasLength = false;
        bool bad = false;
        std::string length;          // as written, to compare repeated values
        std::uint64_t declared = 0;  // the same, as a number (0 without one)

        void Take(std::string_view value) {
            value = Trim(value);
            // A list of equal values is the one value; anything else is a conflict.
            while (!value.empty()) {
                const std::size_t comma = value.find(',');
                const std::string_view one = Trim(value.substr(0, comma));
                if (one.empty() || one.find_first_not_of("0123456789") != std::string_view::npos)
                    bad = true;
                else if (hasLength && one != length)
                    bad = true;
                hasLength = true;
                length.assign(one);
                declared = std::strtoull(length.c_str(), nullptr, 10);
                if (comma == std::string_view::npos) break;
                value.remove_prefix(comma + 1);
            }
            if (value.empty() && !hasLength) bad = true;
        }
    };

    // The stack keeps the headers themselves; what matters here is the
    // framing, and the end of a response's headers, where the response is
    // known to be final or not.
    static std::size_t OnHeader(char *data, std::size_t size, std::size_t count, void *self) {
        auto *t = static_cast<Transfer *>(self);
        const std::size_t n = size * count;
        t->moved_ += n;
        t->received_ += n;
        call::Received(n);
        // Trailers, and the headers of a redirect being dropped.
        if (t->phase_ == Phase::kReceiving || t->phase_ == Phase::kRedirecting) return n;
        const std::string_view line = Trim(std::string_view(data, n));
        if (StartsWithNoCase(line, "HTTP/")) {
            t->response_ = Framing();  // each response, interim ones too, frames itself
            t->response_.http10 = StartsWithNoCase(line, "HTTP/1.0");
            return n;
        }
        if (StartsWithNoCase(line, "content-length:")) {
            t->response_.Take(line.substr(std::strlen("content-length:")));
            return n;
        }
        if (StartsWithNoCase(line, "transfer-encoding:")) {
            t->response_.chunked = true;  // the stack itself refuses codings it cannot end
            return n;
        }
        if (!line.empty()) return n;
        long status = 0;
        curl_easy_getinfo(t->easy_.get(), CURLINFO_RESPONSE_CODE, &status);
        if (status < 200) return n;  // an interim answer: the real one follows
        if (t->response_.bad) {
            t->Enter(Phase::kReceiving);
            return 0;  // the stack fails the transfer and closes the connection
        }
        // An HTTP/1.0 server's idea of a kept connection is not to be trusted
        // with the next request.
        if (t->response_.http10) curl_easy_setopt(t->easy_.get(), CURLOPT_FORBID_REUSE, 1L);
        call::HttpStatus(static_cast<int>(status));
        long connects = 0;
        if (curl_easy_getinfo(t->easy_.get(), CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK)
            call::Reused(connects == 0);
        // A body that only the connection's end ends is complete only with
        // TLS's close alert before that end; a bare close may be a cut.
        t->closeAlert_ = nullptr;
        if (!t->response_.hasLength && !t->response_.chunked && status != 204 && status != 304)
            t->closeAlert_ = connection_pool::CloseAlertOf(t->easy_.get());
        curl_header *location = nullptr;
        if (t->follow_ && Followed(status) &&
            curl_easy_header(t->easy_.get(), "Location", 0, CURLH_HEADER, -1, &location) == CURLHE_OK &&
            *location->value) {
            t->next_ = t->RedirectTarget(location->value);
            t->Enter(Phase::kRedirecting);
        } else {
            t->Enter(Phase::kReceiving);
        }
        return n;
    }

    // Once a request went out on a reused connection that then died, the
    // stack would open another to send it again: no connection for that.
    static curl_socket_t OnOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address) {
        auto *t = static_cast<Transfer *>(self);
        return t->attempts_ > 0 ? CURL_SOCKET_BAD : t->multi_.OpenSocket(purpose, address);
    }

    // Called once per attempt, right before a request goes out.
    static int OnPrerequest(void *self, char *, char *, int, int) {
        auto *t = static_cast<Transfer *>(self);
        return ++t->attempts_ > 1 ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
    }

    static std::size_t OnBody(char *data, std::size_t size, std::size_t count, void *self) {
        auto *t = static_cast<Transfer *>(self);
        const std::size_t n = size * count;
        if (t->phase_ == Phase::kRedirecting) {
            t->moved_ += n;
            t->received_ += n;
            call::Received(n);
            return n;
        }
        // A body without headers (HTTP/0.9 is refused by the stack) still
        // makes this the final response.
        if (t->phase_ != Phase::kReceiving) t->Enter(Phase::kReceiving);
        if (n > kReceiveRing - t->ringUsed_) {
            t->pausedRecv_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        t->moved_ += n;
        t->received_ += n;
        t->bodyReceived_ += n;
        call::Received(n);
        // Bytes past the declared end (the stack reads no further than the
        // length) would be taken for the next call's answer: such a
        // connection is not kept.
        if (t->response_.hasLength && t->bodyReceived_ >= t->response_.declared &&
            connection_pool::HasUnreadTls(t->easy_.get()))
            curl_easy_setopt(t->easy_.get(), CURLOPT_FORBID_REUSE, 1L);
        std::size_t tail = (t->ringStart_ + t->ringUsed_) % kReceiveRing;
        std::size_t first = std::min(n, kReceiveRing - tail);
        std::memcpy(t->ring_.get() + tail, data, first);
        std::memcpy(t->ring_.get(), data + first, n - first);
        t->ringUsed_ += n;
        return n;
    }

    static std::size_t OnUpload(char *buffer, std::size_t size, std::size_t count, void *self) {
        auto *t = static_cast<Transfer *>(self);
        const std::size_t available = t->stagedEnd_ - t->stagedStart_;
        if (available == 0) {
            t->pausedSend_ = true;
            return CURL_READFUNC_PAUSE;
        }
        const std::size_t n = std::min(size * count, available);
        std::memcpy(buffer, t->staging_.get() + t->stagedStart_, n);
        t->stagedStart_ += n;
        t->bodyHanded_ += n;
        t->moved_ += n;
        return n;
    }

    CurlTimeouts timeouts_;
    std::string agent_;
    AccessType access_;
    std::string url_, target_, verb_;
    std::vector<std::string> headerLines_;
    bool ownContentType_ = false;  // the caller named the body's type itself
    bool follow_ = false;          // a URL open, which follows redirects
    bool hasBody_ = false;         // a body of the declared length comes in writes
    bool bodyEnded_ = false;       // the caller has finished it

    Phase phase_ = Phase::kSetup;
    Phase endedIn_ = Phase::kSetup;
    bool pausedSend_ = false;  // the stack waits for staged body bytes
    bool pausedRecv_ = false;  // the ring was full: the stack holds the response
    PooledMulti multi_;
    std::unique_ptr<CURL, CurlEasyDeleter> easy_;
    std::unique_ptr<curl_slist, SlistDeleter> headers_;
    CURLcode result_ = CURLE_OK;
    Framing response_;
    connection_pool::CloseAlertFlag closeAlert_;  // set while a close-delimited body is read

    std::uint64_t moved_ = 0;  // bytes either way, for the stall rule
    std::uint64_t sentHeaders_ = 0, received_ = 0, bodyReceived_ = 0;
    bool stalled_ = false;    // ended by the stall rule
    bool cancelled_ = false;  // ended by the caller's progress callback
    char errors_[CURL_ERROR_SIZE];
    long hops_ = 0;     // redirects followed so far
    int attempts_ = 0;  // requests sent for this hop
    std::string next_;  // where the redirect being dropped leads

    std::uint64_t bodyTotal_ = 0, bodyAccepted_ = 0, bodyHanded_ = 0;
    std::unique_ptr<unsigned char[]> staging_;
    std::size_t stagedStart_ = 0, stagedEnd_ = 0;

    std::unique_ptr<unsigned char[]> ring_;
    std::size_t ringStart_ = 0, ringUsed_ = 0;
};

template <typename T>
T *As(InternetHandle handle) {
    return dynamic_cast<T *>(handle);
}

}  // namespace

InternetHandle CurlInternet::Open(WStringView agent, AccessType access) {
    auto *root = new Root;
    root->agent = NarrowText(agent);
    root->access = access;
    return root;
}

InternetHandle CurlInternet::Connect(InternetHandle root, WStringView host, std::uint16_t port) {
    Root *parent = As<Root>(root);
    if (!parent || host.empty()) return nullptr;
    auto *connection = new Connection;
    connection->agent = parent->agent;
    connection->access = parent->access;
    connection->host = NarrowText(host);
    connection->port = port;
    return connection;
}

InternetHandle CurlInternet::OpenRequest(InternetHandle connection, WStringView verb, WStringView target,
                                         WStringView /*version: always HTTP/1.1*/, std::uint32_t flags) {
    Connection *parent = As<Connection>(connection);
    if (!parent || verb.empty()) return nullptr;
    std::string scheme = (flags & kFlagSecure) ? "https://" : "http://";
    std::string target8 = EscapeRequestTarget(target.empty() ? WidenAscii("/") : WString(target));
    if (target8.front() != '/') target8.insert(target8.begin(), '/');
    auto *transfer = new Transfer(timeouts_, parent->agent, parent->access);
    transfer->SetRequest(scheme + parent->host + ":" + std::to_string(parent->port) + "/", std::move(target8),
                         NarrowText(verb));
    return transfer;
}

bool CurlInternet::AddHeader(InternetHandle request, WStringView line) {
    Transfer *t = As<Transfer>(request);
    return t && t->AddHeaderLine(NarrowText(line));
}

bool CurlInternet::Send(InternetHandle request, WStringView headers) {
    Transfer *t = As<Transfer>(request);
    return t && t->AddHeaderBlock(NarrowText(headers)) && t->StartWithoutBody();
}

bool CurlInternet::SendWithBody(InternetHandle request, std::uint32_t bodyLength) {
    Transfer *t = As<Transfer>(request);
    return t && t->StartWithBody(bodyLength);
}

bool CurlInternet::Write(InternetHandle request, const void *data, std::uint32_t size) {
    Transfer *t = As<Transfer>(request);
    return t && (size == 0 || data) && t->WriteBody(static_cast<const unsigned char *>(data), size);
}

bool CurlInternet::EndRequest(InternetHandle request) {
    Transfer *t = As<Transfer>(request);
    return t && t->End();
}

bool CurlInternet::Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) {
    Transfer *t = As<Transfer>(handle);
    if (read) *read = 0;
    return t && buffer && read && t->ReadBody(static_cast<unsigned char *>(buffer), size, read);
}

bool CurlInternet::QueryLocation(InternetHandle request, WChar *buffer, std::uint32_t *sizeBytes) {
    Transfer *t = As<Transfer>(request);
    std::string value;
    if (!t || !buffer || !sizeBytes || !t->Location(&value)) return false;
    // Header bytes widen one to one, as the platform does for its code page's ASCII range.
    const std::size_t units = value.size();
    if ((units + 1) * sizeof(WChar) > *sizeBytes) return false;
    for (std::size_t i = 0; i < units; ++i)
        buffer[i] = static_cast<WChar>(static_cast<unsigned char>(value[i]));
    buffer[units] = 0;
    *sizeBytes = static_cast<std::uint32_t>(units * sizeof(WChar));
    return true;
}

InternetHandle CurlInternet::OpenUrl(InternetHandle root, WStringView url, std::uint32_t /*flags*/) {
    Root *parent = As<Root>(root);
    if (!parent || url.empty()) return nullptr;
    auto transfer = std::make_unique<Transfer>(timeouts_, parent->agent, parent->access);
    transfer->SetRequest(EscapeRequestTarget(url), std::string(), "GET");
    if (!transfer->OpenUrl()) return nullptr;
    return transfer.release();
}

bool CurlInternet::Close(InternetHandle handle) {
    if (!handle) return false;
    delete handle;
    return true;
}

}  // namespace vfb
