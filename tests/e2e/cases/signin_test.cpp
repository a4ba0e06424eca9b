// Sign-in dialog request: Location returned, body in /temp4/Report2.txt.
#include "rows.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

#ifndef VFB_E2E_CLIENT_ID
#define VFB_E2E_CLIENT_ID "000000000000000"
#endif

namespace e2e {
namespace {

const char *const kBodyFile = "/temp4/Report2.txt";
const char *const kFolder = "/temp4";

std::string ExpectedTarget() {
    return std::string("/dialog/oauth?client_id=") + VFB_E2E_CLIENT_ID +
           "&response_type=token&redirect_uri=https://www.facebook.com/connect/login_success.html";
}

const std::string kLocation =
    "https://www.facebook.com/connect/login_success.html#access_token=EAAB1234abcd&expires_in=5183999";

Response Redirect(const std::string &location, const std::string &body) {
    Response r = Response::Status(302, body);
    r.WithHeader("Location", location).WithHeader("Content-Type", "text/html; charset=utf-8");
    return r;
}

class SignIn : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!DirExists(kFolder)) MakeDirs(kFolder);
        RemoveFile(kBodyFile);
    }
    void TearDown() override {
        if (InsideSandbox() && !DirExists(kFolder)) MakeDirs(kFolder);
        E2ETest::TearDown();
    }
    std::string Call() { return Invoke({"FaceBookTokenGraph", {}}).location; }
    std::string Body() {
        std::string b;
        EXPECT_TRUE(ReadFile(kBodyFile, &b)) << kBodyFile << " was not written";
        return b;
    }
};

TEST_F(SignIn, RedirectLocationReturnedAndBodyStored) {
    E2E_NEED_SERVICE();
    const std::string page = "<html><body>Redirecting</body></html>";
    WriteScript({Redirect(kLocation, page), Response::Ok("AFTER A REDIRECT")});
    EXPECT_EQ(Call(), kLocation);
    EXPECT_EQ(Body(), page);
    auto r = WaitForRequests(1);
    SleepMs(50);
    r = Requests();
    ASSERT_EQ(r.size(), 1u) << "the sign-in sends one request (the redirect is not followed)";
    ExpectedRequest want;
    want.method = "POST";
    want.host = kDialogHost;
    want.target = ExpectedTarget();
    want.version = "HTTP/1.1";
    want.exact = {{"Host", kDialogHost}, {"User-Agent", kAgent}, {"Accept", "*/*"}};
    want.optional = {{"Content-Length", "0"}};  // no added header, no body
    want.strict = true;
    CheckRequest(r[0], want);
    std::string id = VFB_E2E_CLIENT_ID;
    EXPECT_EQ(id.size(), 15u);
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(SignIn, LocationOf999UnitsReturnedWhole) {
    E2E_NEED_SERVICE();
    std::string prefix = "https://www.facebook.com/connect/login_success.html#access_token=";
    std::string location = prefix + std::string(999 - prefix.size(), 'A');
    WriteScript({Redirect(location, "x")});
    EXPECT_EQ(Call(), location);
    EXPECT_EQ(Body(), "x");
}

TEST_F(SignIn, LocationOnOtherStatusReturned) {
    E2E_NEED_SERVICE();
    Response r = Response::Ok("page");
    r.WithHeader("Location", kLocation);
    WriteScript({r});
    EXPECT_EQ(Call(), kLocation);
    EXPECT_EQ(Body(), "page");
}

// The first Location of the response's headers, never a later one and never
// one in a chunked body's trailer.
TEST_F(SignIn, OnlyTheFirstLocationOfTheHeadersCounts) {
    E2E_NEED_SERVICE();
    Response two = Redirect(kLocation, "two");
    two.WithHeader("Location", kLocation + "&second=1");
    // The trailer travels in the chunked framing written out by hand.
    auto trailed = [](const char *headerLocation) {
        Response r = Response::Status(302, "5\r\nhello\r\n0\r\nLocation: https://trailer.example/\r\n\r\n");
        r.contentLength = false;
        if (headerLocation) r.WithHeader("Location", headerLocation);
        r.WithHeader("Transfer-Encoding", "chunked").WithHeader("Trailer", "Location");
        return r;
    };
    WriteScript({two, trailed(kLocation.c_str()), trailed(nullptr)});
    EXPECT_EQ(Call(), kLocation) << "two Location lines";
    EXPECT_EQ(Body(), "two");
    EXPECT_EQ(Call(), kLocation) << "a Location in the header and one in the trailer";
    EXPECT_EQ(Body(), "hello");
    EXPECT_EQ(Call(), "") << "a Location only in the trailer";
    EXPECT_EQ(Body(), "hello");
}

TEST_F(SignIn, NoLocationGivesEmptyAndBodyStored) {
    E2E_NEED_SERVICE();
    const std::string page = "<html><form>Log in</form></html>";
    WriteScript({Response::Ok(page)});
    EXPECT_EQ(Call(), "");
    EXPECT_EQ(Body(), page);
}

TEST_F(SignIn, ErrorStatusBodyStored) {
    E2E_NEED_SERVICE();
    const std::string page = "{\"error\":{\"message\":\"Invalid App ID\"}}";
    WriteScript({Response::Status(400, page)});
    EXPECT_EQ(Call(), "");
    EXPECT_EQ(Body(), page);
}

TEST_F(SignIn, LargeBodyStoredWhole) {
    E2E_NEED_SERVICE();
    Response r = Response::Generated(300000, 21);
    r.status = 302;
    r.WithHeader("Location", kLocation);
    WriteScript({r});
    EXPECT_EQ(Call(), kLocation);
    auto req = WaitForRequests(1);
    ASSERT_FALSE(req.empty());
    std::string body = Body();
    EXPECT_EQ(body.size(), 300000u);
    EXPECT_EQ(Sha256Hex(body), req[0].responseSha256);
}

// No network: empty result, and the body file is created empty.
TEST_F(SignIn, UnreachableGivesEmptyAndEmptyFile) {
    ASSERT_TRUE(WriteFile(kBodyFile, kPrevious));
    if (ServiceRunning()) WriteScript({Response::Refuse(), Response::Refuse(), Response::Refuse()});
    EXPECT_EQ(Call(), "");
    EXPECT_TRUE(FileExists(kBodyFile)) << "the body file is created";
    EXPECT_EQ(Body(), "");
    if (ServiceRunning()) {
        EXPECT_EQ(Requests().size(), 0u);
    }
}

TEST_F(SignIn, UntrustedCertificateGivesEmptyAndEmptyFile) {
    E2E_NEED_SERVICE();
    ASSERT_TRUE(WriteFile(kBodyFile, kPrevious));
    WriteScript({Response::Cert("untrusted")});
    EXPECT_EQ(Call(), "");
    EXPECT_EQ(Body(), "");
}

TEST_F(SignIn, TwoCallsKeepOnlySecondBody) {
    E2E_NEED_SERVICE();
    WriteScript({Redirect(kLocation, std::string(6000, 'f')), Redirect(kLocation + "2", "second")});
    EXPECT_EQ(Call(), kLocation);
    EXPECT_EQ(Call(), kLocation + "2");
    EXPECT_EQ(Body(), "second");
    auto r = WaitForRequests(2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].raw, r[1].raw) << "every call sends the same request";
}

// The library does not create the folder: the result is unaffected, no file.
TEST_F(SignIn, WithoutFolderResultUnaffectedNoFile) {
    E2E_NEED_SERVICE();
    ASSERT_TRUE(RemoveDir(kFolder)) << "cannot remove " << kFolder;
    WriteScript({Redirect(kLocation, "page")});
    EXPECT_EQ(Call(), kLocation);
    EXPECT_FALSE(DirExists(kFolder)) << "the library must not create the folder";
    EXPECT_FALSE(FileExists(kBodyFile));
    EXPECT_EQ(WaitForRequests(1).size(), 1u);
}

#if !defined(_WIN32)
// The folder is well known and may be shared: a link planted at the body's
// path must not make the library write through it. The Location still counts.
TEST_F(SignIn, ALinkAtTheBodyPathIsNeverFollowed) {
    E2E_NEED_SERVICE();
    ASSERT_TRUE(WriteFile(Out(), "precious"));
    ASSERT_EQ(::symlink(Out().c_str(), kBodyFile), 0);
    WriteScript({Redirect(kLocation, "page")});
    EXPECT_EQ(Call(), kLocation);
    std::string target;
    ASSERT_TRUE(ReadFile(Out(), &target));
    EXPECT_EQ(target, "precious");
    RemoveFile(kBodyFile);
}
#endif

}  // namespace
}  // namespace e2e
