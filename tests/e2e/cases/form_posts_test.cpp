// Graph form posts beyond the rows.
#include "rows.h"

namespace e2e {
namespace {

using FormPosts = E2ETest;

using FormFn = int (*)(const VFB_WCHAR *, const VFB_WCHAR *, const VFB_WCHAR *, const VFB_WCHAR *,
                       const VFB_WCHAR *);
struct Named {
    const char *name;
    FormFn fn;
};
const Named kAll[] = {{"FaceBookStatus", FaceBookStatus},
                      {"FaceBookCheckIn", FaceBookCheckIn},
                      {"FaceBookEvents", FaceBookEvents},
                      {"FaceBookDelete", FaceBookDelete}};

// extraText (and FaceBookDelete's two texts) do not change the request.
TEST_F(FormPosts, IgnoredTextsSendIdenticalRequests) {
    E2E_NEED_SERVICE();
    for (const auto &f : kAll) {
        SCOPED_TRACE(f.name);
        ResetRecording();
        WriteScript({Response::Ok("{}"), Response::Ok("{}")});
        auto out = WidePath(Out());
        bool isDelete = std::string(f.name) == "FaceBookDelete";
        EXPECT_EQ(f.fn(Widen(isDelete ? "first" : "same text").c_str(), Widen("TOKEN").c_str(),
                       Widen("100").c_str(), Widen("extra one").c_str(), out.c_str()),
                  VFB_DONE);
        EXPECT_EQ(
            f.fn(Widen(isDelete ? "second & {x}" : "same text").c_str(), Widen("TOKEN").c_str(),
                 Widen("100").c_str(), Widen("a completely different extra {y} & z").c_str(), out.c_str()),
            VFB_DONE);
        auto requests = WaitForRequests(2);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].raw, requests[1].raw) << Printable(requests[0].raw) << "\n"
                                                    << Printable(requests[1].raw);
    }
}

// 1998 bytes give 999 and a file of 1998 bytes; 1999 give 5 and
// leave that file in place.
TEST_F(FormPosts, TooLargeKeepsPreviousFile) {
    E2E_NEED_SERVICE();
    for (const auto &f : kAll) {
        SCOPED_TRACE(f.name);
        RemoveFile(Out());
        std::string fits(1998, 'k'), tooLarge(1999, 'n');
        fits[0] = '{';
        WriteScript({Response::Ok(fits), Response::Ok(tooLarge)});
        auto out = WidePath(Out());
        auto call = [&] {
            return f.fn(Widen("m").c_str(), Widen("T").c_str(), Widen("1").c_str(), Widen("").c_str(),
                        out.c_str());
        };
        EXPECT_EQ(call(), VFB_DONE);
        std::string bytes;
        ASSERT_TRUE(ReadFile(Out(), &bytes));
        EXPECT_EQ(bytes, fits);
        EXPECT_EQ(call(), VFB_ERR_TOO_LARGE);
        ASSERT_TRUE(ReadFile(Out(), &bytes));
        EXPECT_EQ(bytes, fits) << "the earlier file must stay";
    }
}

// Fixed values: every check-in sends the same place and coordinates, every
// event the same start time, whatever the texts.
TEST_F(FormPosts, FixedValuesOnEveryCall) {
    E2E_NEED_SERVICE();
    WriteScript({Response::Ok("{}"), Response::Ok("{}"), Response::Ok("{}"), Response::Ok("{}")});
    auto out = WidePath(Out());
    EXPECT_EQ(
        FaceBookCheckIn(Widen("x").c_str(), Widen("A").c_str(), Widen("1").c_str(), nullptr, out.c_str()),
        VFB_DONE);
    EXPECT_EQ(
        FaceBookCheckIn(Widen("y z").c_str(), Widen("B").c_str(), Widen("2").c_str(), nullptr, out.c_str()),
        VFB_DONE);
    EXPECT_EQ(
        FaceBookEvents(Widen("x").c_str(), Widen("A").c_str(), Widen("1").c_str(), nullptr, out.c_str()),
        VFB_DONE);
    EXPECT_EQ(
        FaceBookEvents(Widen("y").c_str(), Widen("B").c_str(), Widen("2").c_str(), nullptr, out.c_str()),
        VFB_DONE);
    auto r = WaitForRequests(4);
    ASSERT_EQ(r.size(), 4u);
    const std::string coords =
        "&place=Vantrel&coordinates={\"latitude\":\"43.24022\",%20\"longitude\":%20\"-79.8533\"}";
    for (int i = 0; i < 2; ++i) {
        const std::string &t = r[i].target;
        ASSERT_GE(t.size(), coords.size());
        EXPECT_EQ(t.substr(t.size() - coords.size()), coords) << t;
    }
    for (int i = 2; i < 4; ++i) {
        const std::string &t = r[i].target;
        EXPECT_EQ(t.substr(t.size() - 22), "&start_time=1272718027") << t;
    }
}

}  // namespace
}  // namespace e2e
