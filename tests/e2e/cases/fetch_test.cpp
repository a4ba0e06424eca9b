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

}  // namespace
}  // namespace e2e
