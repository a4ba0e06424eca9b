#include <gtest/gtest.h>

#include "fake_platform.h"
#include "operations/operations.h"

namespace vfb {
namespace {

using testing::FakePlatform;
using testing::Step;
using testing::W;

const std::string kOut = "/out/answer.json";

class FormPosts : public ::testing::Test {
protected:
    int Post(FormPost which, const std::string &text, const std::string &token = "TOKEN",
             const std::string &target = "me") {
        const WString t = W(text), k = W(token), g = W(target), o = W(kOut);
        int result = PostForm(p.get(), which, t.c_str(), k.c_str(), g.c_str(), o.c_str());
        EXPECT_EQ(p.internet.openHandles(), 0) << "an internet handle leaked";
        EXPECT_EQ(p.files.openFiles(), 0) << "a file was left open";
        return result;
    }
    void PlaceEarlierAnswer() { p.files.files[kOut].bytes = "earlier"; }
    std::string Stored() { return p.files.files[kOut].bytes; }

    FakePlatform p;
};

TEST_F(FormPosts, EachRowSendsItsRequest) {
    struct Row {
        FormPost which;
        std::string verb, target, contentType;
    } rows[] = {
        {FormPost::kStatus, "POST", "/me/feed?access_token=TOKEN&message=hi%20there",
         "Content-Type: application/x-www-form-urlencoded;charset=utf-8\r\n"},
        {FormPost::kCheckIn, "POST",
         "/me/checkins?access_token=TOKEN&message=hi%20there&place=Vantrel&coordinates="
         "{\"latitude\":\"43.24022\",%20\"longitude\":%20\"-79.8533\"}",
         "Content-Type: application/x-www-form-urlencoded\r\n"},
        {FormPost::kEvent, "POST", "/me/events?access_token=TOKEN&name=hi%20there&start_time=1272718027",
         "Content-Type: application/x-www-form-urlencoded\r\n"},
        {FormPost::kDelete, "DELETE", "/me?access_token=TOKEN",
         "Content-Type: application/x-www-form-urlencoded;charset=utf-8\r\n"},
    };
    for (const Row &row : rows) {
        p = FakePlatform();
        p.internet.responseBody = "{\"id\":\"1\"}";
        ASSERT_EQ(Post(row.which, "hi there"), VFB_DONE);
        ASSERT_EQ(p.internet.requests.size(), 1u);
        const auto &r = p.internet.requests[0];
        EXPECT_EQ(r.verb, row.verb);
        EXPECT_EQ(r.target, row.target);
        EXPECT_EQ(r.host, "graph.facebook.com");
        EXPECT_EQ(r.port, 443);
        EXPECT_EQ(r.agent, "FaceBook");
        EXPECT_EQ(r.access, AccessType::kDirect);
        EXPECT_EQ(r.flags, 0x80800000u);
        EXPECT_EQ(r.version, "");
        EXPECT_EQ(r.headers, std::vector<std::string>{row.contentType});
        EXPECT_EQ(r.declaredLength, 0);
        EXPECT_TRUE(r.body.empty());
        EXPECT_EQ(Stored(), "{\"id\":\"1\"}");
    }
}

TEST_F(FormPosts, ContentTypeLinesHaveTheirFixedLengths) {
    p.internet.responseBody = "x";
    Post(FormPost::kStatus, "a");
    Post(FormPost::kEvent, "a");
    EXPECT_EQ(p.internet.requests[0].headers[0].size(), 63u);
    EXPECT_EQ(p.internet.requests[1].headers[0].size(), 49u);
}

TEST_F(FormPosts, EveryFailingStepGivesItsCodeAndKeepsTheEarlierFile) {
    const std::pair<Step, int> cases[] = {
        {Step::kOpen, VFB_ERR_CONNECT}, {Step::kConnect, VFB_ERR_CONNECT}, {Step::kOpenRequest, VFB_ERR_OPEN},
        {Step::kSend, VFB_ERR_SEND},    {Step::kRead, VFB_ERR_READ},
    };
    for (const auto &[step, code] : cases) {
        p = FakePlatform();
        PlaceEarlierAnswer();
        p.internet.responseBody = "answer";
        p.internet.failOnCall[step] = 1;
        EXPECT_EQ(Post(FormPost::kStatus, "m"), code) << "step " << static_cast<int>(step);
        EXPECT_EQ(Stored(), "earlier");
    }
}

TEST_F(FormPosts, AReadFailingAfterSomeBytesStoresNothing) {
    p.internet.responseBody = std::string(1500, 'x');
    p.internet.maxReadChunk = 500;
    p.internet.failOnCall[Step::kRead] = 3;
    EXPECT_EQ(Post(FormPost::kStatus, "m"), VFB_ERR_READ);
    EXPECT_FALSE(p.files.Exists(kOut));
}

TEST_F(FormPosts, BufferLimits) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1998}}) {
        for (std::uint32_t chunk : {UINT32_MAX, 7u}) {
            p = FakePlatform();
            p.internet.responseBody = std::string(size, 'b');
            p.internet.maxReadChunk = chunk;
            EXPECT_EQ(Post(FormPost::kStatus, "m"), VFB_DONE) << size;
            ASSERT_TRUE(p.files.Exists(kOut));
            EXPECT_EQ(Stored().size(), size);
        }
    }
    for (std::size_t size : {std::size_t{1999}, std::size_t{2000}, std::size_t{100000}}) {
        p = FakePlatform();
        PlaceEarlierAnswer();
        p.internet.responseBody = std::string(size, 'b');
        EXPECT_EQ(Post(FormPost::kStatus, "m"), VFB_ERR_TOO_LARGE) << size;
        EXPECT_EQ(Stored(), "earlier");
        // Never more than the buffer is asked for.
        for (std::uint32_t asked : p.internet.readSizes) EXPECT_LE(asked, 2000u);
    }
}

TEST_F(FormPosts, HandlesAreReleasedBeforeTheFileIsCreated) {
    p.internet.responseBody = "ok";
    int handlesWhenOpened = -1;
    p.files.onOpen = [&](const std::string &) { handlesWhenOpened = p.internet.openHandles(); };
    EXPECT_EQ(Post(FormPost::kStatus, "m"), VFB_DONE);
    EXPECT_EQ(handlesWhenOpened, 0);
    EXPECT_EQ(p.internet.closeOrder, (std::vector<std::string>{"request", "connection", "root"}));
}

TEST_F(FormPosts, AFileHeldByAnotherCallIsNeitherWrittenNorAnError) {
    p.internet.responseBody = "new";
    PlaceEarlierAnswer();
    auto held = p.files.Open(W(kOut).c_str(), FileMode::kCreateExclusive);
    p.files.files[kOut].bytes = "held";
    EXPECT_EQ(
        PostForm(p.get(), FormPost::kStatus, W("m").c_str(), W("t").c_str(), W("1").c_str(), W(kOut).c_str()),
        VFB_DONE);
    EXPECT_EQ(Stored(), "held");
}

TEST_F(FormPosts, OverlongInputIsRejectedBeforeAnyNetworkStep) {
    PlaceEarlierAnswer();
    EXPECT_EQ(Post(FormPost::kStatus, std::string(334, ' ')), VFB_ERR_OPEN);  // 1002 encoded bytes
    EXPECT_EQ(Post(FormPost::kStatus, "m", std::string(1990, 't')), VFB_ERR_OPEN);
    EXPECT_TRUE(p.internet.calls.empty());
    EXPECT_EQ(Stored(), "earlier");
    // The same sizes just inside the limits go through.
    p.internet.responseBody = "ok";
    EXPECT_EQ(Post(FormPost::kStatus, std::string(333, ' ')), VFB_DONE);
    EXPECT_EQ(Post(FormPost::kDelete, "", std::string(1999 - 17, 't'), "me"),
              VFB_DONE);  // "/me?access_token=" is 17
    EXPECT_EQ(Post(FormPost::kDelete, "", std::string(1999 - 16, 't'), "me"), VFB_ERR_OPEN);
}

TEST_F(FormPosts, NullArgumentsAreEmptyTexts) {
    p.internet.responseBody = "ok";
    EXPECT_EQ(PostForm(p.get(), FormPost::kStatus, nullptr, nullptr, nullptr, nullptr), VFB_DONE);
    EXPECT_EQ(p.internet.requests[0].target, "//feed?access_token=&message=");
    EXPECT_EQ(p.files.files.size(), 0u);
}

TEST_F(FormPosts, BracesAddParametersAndIdentifiersGoRaw) {
    p.internet.responseBody = "ok";
    Post(FormPost::kStatus, "a&b+c\r\nd{tags}x", "to&ken", "1 2");
    EXPECT_EQ(p.internet.requests[0].target,
              "/1%202/feed?access_token=to&ken&message=a%26b%2Bc%0D%0Ad&tags=x");
}

}  // namespace
}  // namespace vfb
