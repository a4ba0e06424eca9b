#include <gtest/gtest.h>

#include "fake_platform.h"
#include "operations/operations.h"

namespace vfb {
namespace {

using testing::FakePlatform;
using testing::Step;
using testing::W;

const std::string kMedia = "/media/clip";
const std::string kOut = "/out/upload.json";
const std::string kB = "--2010050601124707042";

std::string PhotoOpening() {
    return "--" + kB +
           "\r\nContent-Disposition: form-data; name=\"source\"; filename=\"test.jpg\"\r\n"
           "Content-Type: image/jpeg\r\n\r\n";
}
std::string PhotoClosing(const std::string &message) {
    return "\r\n--" + kB + "\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n" + message +
           "\r\n--" + kB + "--\r\n";
}

class Upload : public ::testing::Test {
protected:
    int Run(MediaKind kind, const std::string &text = "Hello", const std::string &token = "TOKEN",
            const std::string &target = "me") {
        int result = UploadMedia(p.get(), kind, W(kMedia).c_str(), W(target).c_str(), W(text).c_str(),
                                 W(token).c_str(), W(kOut).c_str());
        EXPECT_EQ(p.internet.openHandles(), 0) << "an internet handle leaked";
        EXPECT_EQ(p.files.openFiles(), 0) << "a file was left open";
        return result;
    }
    void Media(std::string bytes) { p.files.files[kMedia].bytes = std::move(bytes); }
    FakePlatform p;
};

TEST(Boundary, IsTwentyOneUnitsFromTheLocalTime) {
    EXPECT_EQ(FormatBoundary(LocalTime{2010, 5, 6, 1, 12, 47, 7, 42}), W(kB));
    EXPECT_EQ(FormatBoundary(LocalTime{2026, 12, 1, 7, 23, 5, 59, 999}), W("--2026120107230559999"));
}

TEST_F(Upload, PhotoBodyByteForByte) {
    const std::string media("\x00\xFF\r\n--binary", 12);
    Media(media);
    p.internet.responseBody = "{\"id\":\"9\"}";
    ASSERT_EQ(Run(MediaKind::kPhoto, "caf\xC3\xA9 & ----\r\n"), VFB_DONE);
    const auto &r = p.internet.requests.at(0);
    EXPECT_EQ(r.host, "graph.facebook.com");
    EXPECT_EQ(r.verb, "POST");
    EXPECT_EQ(r.target, "/me/photos?access_token=TOKEN");
    EXPECT_EQ(r.flags, 0x80800000u);
    EXPECT_EQ(r.agent, "FaceBook");
    EXPECT_EQ(r.headers,
              std::vector<std::string>{"Content-Type: multipart/form-data; boundary=" + kB + "\r\n"});
    // Texts go into the body as UTF-8, not query-encoded.
    const std::string expected = PhotoOpening() + media + PhotoClosing("caf\xC3\xA9 & ----\r\n");
    EXPECT_EQ(r.body, expected);
    EXPECT_EQ(r.declaredLength, static_cast<std::int64_t>(expected.size()));
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(p.files.files[kOut].bytes, "{\"id\":\"9\"}");
}

TEST_F(Upload, VideoCarriesTheTokenOnlyInTheBody) {
    Media("MP4");
    p.internet.responseBody = "ok";
    ASSERT_EQ(Run(MediaKind::kVideo, "My clip", "SECRET"), VFB_DONE);
    const auto &r = p.internet.requests.at(0);
    EXPECT_EQ(r.host, "graph-video.facebook.com");
    EXPECT_EQ(r.target, "/me/videos");
    const std::string expected =
        "--" + kB +
        "\r\nContent-Disposition: form-data; name=\"source\"; filename=\"test.mp4\"\r\n"
        "Content-Type: video/mp4\r\n\r\nMP4\r\n--" +
        kB + "\r\nContent-Disposition: form-data; name=\"access_token\"\r\n\r\nSECRET\r\n--" + kB +
        "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nMy clip\r\n--" + kB + "--\r\n";
    EXPECT_EQ(r.body, expected);
    EXPECT_EQ(r.declaredLength, static_cast<std::int64_t>(expected.size()));
}

TEST_F(Upload, EmptyAndExactMultipleFiles) {
    Media("");
    ASSERT_EQ(Run(MediaKind::kPhoto), VFB_DONE);
    EXPECT_EQ(p.internet.requests[0].body, PhotoOpening() + PhotoClosing("Hello"));

    p = FakePlatform();
    Media(std::string(2048, 'm'));
    ASSERT_EQ(Run(MediaKind::kPhoto), VFB_DONE);
    // Two full reads, an empty one, and its empty write.
    EXPECT_EQ(p.files.mediaReads, (std::vector<std::uint32_t>{1024, 1024, 0}));
    EXPECT_EQ(p.internet.requests[0].writeSizes,
              (std::vector<std::uint32_t>{static_cast<std::uint32_t>(PhotoOpening().size()), 1024, 1024, 0,
                                          static_cast<std::uint32_t>(PhotoClosing("Hello").size())}));
}

TEST_F(Upload, ResponseIsStreamedIn4095ByteReads) {
    Media("x");
    p.internet.responseBody = std::string(10000, 'r');
    ASSERT_EQ(Run(MediaKind::kPhoto), VFB_DONE);
    EXPECT_EQ(p.files.files[kOut].bytes.size(), 10000u);
    for (std::uint32_t asked : p.internet.readSizes) EXPECT_EQ(asked, 4095u);
}

TEST_F(Upload, EveryFailingStepGivesItsCodeAndLeavesTheOutputAlone) {
    const std::pair<Step, int> network[] = {
        {Step::kOpen, VFB_ERR_OPEN},
        {Step::kConnect, VFB_ERR_CONNECT},
        {Step::kOpenRequest, VFB_ERR_START},
        {Step::kSendWithBody, VFB_ERR_START},
    };
    for (const auto &[step, code] : network) {
        p = FakePlatform();
        Media(std::string(3000, 'm'));
        p.files.files[kOut].bytes = "earlier";
        p.internet.failOnCall[step] = 1;
        EXPECT_EQ(Run(MediaKind::kPhoto), code);
        EXPECT_EQ(p.files.files[kOut].bytes, "earlier");
    }
    // Writes: the opening part, a chunk of the file, the closing part.
    const std::pair<int, int> writes[] = {
        {1, VFB_ERR_START}, {2, VFB_ERR_SEND_CHUNK}, {3, VFB_ERR_SEND_CHUNK}, {4, VFB_ERR_SEND_CLOSING}};
    for (const auto &[call, code] : writes) {
        p = FakePlatform();
        Media(std::string(2000, 'm'));  // writes: opening, 1024, 976, closing
        p.files.files[kOut].bytes = "earlier";
        p.internet.failOnCall[Step::kWrite] = call;
        EXPECT_EQ(Run(MediaKind::kPhoto), code) << "write " << call;
        EXPECT_EQ(p.files.files[kOut].bytes, "earlier");
    }
}

TEST_F(Upload, MediaProblemsAreFoundBeforeTheNetwork) {
    EXPECT_EQ(Run(MediaKind::kPhoto), VFB_ERR_OPEN_ROOT_OR_MEDIA);  // missing
    Media("abc");
    p.files.sizeOverride[kMedia] = -1;
    EXPECT_EQ(Run(MediaKind::kPhoto), VFB_ERR_OPEN_ROOT_OR_MEDIA);  // size unreadable
    p.files.sizeOverride[kMedia] = std::int64_t{1} << 32;
    EXPECT_EQ(Run(MediaKind::kVideo), VFB_ERR_OPEN_ROOT_OR_MEDIA);  // 4 GiB
    EXPECT_TRUE(p.internet.calls.empty());
}

TEST_F(Upload, AMediaReadFailureGivesSeven) {
    Media(std::string(5000, 'm'));
    p.files.readFailsAfter[kMedia] = 2048;
    EXPECT_EQ(Run(MediaKind::kPhoto), VFB_ERR_MEDIA_READ);
    EXPECT_FALSE(p.files.Exists(kOut));
}

TEST_F(Upload, AFileThatChangesSizeStopsTheUpload) {
    // Grew after its size was taken: the body would exceed its declared length.
    Media(std::string(3000, 'm'));
    p.files.sizeOverride[kMedia] = 2048;
    EXPECT_EQ(Run(MediaKind::kPhoto), VFB_ERR_MEDIA_READ);
    EXPECT_LE(p.internet.requests[0].body.size(),
              static_cast<std::size_t>(p.internet.requests[0].declaredLength));
    EXPECT_FALSE(p.internet.requests[0].ended);
    // Shrank: the body would fall short.
    p = FakePlatform();
    Media(std::string(1000, 'm'));
    p.files.sizeOverride[kMedia] = 2048;
    EXPECT_EQ(Run(MediaKind::kPhoto), VFB_ERR_MEDIA_READ);
    EXPECT_FALSE(p.internet.requests[0].ended);
    EXPECT_FALSE(p.files.Exists(kOut));
}

TEST_F(Upload, OverlongPartsAndPathsAreRefusedBeforeAnythingIsSent) {
    Media("m");
    const std::string closingOverhead = PhotoClosing("");
    EXPECT_EQ(Run(MediaKind::kPhoto, std::string(999 - closingOverhead.size(), 'a')), VFB_DONE);
    p.internet.requests.clear();
    p.internet.calls.clear();
    EXPECT_EQ(Run(MediaKind::kPhoto, std::string(1000 - closingOverhead.size(), 'a')), VFB_ERR_START);
    EXPECT_EQ(Run(MediaKind::kPhoto, "m", std::string(2000, 't')), VFB_ERR_START);
    EXPECT_EQ(Run(MediaKind::kVideo, "t", std::string(900, 't')), VFB_ERR_START);
    EXPECT_TRUE(p.internet.calls.empty());
}

// No answer to read is a failed read: the file is replaced, empty.
TEST_F(Upload, WhenEndingFailsTheOutputIsCreatedEmptyAndTheReadFails) {
    Media("m");
    p.files.files[kOut].bytes = "earlier";
    p.internet.responseBody = "answer";
    p.internet.failOnCall[Step::kEndRequest] = 1;
    EXPECT_EQ(Run(MediaKind::kPhoto), VFB_ERR_READ);
    EXPECT_EQ(p.files.files[kOut].bytes, "");
}

}  // namespace
}  // namespace vfb
