#include "text/text.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace vfb {
namespace {

using testing::W;

TEST(QueryEncoding, EveryTableRowAndEveryOtherByte) {
    const std::map<unsigned char, std::string> table = {
        {0x0A, "%0A"}, {0x0D, "%0D"}, {0x20, "%20"}, {0x21, "%21"}, {0x24, "%24"}, {0x25, "%25"},
        {0x26, "%26"}, {0x27, "%27"}, {0x28, "%28"}, {0x29, "%29"}, {0x2A, "%2A"}, {0x2B, "%2B"},
        {0x2C, "%2C"}, {0x2F, "%2F"}, {0x3A, "%3A"}, {0x3B, "%3B"}, {0x3D, "%3D"}, {0x3F, "%3F"},
        {0x40, "%40"}, {0x7B, "&"},   {0x7D, "="}};
    for (int b = 1; b < 256; ++b) {
        const std::string in(1, static_cast<char>(b));
        std::string expected;
        if (auto it = table.find(static_cast<unsigned char>(b)); it != table.end()) {
            expected = it->second;
        } else if (b >= 0x80) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            expected = hex;
        } else {
            expected = in;
        }
        EXPECT_EQ(EncodeQueryText(in), expected) << "byte " << b;
    }
}

TEST(QueryEncoding, Examples) {
    EXPECT_EQ(EncodeQueryText("a b&c=d"), "a%20b%26c%3Dd");
    EXPECT_EQ(EncodeQueryText("line\r\nnext"), "line%0D%0Anext");
    EXPECT_EQ(EncodeQueryText("tab\there #tag"), "tab\there%20#tag");
    EXPECT_EQ(EncodeQueryText("Hi{x}y z"), "Hi&x=y%20z");
    const std::string unreserved = "AZaz09-._~";
    EXPECT_EQ(EncodeQueryText(unreserved), unreserved);
    EXPECT_EQ(EncodeQueryText(""), "");
}

TEST(QueryEncoding, NonAsciiArrivesAsPercentEncodedUtf8) {
    // e-acute, a CJK ideograph and an emoji (a surrogate pair).
    const WString text = W("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80");
    const std::string narrow = NarrowText(text.c_str());
    EXPECT_EQ(narrow, "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80");
    const std::string encoded = EncodeQueryText(narrow);
    EXPECT_EQ(encoded, "caf%C3%A9%20%E4%B8%AD%20%F0%9F%98%80");
    // Decoding the percent forms gives back the UTF-8 of the input.
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%') {
            decoded.push_back(static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(encoded[i]);
        }
    }
    EXPECT_EQ(decoded, narrow);
    for (WChar unit : WidenText(encoded)) EXPECT_LT(unit, 0x80);
}

TEST(QueryEncoding, UnpairedSurrogatesBecomeReplacementCharacter) {
    const WChar lone[] = {'a', 0xD800, 'b', 0xDC00, 0};
    EXPECT_EQ(NarrowText(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    const WChar trailingHigh[] = {0xD83D, 0};
    EXPECT_EQ(NarrowText(trailingHigh), "\xEF\xBF\xBD");
}

TEST(QueryEncoding, NullIsEmpty) {
    EXPECT_EQ(NarrowText(static_cast<const WChar *>(nullptr)), "");
    ASSERT_TRUE(PrepareQueryText(nullptr).has_value());
    EXPECT_TRUE(PrepareQueryText(nullptr)->empty());
}

TEST(QueryEncoding, LimitsRejectRatherThanCut) {
    // 999 encoded bytes are accepted, 1000 rejected.
    const WString at333 = W(std::string(333, ' '));  // 999 encoded bytes
    ASSERT_TRUE(PrepareQueryText(at333.c_str()).has_value());
    EXPECT_EQ(PrepareQueryText(at333.c_str())->size(), 999u);
    const WString past = W(std::string(333, ' ') + "x");
    EXPECT_FALSE(PrepareQueryText(past.c_str()).has_value());
    const WString plain999 = W(std::string(999, 'a'));
    EXPECT_TRUE(PrepareQueryText(plain999.c_str()).has_value());
    const WString plain1000 = W(std::string(1000, 'a'));
    EXPECT_FALSE(PrepareQueryText(plain1000.c_str()).has_value());
    // A narrow form past 1999 bytes is rejected before encoding.
    const WString huge = W(std::string(1000, 'a') + std::string(500, '\xC3'));
    EXPECT_FALSE(PrepareQueryText(huge.c_str()).has_value());
}

TEST(Templates, FillInOrderAndRespectTheLimit) {
    auto filled = FormatTemplate(W("/%s/feed?t=%s&m=%s"), {W("1"), W("tok%s"), W("x")}, 1999);
    ASSERT_TRUE(filled.has_value());
    EXPECT_EQ(*filled, W("/1/feed?t=tok%s&m=x"));  // a value's own %s is never expanded
    EXPECT_TRUE(FormatTemplate(W("%s"), {W(std::string(1999, 'a'))}, 1999).has_value());
    EXPECT_FALSE(FormatTemplate(W("/%s"), {W(std::string(1999, 'a'))}, 1999).has_value());
    // Fewer values than placeholders leaves the rest as written.
    EXPECT_EQ(*FormatTemplate(W("/%s?%s"), {W("a")}, 100), W("/a?%s"));
}

}  // namespace
}  // namespace vfb
