#include <gtest/gtest.h>

#include "fake_platform.h"
#include "operations/operations.h"

namespace vfb {
namespace {

using testing::FakePlatform;
using testing::Step;
using testing::W;

const std::string kBody = "/temp4/Report2.txt";

class SignIn : public ::testing::Test {
protected:
    WString Run() {
        WString result = RequestSignIn(p.get(), W(kBody).c_str());
        EXPECT_EQ(p.internet.openHandles(), 0);
        EXPECT_EQ(p.files.openFiles(), 0);
        return result;
    }
    FakePlatform p;
};

TEST_F(SignIn, SendsTheDialogRequestAndReturnsTheLocation) {
    p.internet.responseBody = "<html>redirecting</html>";
    p.internet.hasLocation = true;
    p.internet.location = "https://www.facebook.com/connect/login_success.html#access_token=abc&expires_in=0";
    EXPECT_EQ(Run(), W(p.internet.location));
    const auto &r = p.internet.requests.at(0);
    EXPECT_EQ(r.host, "www.facebook.com");
    EXPECT_EQ(r.verb, "POST");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.flags, 0x80800000u);
    EXPECT_EQ(r.agent, "FaceBook");
    EXPECT_EQ(r.target,
              std::string("/dialog/oauth?client_id=") + VFB_OAUTH_CLIENT_ID +
                  "&response_type=token&redirect_uri=https://www.facebook.com/connect/login_success.html");
    EXPECT_TRUE(r.headers.empty());
    EXPECT_EQ(p.files.files[kBody].bytes, "<html>redirecting</html>");
    for (std::uint32_t asked : p.internet.readSizes) EXPECT_EQ(asked, 4095u);
}

TEST_F(SignIn, LocationLengths) {
    p.internet.hasLocation = true;
    p.internet.location = std::string(999, 'a');
    EXPECT_EQ(Run(), W(p.internet.location));
    p.internet.location = std::string(1500, 'b');
    EXPECT_EQ(Run(), W(std::string(999, 'b')));  // cut to the result field
    p.internet.location = std::string(2083, 'c');
    EXPECT_EQ(Run(), W(std::string(999, 'c')));
    p.internet.location = std::string(2084, 'd');  // does not fit the query's field at all
    EXPECT_EQ(Run(), WString());
}

TEST_F(SignIn, FailuresGiveAnEmptyTextAndAnEmptyBodyFile) {
    for (Step step : {Step::kOpen, Step::kConnect, Step::kOpenRequest, Step::kSend}) {
        p = FakePlatform();
        p.internet.responseBody = "page";
        p.internet.hasLocation = true;
        p.internet.location = "https://x/";
        p.files.files[kBody].bytes = "earlier";
        p.internet.failOnCall[step] = 1;
        EXPECT_EQ(Run(), WString()) << static_cast<int>(step);
        ASSERT_TRUE(p.files.Exists(kBody));
        EXPECT_EQ(p.files.files[kBody].bytes, "");
    }
}

TEST_F(SignIn, NoLocationOrNoFolder) {
    p.internet.responseBody = "page";
    EXPECT_EQ(Run(), WString());
    EXPECT_EQ(p.files.files[kBody].bytes, "page");

    p = FakePlatform();
    p.files.missingFolders.insert("/temp4");
    p.internet.hasLocation = true;
    p.internet.location = "https://x/#t";
    EXPECT_EQ(Run(), W("https://x/#t"));
    EXPECT_FALSE(p.files.Exists(kBody));
}

}  // namespace
}  // namespace vfb
