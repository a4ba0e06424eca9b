// Media uploads: the multipart body byte for byte.
#include <cctype>
#include <cstdlib>

#include "rows.h"

namespace e2e {
namespace {

struct Kind {
    const char *fn;
    const char *host;
    bool video;
};
const Kind kPhoto{"FaceBookPictureUpload", kGraphHost, false};
const Kind kVideo{"FaceBookVideoUpload", kVideoHost, true};

const char *HostOf(const Kind &k) { return k.host; }

std::string OpeningPart(const Kind &k, const std::string &b) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"source\"; filename=\"" +
           (k.video ? "test.mp4" : "test.jpg") +
           "\"\r\nContent-Type: " + (k.video ? "video/mp4" : "image/jpeg") + "\r\n\r\n";
}

std::string ClosingPart(const Kind &k, const std::string &b, const std::string &text,
                        const std::string &token) {
    if (!k.video)
        return "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n" + text +
               "\r\n--" + b + "--\r\n";
    return "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"access_token\"\r\n\r\n" + token +
           "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n" + text + "\r\n--" + b +
           "--\r\n";
}

std::string Target(const Kind &k, const std::string &target, const std::string &token) {
    return k.video ? "/" + target + "/videos" : "/" + target + "/photos?access_token=" + token;
}

// "--" then year(4) month(2) weekday(2) day(2) hour(2) minute(2) second(2) millisecond(3).
void CheckBoundary(const std::string &b) {
    ASSERT_EQ(b.size(), 21u) << b;
    ASSERT_EQ(b.substr(0, 2), "--") << b;
    for (std::size_t i = 2; i < b.size(); ++i) ASSERT_TRUE(b[i] >= '0' && b[i] <= '9') << b;
    auto num = [&](std::size_t at, std::size_t n) { return std::atoi(b.substr(at, n).c_str()); };
    int y = num(2, 4), mo = num(6, 2), dow = num(8, 2), d = num(10, 2), h = num(12, 2), mi = num(14, 2),
        s = num(16, 2), ms = num(18, 3);
    EXPECT_TRUE(y >= 2020 && y <= 2200) << b;
    EXPECT_TRUE(mo >= 1 && mo <= 12) << b;
    EXPECT_TRUE(d >= 1 && d <= 31) << b;
    EXPECT_TRUE(h <= 23 && mi <= 59 && s <= 60 && ms <= 999) << b;
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int yy = mo < 3 ? y - 1 : y;
    int weekday = (yy + yy / 4 - yy / 100 + yy / 400 + t[(mo + 11) % 12] + d) % 7;
    EXPECT_EQ(dow, weekday) << "the third field is the day of the week (0 = Sunday): " << b;
}

class Uploads : public E2ETest {
protected:
    // Uploads `media` and checks the request byte for byte and the stored answer.
    void UploadAndCheck(const Kind &k, const std::string &media, const std::string &text = "Hello",
                        const std::string &token = "EAAB+tok/en=1") {
        SCOPED_TRACE(std::string(k.fn) + " of " + std::to_string(media.size()) + " bytes");
        ResetRecording();
        const std::string answer = "{\"id\":\"5150\",\"post_id\":\"100_5150\"}";
        WriteScript({Response::Ok(answer)});
        ASSERT_TRUE(WriteFile(Media(), media));
        ASSERT_TRUE(WriteFile(Out(), kPrevious));
        CallResult got = Invoke({k.fn, {"$MEDIA", "100", text, token, "$OUT"}});
        EXPECT_EQ(got.code, VFB_DONE) << vfb_result_meaning(got.code, nullptr);
        auto requests = WaitForRequests(1);
        ASSERT_EQ(requests.size(), 1u);
        const RecordedRequest &r = requests[0];
        SCOPED_TRACE(r.HeaderText());
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.target, Target(k, "100", token));
        EXPECT_EQ(r.version, "HTTP/1.1");
        EXPECT_EQ(r.sni, HostOf(k));
        ASSERT_EQ(r.Values("Host").size(), 1u);
        EXPECT_EQ(r.Value("Host"), HostOf(k));
        EXPECT_EQ(r.Values("User-Agent"), std::vector<std::string>{kAgent});
        EXPECT_EQ(r.Values("Accept"), std::vector<std::string>{"*/*"});
        auto types = r.Values("Content-Type");
        ASSERT_EQ(types.size(), 1u) << "exactly one Content-Type line";
        const std::string prefix = "multipart/form-data; boundary=";
        ASSERT_EQ(types[0].substr(0, prefix.size()), prefix) << types[0];
        std::string boundary = types[0].substr(prefix.size());
        CheckBoundary(boundary);
        EXPECT_TRUE(r.Values("Transfer-Encoding").empty()) << "the body has a declared length";
        for (const auto &h : r.headers) {
            static const char *const allowed[] = {"Host",          "User-Agent",     "Accept",
                                                  "Content-Type",  "Content-Length", "Connection",
                                                  "Cache-Control", "Pragma"};
            auto same = [](const std::string &a, const std::string &b) {
                if (a.size() != b.size()) return false;
                for (std::size_t i = 0; i < a.size(); ++i)
                    if (std::tolower(static_cast<unsigned char>(a[i])) !=
                        std::tolower(static_cast<unsigned char>(b[i])))
                        return false;
                return true;
            };
            bool known = false;
            for (const char *a : allowed) known = known || same(a, h.first);
            EXPECT_TRUE(known) << "unexpected header line: " << h.first << ": " << h.second;
        }
        auto lengths = r.Values("Content-Length");
        ASSERT_EQ(lengths.size(), 1u);
        std::string opening = OpeningPart(k, boundary), closing = ClosingPart(k, boundary, text, token);
        std::string expected = opening + media + closing;
        EXPECT_EQ(lengths[0], std::to_string(expected.size()))
            << "declared length = opening + file + closing";
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.body.size(), expected.size());
        EXPECT_EQ(r.body.substr(0, opening.size()), opening) << Printable(r.body.substr(0, 300));
        if (r.body.size() >= closing.size()) {
            EXPECT_EQ(r.body.substr(r.body.size() - closing.size()), closing)
                << Printable(r.body.substr(r.body.size() - closing.size()));
        }
        EXPECT_TRUE(r.body == expected) << "the file's bytes arrive unchanged";
        if (k.video) {
            EXPECT_EQ(r.target.find("access_token"), std::string::npos) << "token only in the body";
        }
        std::string stored;
        ASSERT_TRUE(ReadFile(Out(), &stored));
        EXPECT_EQ(stored, answer);
    }
};

TEST_F(Uploads, PhotoSizes) {
    E2E_NEED_SERVICE();
    for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(1023), std::size_t(1024),
                          std::size_t(2048), std::size_t(3u << 20) + 123})
        UploadAndCheck(kPhoto, RandomBytes(n, static_cast<std::uint32_t>(n) + 1));
}

TEST_F(Uploads, VideoSizes) {
    E2E_NEED_SERVICE();
    for (std::size_t n : {std::size_t(0), std::size_t(2048), std::size_t(4u << 20) + 7})
        UploadAndCheck(kVideo, RandomBytes(n, static_cast<std::uint32_t>(n) + 2), "My video");
}

// Texts enter the body without query encoding: CR LF and ---- go as they are.
TEST_F(Uploads, TextsSentUnchanged) {
    E2E_NEED_SERVICE();
    UploadAndCheck(kPhoto, "JPEG", "line1\r\n---- & {x} 100% + y");
    UploadAndCheck(kVideo, "MP4", "title & more\r\n----", "tok&=+/");
}

TEST_F(Uploads, MissingMediaFileGives1WithoutNetwork) {
    for (const Kind *k : {&kPhoto, &kVideo}) {
        SCOPED_TRACE(k->fn);
        ResetRecording();
        ASSERT_TRUE(WriteFile(Out(), kPrevious));
        CallResult got = Invoke({k->fn, {"$DIR/no-such-media.jpg", "100", "m", "T", "$OUT"}});
        EXPECT_EQ(got.code, VFB_ERR_OPEN_ROOT_OR_MEDIA);
        SleepMs(100);
        EXPECT_EQ(ConnectionCount(), 0) << "no connection may be made";
        EXPECT_EQ(Requests().size(), 0u);
        CheckFile(Out(), FileExpect::Untouched());
    }
}

// The service drops the connection while the file is being sent.
TEST_F(Uploads, ConnectionDroppedDuringBody) {
    E2E_NEED_SERVICE();
    for (const Kind *k : {&kPhoto, &kVideo}) {
        SCOPED_TRACE(k->fn);
        ResetRecording();
        WriteScript({Response::Ok("{}").WithFault(
            "{\"type\": \"reset\", \"stage\": \"during_request_body\", \"after_bytes\": 65536}")});
        ASSERT_TRUE(WriteFile(Media(), RandomBytes(8u << 20, 9)));
        ASSERT_TRUE(WriteFile(Out(), kPrevious));
        CallResult got = Invoke({k->fn, {"$MEDIA", "100", "m", "T", "$OUT"}});
        EXPECT_TRUE(got.code == VFB_ERR_SEND_CHUNK || got.code == VFB_ERR_SEND_CLOSING)
            << "got " << got.code << ": " << vfb_result_meaning(got.code, nullptr);
        CheckFile(Out(), FileExpect::Untouched());
    }
}

TEST_F(Uploads, UntrustedCertificateGives51) {
    E2E_NEED_SERVICE();
    for (const char *cert : {"untrusted", "wrong_host"}) {
        for (const Kind *k : {&kPhoto, &kVideo}) {
            SCOPED_TRACE(std::string(k->fn) + " " + cert);
            ResetRecording();
            WriteScript({Response::Cert(cert)});
            ASSERT_TRUE(WriteFile(Media(), "data"));
            ASSERT_TRUE(WriteFile(Out(), kPrevious));
            EXPECT_EQ(Invoke({k->fn, {"$MEDIA", "100", "m", "T", "$OUT"}}).code, VFB_ERR_START);
            EXPECT_EQ(Requests().size(), 0u);
            CheckFile(Out(), FileExpect::Untouched());
        }
    }
}

// The answer is stored by streamed capture: an error status's body, a large
// body whole, and a body cut short as far as it arrived.
TEST_F(Uploads, ResponseBodyStored) {
    E2E_NEED_SERVICE();
    ASSERT_TRUE(WriteFile(Media(), "data"));
    for (const Kind *k : {&kPhoto, &kVideo}) {
        SCOPED_TRACE(k->fn);
        ResetRecording();
        const std::string error = "{\"error\":{\"message\":\"(#324) Requires upload file\",\"code\":324}}";
        WriteScript(
            {Response::Status(400, error), Response::Generated(300000, 5),
             Response::Ok(std::string(10000, 'c'))
                 .WithFault(
                     "{\"type\": \"close\", \"stage\": \"during_response_body\", \"after_bytes\": 6000}")});
        std::string stored;
        EXPECT_EQ(Invoke({k->fn, {"$MEDIA", "100", "m", "T", "$OUT"}}).code, VFB_DONE);
        ASSERT_TRUE(ReadFile(Out(), &stored));
        EXPECT_EQ(stored, error);
        EXPECT_EQ(Invoke({k->fn, {"$MEDIA", "100", "m", "T", "$OUT"}}).code, VFB_DONE);
        ASSERT_TRUE(ReadFile(Out(), &stored));
        auto requests = WaitForRequests(2);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(stored.size(), 300000u);
        EXPECT_EQ(Sha256Hex(stored), requests[1].responseSha256);
        EXPECT_EQ(Invoke({k->fn, {"$MEDIA", "100", "m", "T", "$OUT"}}).code, VFB_ERR_READ);
        ASSERT_TRUE(ReadFile(Out(), &stored));
        EXPECT_EQ(stored, std::string(6000, 'c')) << "the bytes received before the cut";
    }
}

TEST_F(Uploads, MissingOutputFolderStill999) {
    E2E_NEED_SERVICE();
    ASSERT_TRUE(WriteFile(Media(), "data"));
    WriteScript({Response::Ok("{}")});
    EXPECT_EQ(Invoke({kPhoto.fn, {"$MEDIA", "100", "m", "T", "$DIR/missing/out.bin"}}).code, VFB_DONE);
    EXPECT_EQ(WaitForRequests(1).size(), 1u);
    EXPECT_FALSE(FileExists(Dir() + "/missing/out.bin"));
}

}  // namespace
}  // namespace e2e
