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

// Where the trust comes from: the system's bundle and hashed folder, with or
// without the test CA, or the locations SSL_CERT_FILE and SSL_CERT_DIR name
// instead. Rows run in order in one process: each call opens a new
// connection, which must see the trust as it is now.
struct TrustRow {
    const char *name;
    bool caInBundle, caInFolder;
    const char *certFile, *certDir;  // null: unset; "$CA": the CA alone; "$CADIR": a folder with it alone
    int result;
};

const TrustRow kTrustRows[] = {
    {"SystemBundleAndFolder", true, true, nullptr, nullptr, VFB_DONE},
    {"OnlyTheFolderHasIt", false, true, nullptr, nullptr, VFB_DONE},
    {"OnlyTheBundleHasIt", true, false, nullptr, nullptr, VFB_DONE},
    {"RemovedFromTheSystem", false, false, nullptr, nullptr, VFB_ERR_SEND},
    {"AddedBackToTheSystem", true, true, nullptr, nullptr, VFB_DONE},
    {"NoFolderAtAll", true, true, nullptr, "/nonexistent", VFB_DONE},
    {"PrivateCaFile", false, false, "$CA", "/nonexistent", VFB_DONE},
    {"PrivateCaFolder", false, false, "/nonexistent", "$CADIR", VFB_DONE},
    {"NothingTrustsIt", true, true, "/nonexistent", "/nonexistent", VFB_ERR_SEND},
};

TEST_F(Resources, TrustIsTheSystemsAsItIsNow) {
    E2E_NEED_SERVICE();
    const std::string certs = GetEnv("VFB_CERT_DIR"), folder = "/etc/ssl/certs";
    std::string bundle, ca;
    ASSERT_TRUE(ReadFile(certs + "/bundle.crt", &bundle) && ReadFile(certs + "/ca.crt", &ca));
    const std::string withoutCa = bundle.substr(0, bundle.rfind(ca));
    std::string hashName;  // the CA's name in the hashed folder
    for (const std::string &name : ListDir(folder)) {
        char target[256] = {};
        if (::readlink((folder + "/" + name).c_str(), target, sizeof target - 1) > 0 &&
            std::string(target) == "vantrelfb-e2e-test-ca.pem")
            hashName = name;
    }
    ASSERT_FALSE(hashName.empty()) << "the sandbox's folder has no hashed link to the test CA";
    const std::string caDir = Dir() + "/private-ca";
    ASSERT_TRUE(MakeDirs(caDir) && WriteFile(caDir + "/ca.pem", ca));
    ASSERT_EQ(::symlink("ca.pem", (caDir + "/" + hashName).c_str()), 0);
    auto arrange = [&](bool inBundle, bool inFolder) {
        ASSERT_TRUE(WriteFile(folder + "/ca-certificates.crt", inBundle ? bundle : withoutCa));
        ::unlink((folder + "/" + hashName).c_str());
        if (inFolder) {
            ASSERT_EQ(::symlink("vantrelfb-e2e-test-ca.pem", (folder + "/" + hashName).c_str()), 0);
        }
    };
    auto setOrUnset = [&](const char *variable, const char *value) {
        if (!value) {
            ::unsetenv(variable);
            return;
        }
        const std::string v = value == std::string("$CA")      ? certs + "/ca.crt"
                              : value == std::string("$CADIR") ? caDir
                                                               : value;
        ::setenv(variable, v.c_str(), 1);
    };
    for (const TrustRow &row : kTrustRows) {
        SCOPED_TRACE(row.name);
        arrange(row.caInBundle, row.caInFolder);
        setOrUnset("SSL_CERT_FILE", row.certFile);
        setOrUnset("SSL_CERT_DIR", row.certDir);
        WriteScript({Response::Ok("{}")});  // no keep-alive: each call connects anew
        EXPECT_EQ(Invoke({"FaceBookStatus", {"m", "T", "1", "", "$OUT"}}).code, row.result);
    }
    arrange(true, true);
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
}

// A TLS 1.2 handshake that completed with a certificate for another host
// failed the call; its session must not be offered to the real host later
// (resuming it would skip the verification that failed).
TEST_F(Resources, NoSessionIsKeptFromAFailedVerification) {
    E2E_NEED_SERVICE();
    Response wrongHost = Response::Cert("wrong_host");
    wrongHost.tlsMax = "1.2";
    Response right = Response::Ok("{}");
    right.tlsMax = "1.2";
    WriteScript({wrongHost, right});
    EXPECT_EQ(Invoke({"FaceBookStatus", {"m", "T", "1", "", "$OUT"}}).code, VFB_ERR_SEND);
    EXPECT_EQ(Invoke({"FaceBookStatus", {"m", "T", "1", "", "$OUT"}}).code, VFB_DONE);
    std::string log;
    ASSERT_TRUE(ReadFile(GetEnv("VFB_FAKE_DIR") + "/connections.jsonl", &log));
    EXPECT_EQ(log.find("offered a session from another host's certificate"), std::string::npos);
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
