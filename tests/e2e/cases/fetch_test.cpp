// URL fetch beyond the rows: large and replaced bodies.
#include "rows.h"

namespace e2e {
namespace {

using Fetch = E2ETest;

TEST_F(Fetch, OneMiBStoredByteExact) {
    E2E_NEED_SERVICE();
    WriteScript({Response::Generated(1 << 20, 11)});
    EXPECT_EQ(FaceBookToken(Widen("https://graph.facebook.com/big").c_str(), WidePath(Out()).c_str()),
              VFB_DONE);
    auto requests = WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    std::string bytes;
    ASSERT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes.size(), 1u << 20);
    EXPECT_EQ(Sha256Hex(bytes), requests[0].responseSha256);
}

TEST_F(Fetch, ShorterSecondBodyReplacesFirst) {
    E2E_NEED_SERVICE();
    std::string first(5000, 'x');
    WriteScript({Response::Ok(first), Response::Ok("short")});
    auto url = Widen("https://graph.facebook.com/me");
    EXPECT_EQ(FaceBookToken(url.c_str(), WidePath(Out()).c_str()), VFB_DONE);
    std::string bytes;
    ASSERT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes, first);
    EXPECT_EQ(FaceBookToken(url.c_str(), WidePath(Out()).c_str()), VFB_DONE);
    ASSERT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes, "short");
}

TEST_F(Fetch, EverySecondCallIsAFreshRequest) {
    E2E_NEED_SERVICE();
    WriteScript({Response::Ok("one"), Response::Ok("two")});
    auto url = Widen("https://api.facebook.com/method/x?a=1");
    EXPECT_EQ(FaceBookToken(url.c_str(), WidePath(Out()).c_str()), VFB_DONE);
    EXPECT_EQ(FaceBookToken(url.c_str(), WidePath(Out()).c_str()), VFB_DONE);
    auto requests = WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].raw, requests[1].raw) << "the same URL gives the same request";
    std::string bytes;
    ASSERT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes, "two");
}

// A body longer than its declared length on a kept-alive connection: the
// bytes past the length are never stored, and never taken for the next
// call's answer (that call gets its own).
// DISABLED: it fails on both builds today. The first call stores "hello" on
// both, but libcurl (7.88) puts the connection back in the pool with the
// excess bytes unread, and Wine's WinINet keeps it too, so the second call
// stores "stale" from the first answer. The fix is the pool's (drop a
// connection whose answer had bytes past its length); then enable this, and
// list it in tests/e2e/windows/wine_skips.cpp (kStaleBytesAnswer) for Wine.
TEST_F(Fetch, BytesPastContentLengthNeverAnswerTheNextCall) {
    E2E_NEED_SERVICE();
    Response first = Response::Ok("helloHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nstale");
    first.WithHeader("Content-Length", "5");
    first.WithKeepAlive(5);
    WriteScript({first, Response::Ok("second")});
    auto url = Widen("https://graph.facebook.com/o");
    EXPECT_EQ(FaceBookToken(url.c_str(), WidePath(Out()).c_str()), VFB_DONE);
    std::string bytes;
    ASSERT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes, "hello");
    EXPECT_EQ(FaceBookToken(url.c_str(), WidePath(Out()).c_str()), VFB_DONE);
    ASSERT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes, "second");
    EXPECT_EQ(WaitForRequests(2).size(), 2u);
}

}  // namespace
}  // namespace e2e
