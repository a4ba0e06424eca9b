// The conversions decide what text reaches the service, so they are held to
// RFC 3629 at every boundary.
#include <gtest/gtest.h>

#include "cli.h"
#include "fake_library.h"

namespace vfbtool::fake {
namespace {

TEST(Utf8ToWide, DecodesEveryEncodingLengthAndPairsAstralCharacters) {
    const auto wide = Utf8ToWide("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, Wide(u"a\u00E9\u20AC\U0001F600z"));
    EXPECT_EQ(wide->size(), 6u);
}

TEST(Utf8ToWide, AcceptsTheEdgesOfEachRangeAndRoundTrips) {
    for (const char *s : {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                          "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", ""}) {
        const auto wide = Utf8ToWide(s);
        ASSERT_TRUE(wide) << s;
        EXPECT_EQ(WideToUtf8(wide->c_str()), s);
    }
    EXPECT_EQ(*Utf8ToWide("\xF4\x8F\xBF\xBF"), Wide(u"\U0010FFFF"));
    EXPECT_EQ(*Utf8ToWide("\xED\x9F\xBF"), Wide(u"\uD7FF"));
}

TEST(Utf8ToWide, RefusesMalformedInputAndPointsAtTheMalformedSequence) {
    struct Case {
        const char *bytes;
        std::size_t offset;
    };
    for (const Case &c : {
             Case{"\x80", 0},              // continuation without a lead
             Case{"ok\xBF", 2},            //
             Case{"\xC0\xAF", 0},          // overlong "/"
             Case{"\xC1\xBF", 0},          // overlong
             Case{"\xE0\x80\xAF", 0},      // overlong three-byte
             Case{"\xF0\x8F\xBF\xBF", 0},  // overlong four-byte
             Case{"\xED\xA0\x80", 0},      // high surrogate
             Case{"\xED\xBF\xBF", 0},      // low surrogate
             Case{"\xF4\x90\x80\x80", 0},  // past U+10FFFF
             Case{"\xF5\x80\x80\x80", 0},  // lead that cannot occur
             Case{"\xFF", 0},              //
             Case{"ab\xC3", 2},            // truncated at the end
             Case{"\xE2\x82", 0},          //
             Case{"\xC3(", 0},             // interrupted by ASCII
             Case{"\xF0\x9F\x98(", 0},     //
         }) {
        std::size_t offset = 99;
        EXPECT_FALSE(Utf8ToWide(c.bytes, &offset)) << testing::PrintToString(c.bytes);
        EXPECT_EQ(offset, c.offset) << testing::PrintToString(c.bytes);
    }
}

TEST(WideToUtf8, ReplacesUnpairedSurrogatesAndStopsAtTheTerminator) {
    const VFB_WCHAR lone_high[] = {0xD83D, u'a', 0};
    const VFB_WCHAR lone_low[] = {u'a', 0xDE00, 0};
    const VFB_WCHAR high_at_end[] = {u'a', 0xD83D, 0};
    const VFB_WCHAR reversed[] = {0xDE00, 0xD83D, 0};
    const VFB_WCHAR stops[] = {u'x', 0, u'y', 0};
    EXPECT_EQ(WideToUtf8(lone_high),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(WideToUtf8(lone_low), "a\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(high_at_end), "a\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(stops), "x");
    EXPECT_EQ(WideToUtf8(nullptr), "");
}

}  // namespace
}  // namespace vfbtool::fake
