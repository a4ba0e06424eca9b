// Every call releases what it opened: the process's descriptors (handles)
// are the same before and after, on success and failure paths alike.
#include "rows.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
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

// The descriptors of this process that are sockets, or the file `path`.
std::vector<int> LibraryDescriptors(const std::string &path) {
    std::vector<int> found;
    struct stat target {};
    const bool hasTarget = ::stat(path.c_str(), &target) == 0;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir) return found;
    while (dirent *entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        struct stat st {};
        if (entry->d_name[0] == '.' || fd == ::dirfd(dir) || ::fstat(fd, &st) != 0) continue;
        if (S_ISSOCK(st.st_mode) || (hasTarget && st.st_dev == target.st_dev && st.st_ino == target.st_ino))
            found.push_back(fd);
    }
    ::closedir(dir);
    return found;
}

// A child forked while one call streams an answer and another connection
// sits idle holds nothing of the library's: no socket, lent or idle, and not
// the output file, whose lock would otherwise outlive the call and refuse the
// next one. And nothing the library opens reaches a program it execs.
TEST_F(Resources, AForkedChildHoldsNothingOfTheLibrary) {
    E2E_NEED_SERVICE();
    WriteScript(
        {Response::Ok("warm").WithKeepAlive(10),
         Response::Ok(std::string(4000, 'f'))
             .WithFault("{\"type\": \"stall\", \"stage\": \"during_response_body\", \"after_bytes\": 1000, "
                        "\"seconds\": 1.5}"),
         Response::Ok("{\"id\":\"after\"}")});
    ASSERT_EQ(Invoke({"FaceBookStatus", {"m", "T", "1", "", "$DIR/warm.out"}}).code, VFB_DONE);
    std::thread fetch([&] { Invoke({"FaceBookToken", {"https://www.facebook.com/slow", "$OUT"}}); });
    for (int i = 0; i < 100 && FileSize(Out()) < 1000; ++i) SleepMs(20);
    ASSERT_GE(FileSize(Out()), 1000) << "the fetch never started its answer";

    const std::vector<int> open = LibraryDescriptors(Out());
    EXPECT_GE(open.size(), 3u) << "an idle and a lent connection and the output file";
    for (int fd : open)
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd << " is inherited by exec";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool clean = LibraryDescriptors(Out()).empty();
        ::sleep(3);  // alive while the parent's next call replaces the file
        ::_exit(clean ? 0 : 1);
    }
    fetch.join();
    EXPECT_EQ(Invoke({"FaceBookStatus", {"m", "T", "1", "", "$OUT"}}).code, VFB_DONE);
    std::string bytes;
    EXPECT_TRUE(ReadFile(Out(), &bytes));
    EXPECT_EQ(bytes, "{\"id\":\"after\"}") << "the child's copy kept the output file locked";
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child inherited the library's descriptors";
}
#endif

}  // namespace
}  // namespace e2e
