#include <gtest/gtest.h>

#include "fake_platform.h"
#include "operations/operations.h"

namespace vfb {
namespace {

using testing::FakePlatform;
using testing::Step;
using testing::W;

const std::string kOut = "/out/page.html";

class Fetch : public ::testing::Test {
protected:
    int Get(const std::string &url, const std::string &out = kOut) {
        int result = FetchUrl(p.get(), W(url).c_str(), W(out).c_str());
        EXPECT_EQ(p.internet.openHandles(), 0);
        EXPECT_EQ(p.files.openFiles(), 0);
        return result;
    }
    FakePlatform p;
};

TEST_F(Fetch, StreamsTheBodyIn512ByteReadsIntoASharedFile) {
    std::string body;
    for (int i = 0; i < 5000; ++i) body.push_back(static_cast<char>(i * 7));
    p.internet.responseBody = body;
    EXPECT_EQ(Get("https://example.com/a"), VFB_DONE);
    EXPECT_EQ(p.files.files[kOut].bytes, body);
    for (std::uint32_t asked : p.internet.readSizes) EXPECT_EQ(asked, 512u);
    const auto &r = p.internet.requests.at(0);
    EXPECT_EQ(r.agent, "FTP_to_AIX");
    EXPECT_EQ(r.access, AccessType::kPreconfigured);
    EXPECT_EQ(r.flags, 0x80000000u);
    EXPECT_EQ(r.target, "https://example.com/a");
    // The root goes before the URL handle.
    EXPECT_EQ(p.internet.closeOrder, (std::vector<std::string>{"root", "url"}));
}

TEST_F(Fetch, FailuresAndTheFileTheyLeave) {
    p.files.files[kOut].bytes = "earlier";
    p.internet.failOnCall[Step::kOpen] = 1;
    EXPECT_EQ(Get("https://x/"), VFB_ERR_OPEN_ROOT_OR_MEDIA);
    EXPECT_EQ(p.files.files[kOut].bytes, "earlier");

    p = FakePlatform();
    p.files.files[kOut].bytes = "earlier";
    p.internet.failOnCall[Step::kOpenUrl] = 1;
    EXPECT_EQ(Get("https://x/"), VFB_ERR_OPEN);
    EXPECT_EQ(p.files.files[kOut].bytes, "earlier");

    // A read failing midway keeps what arrived so far, and is reported.
    p = FakePlatform();
    p.internet.responseBody = std::string(2000, 'z');
    p.internet.failOnCall[Step::kRead] = 3;
    EXPECT_EQ(Get("https://x/"), VFB_ERR_READ);
    EXPECT_EQ(p.files.files[kOut].bytes, std::string(1024, 'z'));

    // A file that cannot be created is not an error.
    p = FakePlatform();
    p.internet.responseBody = "body";
    p.files.missingFolders.insert("/missing");
    EXPECT_EQ(Get("https://x/", "/missing/f"), VFB_DONE);
    EXPECT_FALSE(p.files.Exists("/missing/f"));
    EXPECT_EQ(p.internet.calls[Step::kRead], 0);
}

TEST_F(Fetch, CredentialsInTheUrlAreRefusedBeforeAnythingIsSent) {
    p.files.files[kOut].bytes = "earlier";
    for (const char *url : {"https://user:pw@graph.facebook.com/x", "https://user@graph.facebook.com",
                            "https://a@b/?c", "user:pw@host/x", "https:///u:p@host/", "https:/u:p@host/",
                            "1https://u:p@host/", "u:p@host/x?r=https://z", "https:\\\\u:p@host/"}) {
        EXPECT_EQ(Get(url), VFB_ERR_OPEN) << url;
    }
    EXPECT_TRUE(p.internet.calls.empty());
    EXPECT_EQ(p.files.files[kOut].bytes, "earlier");
    // An at sign after the authority is an ordinary character.
    p.internet.responseBody = "ok";
    EXPECT_EQ(Get("https://graph.facebook.com/x?email=a@b#c@d"), VFB_DONE);
    EXPECT_EQ(Get("https://graph.facebook.com/@me"), VFB_DONE);
}

TEST_F(Fetch, ASecondShorterBodyReplacesTheFirst) {
    p.internet.responseBody = std::string(3000, 'a');
    Get("https://x/");
    p.internet.responseBody = "b";
    Get("https://x/");
    EXPECT_EQ(p.files.files[kOut].bytes, "b");
}

class Notes : public ::testing::Test {
protected:
    int Run(NoteOperation op, const NoteArguments &args) {
        int result = RunNoteOperation(p.get(), op, args, W(kOut).c_str());
        EXPECT_EQ(p.internet.openHandles(), 0);
        return result;
    }
    FakePlatform p;
};

TEST_F(Notes, EachOperationComposesItsUrl) {
    const WString title = W("My note & more"), content = W("line1\r\nline2"), token = W("T&K"),
                  uid = W("u 1"), note = W("200"), owner = W("100");
    p.internet.responseBody = "{}";
    NoteArguments a;
    a.title = title.c_str();
    a.content = content.c_str();
    a.accessToken = token.c_str();
    a.uid = uid.c_str();
    a.noteId = note.c_str();
    a.ownerId = owner.c_str();
    EXPECT_EQ(Run(NoteOperation::kCreate, a), VFB_DONE);
    EXPECT_EQ(Run(NoteOperation::kEdit, a), VFB_DONE);
    EXPECT_EQ(Run(NoteOperation::kView, a), VFB_DONE);
    EXPECT_EQ(Run(NoteOperation::kDelete, a), VFB_DONE);
    ASSERT_EQ(p.internet.requests.size(), 4u);
    // Identifiers go in unchanged (the target escaping alone turns the space into %20).
    EXPECT_EQ(p.internet.requests[0].target,
              "https://api.facebook.com/method/notes.create?uid=u%201&title=My%20note%20%26%20more"
              "&content=line1%0D%0Aline2&access_token=T&K");
    EXPECT_EQ(p.internet.requests[1].target,
              "https://api.facebook.com/method/notes.edit?note_id=200&uid=u%201&title=My%20note%20%26%20more"
              "&content=line1%0D%0Aline2&access_token=T&K");
    EXPECT_EQ(p.internet.requests[2].target, "https://graph.facebook.com/100_200?access_token=T&K");
    EXPECT_EQ(p.internet.requests[3].target,
              "https://api.facebook.com/method/notes.delete?note_id=200&uid=u%201&access_token=T&K");
    for (const auto &r : p.internet.requests) EXPECT_EQ(r.agent, "FTP_to_AIX");
}

TEST_F(Notes, ReturnWhatTheFetchReturnedSoAFailureIsNeverReadAsThisCallsAnswer) {
    p.files.files[kOut].bytes = "earlier";
    NoteArguments a;
    p.internet.failOnCall[Step::kOpenUrl] = 1;
    EXPECT_EQ(Run(NoteOperation::kView, a), VFB_ERR_OPEN);
    p.internet.failOnCall = {{Step::kOpen, 1}};
    p.internet.calls.clear();
    EXPECT_EQ(Run(NoteOperation::kDelete, a), VFB_ERR_OPEN_ROOT_OR_MEDIA);
    EXPECT_EQ(p.files.files[kOut].bytes, "earlier");
}

TEST_F(Notes, ANumberSignNeverCutsTheUrl) {
    const WString title = W("C# tips"), content = W("#1 & #2"), token = W("T#K"), uid = W("u#1");
    NoteArguments a;
    a.title = title.c_str();
    a.content = content.c_str();
    a.accessToken = token.c_str();
    a.uid = uid.c_str();
    EXPECT_EQ(Run(NoteOperation::kCreate, a), VFB_DONE);
    EXPECT_EQ(p.internet.requests.at(0).target,
              "https://api.facebook.com/method/notes.create?uid=u%231&title=C%23%20tips"
              "&content=%231%20%26%20%232&access_token=T%23K");
}

TEST_F(Notes, OverlongTextsOrUrlsSendNothing) {
    NoteArguments a;
    const WString longTitle = W(std::string(400, '&'));
    a.title = longTitle.c_str();
    EXPECT_EQ(Run(NoteOperation::kCreate, a), VFB_ERR_OPEN);
    NoteArguments b;
    const WString token = W(std::string(1990, 't'));
    b.accessToken = token.c_str();
    EXPECT_EQ(Run(NoteOperation::kView, b), VFB_ERR_OPEN);
    EXPECT_TRUE(p.internet.calls.empty());
    EXPECT_EQ(p.files.opens, 0);
}

}  // namespace
}  // namespace vfb
