#include <gtest/gtest.h>

#include "fake_platform.h"
#include "http/internet.h"

namespace vfb {
namespace {

using testing::W;

TEST(RequestTarget, ControlSpaceAndNonAsciiAreEscaped) {
    EXPECT_EQ(EscapeRequestTarget(W("/a b?x=1 2")), "/a%20b?x=1%202");
    // A CR LF in an identifier can never split the request line.
    EXPECT_EQ(EscapeRequestTarget(W("/1\r\nX-Evil: 1/feed")), "/1%0D%0AX-Evil:%201/feed");
    EXPECT_EQ(EscapeRequestTarget(W("/\x7f\t")), "/%7F%09");
    EXPECT_EQ(EscapeRequestTarget(W("/caf\xC3\xA9")), "/caf%C3%A9");
}

TEST(RequestTarget, NothingLeftForTheStackToRewrite) {
    EXPECT_EQ(EscapeRequestTarget(W("/a\\b")), "/a%5Cb");
    EXPECT_EQ(EscapeRequestTarget(W("/../feed")), "/%2E%2E/feed");
    EXPECT_EQ(EscapeRequestTarget(W("/./x/..")), "/%2E/x/%2E%2E");
    // Dots elsewhere, and in the query, are ordinary characters.
    EXPECT_EQ(EscapeRequestTarget(W("/a.b/...?x=..")), "/a.b/...?x=..");
}

TEST(RequestTarget, OtherCharactersGoOutAsGiven) {
    const std::string fixed =
        "/1/checkins?access_token=t&message=m&place=Vantrel&coordinates={\"latitude\":\"43.24022\",";
    EXPECT_EQ(EscapeRequestTarget(W(fixed)), fixed);
    EXPECT_EQ(EscapeRequestTarget(W("/x?a=#%25|^`[]<>")), "/x?a=#%25|^`[]<>");
}

}  // namespace
}  // namespace vfb
