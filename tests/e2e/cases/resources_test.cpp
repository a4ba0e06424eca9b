// Every call releases what it opened: the process's descriptors (handles)
// are the same before and after, on success and failure paths alike.
#include "rows.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace e2e {
namespace {

using Resources = E2ETest;

TEST_F(Resources, NoDescriptorLeaks) {
    E2E_NEED_SERVICE();
    ASSERT_TRUE(WriteFile(Media(), RandomBytes(300000, 4)));
    auto round = [&] {
        auto one = [&](const Response &r, const Call &c) {
            WriteScript({r});
            Invoke(c);
        };
        auto out = [&] { return std::string("$OUT"); };
        one(Response::Generated(100000, 1), {"FaceBookToken", {"https://graph.facebook.com/x", out()}});
        one(Response::Cert("untrusted"), {"FaceBookToken", {"https://graph.facebook.com/x", out()}});
        one(Response::Ok("x"), {"FaceBookToken", {"https://nonexistent.invalid/", out()}});
        one(Response::Ok("x"), {"FaceBookToken", {"https://graph.facebook.com/x", "$DIR/missing/out"}});
        one(Response::Ok("{}"), {"FaceBookStatus", {"m", "T", "1", "", out()}});
        one(Response::Ok(std::string(5000, 'x')), {"FaceBookCheckIn", {"m", "T", "1", "", out()}});
        one(Response::Cert("untrusted"), {"FaceBookEvents", {"m", "T", "1", "", out()}});
        one(Response::Ok("x").WithFault("\"close_mid_body\""), {"FaceBookDelete", {"", "T", "1", "", out()}});
        one(Response::Ok("{}"), {"FaceBookNotes", {"t", "T", "1", "c", out()}});
        one(Response::Refuse(), {"FaceBookNotesView", {"T", "1", "2", out()}});
        one(Response::Ok("{}"), {"FaceBookPictureUpload", {"$MEDIA", "1", "m", "T", out()}});
        one(Response::Ok("{}"), {"FaceBookVideoUpload", {"$DIR/none.mp4", "1", "t", "T", out()}});
        one(Response::Ok("{}").WithFault(
                "{\"type\": \"reset\", \"stage\": \"during_request_body\", \"after_bytes\": 1000}"),
            {"FaceBookVideoUpload", {"$MEDIA", "1", "t", "T", out()}});
        one(Response::Cert("wrong_host"), {"FaceBookPictureUpload", {"$MEDIA", "1", "m", "T", out()}});
        one(Response::Ok("page"), {"FaceBookTokenGraph", {}});
        one(Response::Refuse(), {"FaceBookTokenGraph", {}});
    };
    round();  // first use: whatever the stack sets up once
    int before = CountOpenHandles();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 3; ++i) round();
    SleepMs(100);
    EXPECT_EQ(CountOpenHandles(), before);
}

#if !defined(_WIN32)
// A forked child never writes to its parent's pooled connections (their TLS
// state is the parent's), and the parent goes on using them.
TEST_F(Resources, AForkedChildOpensItsOwnConnection) {
    E2E_NEED_SERVICE();
    WriteScript(
        {Response::Ok("parent").WithKeepAlive(10), Response::Ok("child"), Response::Ok("parent again")});
    const Call post{"FaceBookStatus", {"m", "T", "1", "", "$OUT"}};
    ASSERT_EQ(Invoke(post).code, VFB_DONE);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int code = FaceBookStatus(u"m", u"T", u"1", nullptr, WidePath(Dir() + "/child.out").c_str());
        ::_exit(code == VFB_DONE ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's call failed";
    ASSERT_EQ(Invoke(post).code, VFB_DONE);
    auto requests = WaitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[1].connection, requests[0].connection) << "the child used its parent's connection";
    EXPECT_EQ(requests[2].connection, requests[0].connection) << "the parent lost its pooled connection";
}
#endif

}  // namespace
}  // namespace e2e
