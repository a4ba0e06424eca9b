// The libcurl stack against a small scripted HTTP server on loopback: what
// goes on the wire, back-pressure both ways, and the time-outs shrunk.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

#include "fake_platform.h"
#include "http/curl/curl_internet.h"

namespace vfb {
namespace {

using testing::W;

struct Received {
    std::string head;  // request line and headers
    std::string body;
};

// Serves one connection at a time; each answer is a function of the request
// that writes to the socket however it likes (stall, cut short, ...). Without
// `readBodies` it answers as soon as the request's headers are in.
class LoopbackServer {
public:
    using Answer = std::function<void(int fd, const Received &)>;

    explicit LoopbackServer(std::vector<Answer> answers, bool readBodies = true)
        : answers_(std::move(answers)), readBodies_(readBodies) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(listener_, 4);
        timeval patience{10, 0};  // a client that never comes must not hang the suite
        setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        Stop();
        close(listener_);
    }

    // Waits until every answer was served (or a client never came); after
    // this, `received` is safe to read.
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    // Takes no further connection; after this, `received` is safe to read.
    void Stop() {
        shutdown(listener_, SHUT_RDWR);
        Join();
    }

    std::uint16_t port = 0;
    std::vector<Received> received;

private:
    void Serve() {
        for (Answer &answer : answers_) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            Received r;
            char buf[65536];
            std::size_t headEnd = std::string::npos;
            std::string data;
            while (headEnd == std::string::npos) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                data.append(buf, static_cast<std::size_t>(n));
                headEnd = data.find("\r\n\r\n");
            }
            if (headEnd != std::string::npos) {
                r.head = data.substr(0, headEnd + 4);
                r.body = data.substr(headEnd + 4);
                std::size_t want = 0;
                auto cl = r.head.find("Content-Length: ");
                if (cl != std::string::npos && readBodies_) want = std::stoul(r.head.substr(cl + 16));
                while (r.body.size() < want) {
                    ssize_t n = recv(fd, buf, sizeof buf, 0);
                    if (n <= 0) break;
                    r.body.append(buf, static_cast<std::size_t>(n));
                }
            }
            received.push_back(r);
            answer(fd, r);
            close(fd);
        }
    }

    int listener_;
    std::vector<Answer> answers_;
    bool readBodies_;
    std::thread thread_;
};

void SendAll(int fd, const std::string &bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += static_cast<std::size_t>(n);
    }
}

LoopbackServer::Answer Reply(std::string status, std::string headers, std::string body) {
    return [=](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\nConnection: close\r\n" + headers + "\r\n" + body);
    };
}

// The request's Host value ("127.0.0.1:port"), for answers that name their own server.
std::string HostOf(const Received &r) {
    const std::size_t at = r.head.find("\r\nHost: ") + 8;
    return r.head.substr(at, r.head.find("\r\n", at) - at);
}

class CurlTransport : public ::testing::Test {
protected:
    struct Exchange {
        InternetHandle root, connection, request;
    };
    Exchange Open(CurlInternet &net, std::uint16_t port, const char *verb, const std::string &target) {
        Exchange e;
        e.root = net.Open(W("Agent/1"), AccessType::kDirect);
        e.connection = net.Connect(e.root, W("127.0.0.1"), port);
        // No TLS flag: plain HTTP on loopback exercises the same stack.
        e.request = net.OpenRequest(e.connection, W(verb), W(target), WStringView(), kFlagReload);
        return e;
    }
    void CloseAll(CurlInternet &net, Exchange &e) {
        EXPECT_TRUE(net.Close(e.request));
        EXPECT_TRUE(net.Close(e.connection));
        EXPECT_TRUE(net.Close(e.root));
    }
    std::string ReadAll(CurlInternet &net, InternetHandle h, std::uint32_t chunk, bool *ok) {
        std::string out;
        std::vector<char> buf(chunk);
        std::uint32_t read = 0;
        *ok = true;
        for (;;) {
            if (!net.Read(h, buf.data(), chunk, &read)) {
                *ok = false;
                break;
            }
            if (read == 0) break;
            out.append(buf.data(), read);
        }
        return out;
    }
};

TEST_F(CurlTransport, ABodylessPostDeclaresZeroLengthAndNothingElse) {
    LoopbackServer server({Reply("200 OK", "", "done")});
    CurlInternet net;
    Exchange e = Open(net, server.port, "DELETE", "/1 2/x?a=b");
    ASSERT_TRUE(net.Send(e.request, W("Content-Type: text/plain\r\n")));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 512, &ok), "done");
    EXPECT_TRUE(ok);
    CloseAll(net, e);
    const std::string &head = server.received.at(0).head;
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "DELETE /1%202/x?a=b HTTP/1.1");
    EXPECT_NE(head.find("\r\nUser-Agent: Agent/1\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nAccept: */*\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nContent-Length: 0\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
    EXPECT_EQ(head.find("Expect"), std::string::npos);
    EXPECT_EQ(head.find("x-www-form-urlencoded"), std::string::npos);
}

TEST_F(CurlTransport, ABodyIsStreamedWithItsDeclaredLengthAndNeverChunked) {
    std::string body;
    for (int i = 0; i < 3 * 1024 * 1024 + 7; ++i) body.push_back(static_cast<char>(i * 31 + (i >> 9)));
    LoopbackServer server({Reply("201 Created", "", "{\"id\":1}")});
    CurlInternet net;
    Exchange e = Open(net, server.port, "POST", "/up");
    ASSERT_TRUE(net.AddHeader(e.request, W("Content-Type: multipart/form-data; boundary=--x\r\n")));
    ASSERT_TRUE(net.SendWithBody(e.request, static_cast<std::uint32_t>(body.size())));
    for (std::size_t off = 0; off < body.size(); off += 1024) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(1024, body.size() - off));
        ASSERT_TRUE(net.Write(e.request, body.data() + off, n));
    }
    ASSERT_TRUE(net.Write(e.request, "", 0));
    ASSERT_TRUE(net.EndRequest(e.request));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 4095, &ok), "{\"id\":1}");
    CloseAll(net, e);
    const Received &r = server.received.at(0);
    EXPECT_NE(r.head.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(r.head.find("chunked"), std::string::npos);
    EXPECT_EQ(r.head.find("Expect"), std::string::npos);
    EXPECT_TRUE(r.body == body) << "body differs";
}

TEST_F(CurlTransport, AShortBodyIsNeverFinished) {
    // Answers as soon as any body byte arrives, as a server taking what it got.
    auto answerWhatArrived = [](int fd, const Received &r) {
        timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char byte;
        if (!r.body.empty() || recv(fd, &byte, 1, 0) == 1)
            SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    };
    LoopbackServer server({answerWhatArrived}, false);
    CurlInternet net;
    Exchange e = Open(net, server.port, "POST", "/up");
    ASSERT_TRUE(net.SendWithBody(e.request, 100));
    ASSERT_TRUE(net.Write(e.request, "0123456789", 10));
    EXPECT_FALSE(net.Write(e.request, std::string(91, 'x').data(), 91)) << "more than declared";
    EXPECT_FALSE(net.EndRequest(e.request));
    CloseAll(net, e);
    server.Join();
    ASSERT_EQ(server.received.size(), 1u);
    EXPECT_LT(server.received[0].body.size(), 100u);
}

TEST_F(CurlTransport, ALargeDownloadArrivesWholeThroughSmallReads) {
    std::string body(20 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i ^ (i >> 11));
    LoopbackServer server({Reply("200 OK", "", body)});
    CurlInternet net;
    Exchange e = Open(net, server.port, "GET", "/big");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    bool ok;
    std::string got = ReadAll(net, e.request, 512, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(got == body) << "got " << got.size() << " bytes";
    CloseAll(net, e);
}

TEST_F(CurlTransport, RedirectsAreReportedOnRequestsAndFollowedByUrlOpens) {
    // The reported Location is the final response's first, never an interim answer's, a later
    // one's nor a trailer's.
    auto interimThenTwoLocations = [](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 103 Early Hints\r\nLocation: /interim\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // not in the same read
        SendAll(fd,
                "HTTP/1.1 302 Found\r\nLocation: https://example.invalid/cb#access_token=t\r\n"
                "Location: /second\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                "5\r\nmoved\r\n0\r\nLocation: /trailer\r\n\r\n");
    };
    LoopbackServer server({interimThenTwoLocations, Reply("302 Found", "Location: /final\r\n", "moved"),
                           Reply("200 OK", "", "final")});
    CurlInternet net;
    Exchange e = Open(net, server.port, "POST", "/dialog");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    // Known once the request is sent, as with the platform's stack.
    WChar location[64] = {};
    std::uint32_t size = sizeof location;
    ASSERT_TRUE(net.QueryLocation(e.request, location, &size));
    EXPECT_EQ(WString(location), W("https://example.invalid/cb#access_token=t"));
    EXPECT_EQ(size, 41 * sizeof(WChar));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 4095, &ok), "moved");
    size = sizeof location;
    ASSERT_TRUE(net.QueryLocation(e.request, location, &size));
    EXPECT_EQ(WString(location), W("https://example.invalid/cb#access_token=t"));
    // Too small a field: refused and left untouched.
    WChar tiny[8] = {'u', 0};
    size = sizeof tiny;
    EXPECT_FALSE(net.QueryLocation(e.request, tiny, &size));
    EXPECT_EQ(tiny[0], 'u');
    CloseAll(net, e);

    InternetHandle root = net.Open(W("A"), AccessType::kDirect);
    InternetHandle url =
        net.OpenUrl(root, W("http://127.0.0.1:" + std::to_string(server.port) + "/start"), kUrlFlags);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(ReadAll(net, url, 512, &ok), "final");
    net.Close(root);
    net.Close(url);
    EXPECT_EQ(server.received.at(2).head.substr(0, 20), "GET /final HTTP/1.1\r");
}

// A URL open follows what the platform's stack has always followed; any other
// 3xx is the answer itself. Each hop keeps the open's protections. An interim
// (1xx) answer is never taken for the redirect, nor for the answer.
TEST_F(CurlTransport, UrlOpensFollowOnlyTheClassicRedirects) {
    struct Row {
        const char *status;
        const char *location;      // "$HOST": this server's host and port
        const char *body;          // null: the open fails
        const char *interim = "";  // sent before the answer
    } rows[] = {
        {"300 Multiple Choices", "/next", "moved"},
        {"301 Moved Permanently", "/next", "final"},
        {"302 Found", "/next", "final"},
        {"303 See Other", "/next", "final"},
        {"305 Use Proxy", "/next", "moved"},
        {"307 Temporary Redirect", "/next", "final"},
        {"308 Permanent Redirect", "/next", "moved"},
        {"399 Odd", "/next", "moved"},
        {"302 Found", nullptr, "moved"},
        {"302 Found", "file:///etc/passwd", nullptr},
        // A user name is refused even where the server would answer.
        {"302 Found", "http://user@$HOST/next", nullptr},
        {"302 Found", "http://user:pw@$HOST/next", nullptr},
        {"302 Found", "/next", "final", "HTTP/1.1 100 Continue\r\n\r\n"},
        {"302 Found", "/next", "final", "HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\n"},
    };
    CurlInternet net;
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.status) + " to " + (row.location ? row.location : "nowhere"));
        auto redirect = [&row](int fd, const Received &r) {
            std::string location = row.location ? row.location : "";
            if (location.find("$HOST") != std::string::npos)
                location.replace(location.find("$HOST"), 5, HostOf(r));
            SendAll(fd, row.interim);
            Reply(row.status, row.location ? "Location: " + location + "\r\n" : "", "moved")(fd, r);
        };
        LoopbackServer server({redirect, Reply("200 OK", "", "final")});
        InternetHandle root = net.Open(W("A"), AccessType::kPreconfigured);
        InternetHandle url =
            net.OpenUrl(root, W("http://127.0.0.1:" + std::to_string(server.port) + "/start"), kUrlFlags);
        if (!row.body) {
            EXPECT_EQ(url, nullptr);
        } else if (url) {
            bool ok;
            EXPECT_EQ(ReadAll(net, url, 512, &ok), row.body);
            EXPECT_TRUE(ok);
        } else {
            ADD_FAILURE() << "open failed";
        }
        if (url) net.Close(url);
        net.Close(root);
    }
    // Ten hops are followed; the eleventh redirect fails the open.
    for (int hops : {10, 11}) {
        std::vector<LoopbackServer::Answer> answers(hops, Reply("302 Found", "Location: /hop\r\n", "moved"));
        answers.push_back(Reply("200 OK", "", "final"));
        LoopbackServer server(answers);
        InternetHandle root = net.Open(W("A"), AccessType::kPreconfigured);
        InternetHandle url =
            net.OpenUrl(root, W("http://127.0.0.1:" + std::to_string(server.port) + "/start"), kUrlFlags);
        EXPECT_EQ(url != nullptr, hops == 10) << hops << " hops";
        if (url) net.Close(url);
        net.Close(root);
    }
}

// A call rides the connection an earlier one left open; when that connection
// dies after the request went out, the server may have acted on it, so it is
// never sent again: the call fails.
TEST_F(CurlTransport, ARequestLostOnAReusedConnectionIsNeverSentAgain) {
    std::string unanswered;
    auto answerThenDropTheNext = [&unanswered](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst");
        char buf[4096];
        ssize_t n;
        while (unanswered.find("\r\n\r\n") == std::string::npos && (n = recv(fd, buf, sizeof buf, 0)) > 0)
            unanswered.append(buf, static_cast<std::size_t>(n));
    };
    LoopbackServer server({answerThenDropTheNext, Reply("200 OK", "", "sent again")});
    CurlInternet net;
    Exchange e = Open(net, server.port, "POST", "/first");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 512, &ok), "first");
    CloseAll(net, e);
    e = Open(net, server.port, "POST", "/second");
    EXPECT_FALSE(net.Send(e.request, WStringView()));
    CloseAll(net, e);
    server.Stop();
    EXPECT_EQ(server.received.size(), 1u) << "connections";
    EXPECT_EQ(unanswered.rfind("POST /second HTTP/1.1\r\n", 0), 0u) << unanswered;
}

// A plain-HTTP fetch whose kept connection the server closed while it sat
// idle gets a new one: the closed one is noticed before the request goes out.
TEST_F(CurlTransport, AConnectionClosedWhileIdleIsReplacedBeforeUse) {
    auto answerKeptThenClose = [](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst");
        ::usleep(100 * 1000);
        ::shutdown(fd, SHUT_RDWR);
    };
    LoopbackServer server({answerKeptThenClose, Reply("200 OK", "", "second")});
    CurlInternet net;
    InternetHandle root = net.Open(W("A"), AccessType::kPreconfigured);
    const WString url = W("http://127.0.0.1:" + std::to_string(server.port) + "/x");
    bool ok;
    InternetHandle first = net.OpenUrl(root, url, kUrlFlags);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ReadAll(net, first, 512, &ok), "first");
    net.Close(first);
    ::usleep(300 * 1000);  // the server has closed it by now
    InternetHandle second = net.OpenUrl(root, url, kUrlFlags);
    ASSERT_NE(second, nullptr) << "the closed connection was taken for a live one";
    EXPECT_EQ(ReadAll(net, second, 512, &ok), "second");
    net.Close(second);
    net.Close(root);
    server.Stop();
    EXPECT_EQ(server.received.size(), 2u);
}

// Sets the proxy variables the stack reads for the scope, and restores them.
class ScopedProxyEnvironment {
public:
    explicit ScopedProxyEnvironment(const std::string &proxy) {
        for (const char *name : kNames) {
            const char *value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            if (std::strstr(name, "no_proxy") || std::strstr(name, "NO_PROXY"))
                unsetenv(name);
            else
                setenv(name, proxy.c_str(), 1);
        }
    }
    ~ScopedProxyEnvironment() {
        for (const auto &[name, value] : saved_) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }

private:
    static constexpr const char *kNames[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy",
                                             "NO_PROXY"};
    std::vector<std::pair<const char *, std::optional<std::string>>> saved_;
};

TEST_F(CurlTransport, AProxysOwnAnswerIsNeverTakenForTheServersAndDirectAccessSkipsIt) {
    auto acceptThenHangUp = [](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
    };
    // The proxy would also serve the direct request; it must not get it.
    LoopbackServer proxy({Reply("407 Proxy Authentication Required", "", "denied"), acceptThenHangUp,
                          Reply("200 OK", "", "proxied"), Reply("200 OK", "", "proxied too")});
    LoopbackServer server({Reply("200 OK", "", "direct")});
    ScopedProxyEnvironment environment("http://127.0.0.1:" + std::to_string(proxy.port));
    CurlInternet net;
    InternetHandle root = net.Open(W("A"), AccessType::kPreconfigured);
    EXPECT_EQ(net.OpenUrl(root, W("https://example.invalid/refused"), kUrlFlags), nullptr) << "407";
    EXPECT_EQ(net.OpenUrl(root, W("https://example.invalid/cut"), kUrlFlags), nullptr) << "hung up";
    InternetHandle url = net.OpenUrl(root, W("http://example.invalid/through"), kUrlFlags);
    ASSERT_NE(url, nullptr);
    bool ok;
    EXPECT_EQ(ReadAll(net, url, 512, &ok), "proxied");
    net.Close(url);
    net.Close(root);

    Exchange e = Open(net, server.port, "POST", "/direct");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    EXPECT_EQ(ReadAll(net, e.request, 512, &ok), "direct");
    CloseAll(net, e);
    proxy.Stop();
    server.Stop();
    ASSERT_EQ(proxy.received.size(), 3u);
    EXPECT_EQ(proxy.received[0].head.rfind("CONNECT example.invalid:443 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(proxy.received[1].head.rfind("CONNECT example.invalid:443 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(proxy.received[2].head.rfind("GET http://example.invalid/through HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(server.received.at(0).head.rfind("POST /direct HTTP/1.1\r\n", 0), 0u);
}

TEST_F(CurlTransport, ABodyCutShortFailsTheRead) {
    LoopbackServer server({[](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(400, 'h'));
    }});
    CurlInternet net;
    Exchange e = Open(net, server.port, "POST", "/x");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 512, &ok).size(), 400u);
    EXPECT_FALSE(ok);
    CloseAll(net, e);
}

// Holds the connection open without a word until the client gives up.
void WaitForClientToLeave(int fd) {
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char byte;
    while (recv(fd, &byte, 1, 0) > 0) {
    }
}

TEST_F(CurlTransport, AStalledServerFailsWithinTheStallTimeout) {
    auto stall = [](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
        WaitForClientToLeave(fd);
    };
    auto silent = [](int fd, const Received &) { WaitForClientToLeave(fd); };
    // Answers before the body, more than the client buffers, and reads no more.
    auto earlyAnswer = [](int fd, const Received &) {
        SendAll(fd, "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 409600\r\n\r\n" +
                        std::string(400 * 1024, 'e'));
        pollfd hangUp{fd, POLLRDHUP, 0};
        poll(&hangUp, 1, 10000);
    };
    LoopbackServer server({silent, stall, earlyAnswer}, false);
    CurlTimeouts shrunk;
    shrunk.connectMs = 1000;
    shrunk.stallMs = 1000;
    CurlInternet net(shrunk);

    auto start = std::chrono::steady_clock::now();
    Exchange e = Open(net, server.port, "POST", "/silent");
    EXPECT_FALSE(net.Send(e.request, WStringView()));
    CloseAll(net, e);

    e = Open(net, server.port, "POST", "/stall");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 512, &ok), "abc");
    EXPECT_FALSE(ok);
    CloseAll(net, e);

    e = Open(net, server.port, "POST", "/upload");
    const std::uint32_t total = 64u << 20;
    ASSERT_TRUE(net.SendWithBody(e.request, total));
    std::vector<char> block(64 * 1024, 'u');
    std::uint32_t written = 0;
    while (written < total && net.Write(e.request, block.data(), static_cast<std::uint32_t>(block.size())))
        written += static_cast<std::uint32_t>(block.size());
    EXPECT_LT(written, total);
    CloseAll(net, e);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

// The stall rule is about silence, not speed: a byte now and then keeps a
// transfer alive, within one wait (the head, longer than the limit in all) as
// across reads (the body).
TEST_F(CurlTransport, ASlowButSteadyServerIsNeverCut) {
    LoopbackServer server({[](int fd, const Received &) {
        for (const char *piece : {"HTTP/1.1 200 OK\r\n", "Content-Length: 3\r\n", "X-Slow: 1\r\n",
                                  "X-Slow: 2\r\n", "X-Slow: 3\r\n", "\r\n", "a", "b", "c"}) {
            if (*piece != 'H') std::this_thread::sleep_for(std::chrono::milliseconds(600));
            SendAll(fd, piece);
        }
    }});
    CurlTimeouts shrunk;
    shrunk.stallMs = 2000;
    CurlInternet net(shrunk);
    Exchange e = Open(net, server.port, "GET", "/slow");
    ASSERT_TRUE(net.Send(e.request, WStringView()));
    bool ok;
    EXPECT_EQ(ReadAll(net, e.request, 512, &ok), "abc");
    EXPECT_TRUE(ok);
    CloseAll(net, e);
}

TEST_F(CurlTransport, NothingWorksOnANullOrRefusedHandle) {
    CurlInternet net;
    EXPECT_EQ(net.Connect(nullptr, W("h"), 443), nullptr);
    EXPECT_EQ(net.OpenRequest(nullptr, W("GET"), W("/"), WStringView(), kRequestFlags), nullptr);
    EXPECT_EQ(net.OpenUrl(nullptr, W("https://x/"), kUrlFlags), nullptr);
    EXPECT_FALSE(net.Send(nullptr, WStringView()));
    std::uint32_t read = 7;
    char buf[4];
    EXPECT_FALSE(net.Read(nullptr, buf, 4, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(net.Close(nullptr));
    // A port nobody listens on: the failure shows when the request is sent.
    std::uint16_t port;
    {
        LoopbackServer closed({});
        port = closed.port;
    }
    Exchange e = Open(net, port, "GET", "/");
    ASSERT_NE(e.request, nullptr);
    EXPECT_FALSE(net.Send(e.request, WStringView()));
    EXPECT_FALSE(net.Read(e.request, buf, 4, &read));
    CloseAll(net, e);
    InternetHandle root = net.Open(W("A"), AccessType::kDirect);
    EXPECT_EQ(net.OpenUrl(root, W("file:///etc/passwd"), kUrlFlags), nullptr);
    net.Close(root);
}

}  // namespace
}  // namespace vfb
