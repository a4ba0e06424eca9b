// The tool's command-line contract, observed through a recording fake of the
// library: what reaches which export, in which order, and what the user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "fake_library.h"

namespace vfbtool::fake {
namespace {

using Args = std::vector<std::string>;

int CountLines(const std::string &s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

bool Contains(const std::string &haystack, const std::string &needle) {
    return haystack.find(needle) != std::string::npos;
}

// Every export of the header's ordinal table has exactly one command.
TEST(CommandTable, CoversTheTwelveExports) {
    std::multiset<std::string> commands, header;
    for (int c = 0; c <= static_cast<int>(Command::kSignIn); ++c)
        commands.insert(ExportName(static_cast<Command>(c)));
    for (int ordinal = 1; ordinal <= 12; ++ordinal) header.insert(vfb_export_name(ordinal));
    EXPECT_EQ(commands, header);
}

// ---------------------------------------------------------------------------
// Command lines that must be refused before anything is sent.

struct UsageCase {
    const char *label;
    Args args;
    const char *env_token;
    std::vector<std::string> mentions;  // the message must point at these
};

std::ostream &operator<<(std::ostream &os, const UsageCase &c) { return os << c.label; }

class UsageError : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageError, ExitsWithTheUsageStatusAndNeverCallsTheLibrary) {
    const UsageCase &c = GetParam();
    FakeLibrary fake;
    const RunResult r = RunTool(fake, c.args, c.env_token);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(fake.Recorded().empty()) << "the library was called: " << fake.Recorded().front().export_name;
    EXPECT_TRUE(r.out.empty()) << r.out;
    for (const std::string &m : c.mentions)
        EXPECT_TRUE(Contains(r.err, m)) << "missing '" << m << "' in:\n" << r.err;
}

const Args kStatusNoToken = {"status", "--message", "m", "--target", "t", "--out", "o"};

Args With(Args base, std::initializer_list<std::string> more) {
    base.insert(base.end(), more);
    return base;
}

INSTANTIATE_TEST_SUITE_P(
    Refused, UsageError,
    ::testing::Values(
        UsageCase{"nothing", {}, nullptr, {"no subcommand"}},
        UsageCase{"unknown subcommand", {"post", "--message", "m"}, nullptr, {"'post'"}},
        UsageCase{"note without action", {"note"}, nullptr, {"create", "edit", "view", "delete"}},
        UsageCase{
            "unknown note action", {"note", "publish"}, nullptr, {"'publish'", "vantrelfb note --help"}},
        UsageCase{"option before the subcommand", {"--token", "k", "status"}, nullptr, {"'--token'"}},
        UsageCase{"every required option missing",
                  {"status"},
                  nullptr,
                  {"--message", "--token", "--target", "--out", "vantrelfb status --help"}},
        UsageCase{"output file missing", {"fetch", "--url", "https://h/x"}, nullptr, {"--out"}},
        UsageCase{"no token anywhere", kStatusNoToken, nullptr, {"--token", "VANTRELFB_TOKEN"}},
        UsageCase{"empty token variable counts as unset", kStatusNoToken, "", {"--token"}},
        UsageCase{"token variable not UTF-8", kStatusNoToken, "ab\xC3", {"VANTRELFB_TOKEN", "UTF-8"}},
        UsageCase{
            "invalid byte", {"fetch", "--url", "https://h/\xFF", "--out", "o"}, nullptr, {"--url", "UTF-8"}},
        UsageCase{"overlong encoding",
                  With(kStatusNoToken, {"--token", "k", "--extra", "\xC0\xAF"}),
                  nullptr,
                  {"--extra", "UTF-8"}},
        UsageCase{"encoded surrogate",
                  {"note", "create", "--title", "t", "--token", "k", "--uid", "u", "--content",
                   "\xED\xA0\x80", "--out", "o"},
                  nullptr,
                  {"--content", "UTF-8", "vantrelfb note create --help"}},
        UsageCase{"truncated sequence",
                  {"event", "--name", "caf\xC3", "--token", "k", "--target", "t", "--out", "o"},
                  nullptr,
                  {"--name", "UTF-8"}},
        UsageCase{"invalid byte in a path",
                  {"fetch", "--url", "u", "--out", "r\xE9sultat.json"},
                  nullptr,
                  {"--out", "UTF-8"}},
        UsageCase{
            "unknown option", {"fetch", "--url", "u", "--out", "o", "--verbose"}, nullptr, {"'--verbose'"}},
        UsageCase{"option of another subcommand",
                  {"fetch", "--url", "u", "--out", "o", "--token", "k"},
                  nullptr,
                  {"--token", "fetch"}},
        UsageCase{"uid given to note view",
                  {"note", "view", "--token", "k", "--owner", "w", "--note", "n", "--out", "o", "--uid", "u"},
                  nullptr,
                  {"--uid", "note view"}},
        UsageCase{"signin takes no options", {"signin", "--out", "o"}, nullptr, {"--out", "signin"}},
        UsageCase{"stray word", {"fetch", "--url", "u", "--out", "o", "now"}, nullptr, {"'now'"}},
        UsageCase{"value missing at the end", {"fetch", "--url", "u", "--out"}, nullptr, {"--out", "value"}},
        UsageCase{
            "option where a value belongs", {"fetch", "--url", "--out", "o"}, nullptr, {"--url", "value"}},
        UsageCase{"option repeated",
                  {"fetch", "--url", "u", "--url", "v", "--out", "o"},
                  nullptr,
                  {"--url", "more than once"}},
        UsageCase{"empty output path", {"fetch", "--url", "u", "--out="}, nullptr, {"--out"}},
        UsageCase{"empty media path",
                  {"photo", "--media", "", "--target", "t", "--token", "k", "--out", "o"},
                  nullptr,
                  {"--media"}},
        UsageCase{"short option", {"fetch", "-u", "x"}, nullptr, {"'-u'"}},
        UsageCase{"help for an unknown subcommand", {"help", "bogus"}, nullptr, {"'bogus'"}},
        UsageCase{"help with too many words", {"help", "status", "now"}, nullptr, {"help"}}),
    [](const ::testing::TestParamInfo<UsageCase> &info) {
        std::string name;
        for (char c : std::string(info.param.label))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(UsageErrorText, ShowsControlAndBrokenBytesEscaped) {
    FakeLibrary fake;
    const RunResult r = RunTool(fake, {"po\x1b[2Jst\xFF"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_FALSE(Contains(r.err, "\x1b")) << r.err;
    EXPECT_FALSE(Contains(r.err, "\xFF")) << r.err;
    EXPECT_TRUE(Contains(r.err, "\\x1b")) << r.err;
    EXPECT_TRUE(Contains(r.err, "\\xff")) << r.err;
}

// ---------------------------------------------------------------------------
// Every option reaches its parameter. The expected lists follow the argument
// order in vantrelfb.h; the command lines deliberately give the options in
// another order.

struct CallCase {
    const char *label;
    Args args;
    std::string export_name;
    std::vector<std::u16string> expected;
};

std::ostream &operator<<(std::ostream &os, const CallCase &c) { return os << c.label; }

const std::vector<CallCase> &AllCalls() {
    static const std::vector<CallCase> cases = {
        {"fetch",
         {"fetch", "--out", "body.txt", "--url", "https://graph.example/me"},
         "FaceBookToken",
         {u"https://graph.example/me", u"body.txt"}},
        {"status",
         {"status", "--out", "O", "--extra", "X", "--target", "T", "--token", "K", "--message", "M"},
         "FaceBookStatus",
         {u"M", u"K", u"T", u"X", u"O"}},
        {"checkin",
         {"checkin", "--extra", "X", "--token", "K", "--out", "O", "--message", "M", "--target", "T"},
         "FaceBookCheckIn",
         {u"M", u"K", u"T", u"X", u"O"}},
        {"event",
         {"event", "--target", "T", "--name", "N", "--out", "O", "--token", "K", "--extra", "X"},
         "FaceBookEvents",
         {u"N", u"K", u"T", u"X", u"O"}},
        {"delete",
         {"delete", "--extra2", "Y", "--object", "B", "--out", "O", "--extra", "X", "--token", "K"},
         "FaceBookDelete",
         {u"X", u"K", u"B", u"Y", u"O"}},
        {"note_create",
         {"note", "create", "--content", "C", "--uid", "U", "--title", "Ti", "--token", "K", "--out", "O"},
         "FaceBookNotes",
         {u"Ti", u"K", u"U", u"C", u"O"}},
        {"note_edit",
         {"note", "edit", "--uid", "U", "--content", "C", "--note", "N", "--token", "K", "--title", "Ti",
          "--out", "O"},
         "FaceBookNotesEdit",
         {u"Ti", u"K", u"N", u"C", u"U", u"O"}},
        {"note_view",
         {"note", "view", "--note", "N", "--owner", "W", "--out", "O", "--token", "K"},
         "FaceBookNotesView",
         {u"K", u"W", u"N", u"O"}},
        {"note_delete",
         {"note", "delete", "--uid", "U", "--note", "N", "--token", "K", "--out", "O"},
         "FaceBookNotesDelete",
         {u"K", u"N", u"U", u"O"}},
        {"photo",
         {"photo", "--token", "K", "--message", "M", "--out", "O", "--target", "T", "--media", "P.jpg"},
         "FaceBookPictureUpload",
         {u"P.jpg", u"T", u"M", u"K", u"O"}},
        {"video",
         {"video", "--title", "Ti", "--token", "K", "--media", "V.mp4", "--out", "O", "--target", "T"},
         "FaceBookVideoUpload",
         {u"V.mp4", u"T", u"Ti", u"K", u"O"}},
    };
    return cases;
}

// The words naming the subcommand at the start of a case's command line.
Args CommandWords(const Args &args) { return args[0] == "note" ? Args{args[0], args[1]} : Args{args[0]}; }

class EachExport : public ::testing::TestWithParam<CallCase> {};

TEST_P(EachExport, ReceivesEveryOptionAsItsParameterExactlyOnce) {
    const CallCase &c = GetParam();
    FakeLibrary fake;
    const RunResult r = RunTool(fake, c.args, "ENV-TOKEN-NOT-WANTED");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].export_name, c.export_name);
    std::vector<WString> expected;
    for (const std::u16string &e : c.expected) expected.push_back(Wide(e));
    EXPECT_EQ(fake.Recorded()[0].args, expected);
}

TEST_P(EachExport, HelpNamesTheExportAndEveryOptionWithoutCallingIt) {
    const CallCase &c = GetParam();
    FakeLibrary fake;
    const RunResult help = RunTool(fake, With(CommandWords(c.args), {"--help"}));
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.empty());
    EXPECT_TRUE(Contains(help.out, c.export_name)) << help.out;
    for (const std::string &a : c.args) {
        if (a.rfind("--", 0) == 0) {
            EXPECT_TRUE(Contains(help.out, a)) << a << " not in:\n" << help.out;
        }
    }

    // The same text however it is asked for, even after valid options.
    Args help_word = {"help"};
    for (const std::string &w : CommandWords(c.args)) help_word.push_back(w);
    EXPECT_EQ(RunTool(fake, help_word).out, help.out);
    EXPECT_EQ(RunTool(fake, With(c.args, {"-h"})).out, help.out);
    EXPECT_TRUE(fake.Recorded().empty());

    std::string name;
    for (const std::string &w : CommandWords(c.args)) name += (name.empty() ? "" : " ") + w;
    EXPECT_TRUE(Contains(RunTool(fake, {"--help"}).out, "  " + name + " ")) << name;
}

INSTANTIATE_TEST_SUITE_P(Exports, EachExport, ::testing::ValuesIn(AllCalls()),
                         [](const ::testing::TestParamInfo<CallCase> &info) { return info.param.label; });

TEST(Arguments, AbsentOptionalTextsArriveAsEmptyStringsNotNull) {
    FakeLibrary fake;
    ASSERT_EQ(RunTool(fake, {"delete", "--token", "K", "--object", "B", "--out", "O"}).status, 0);
    ASSERT_EQ(RunTool(fake, {"photo", "--media", "P", "--target", "T", "--token", "K", "--out", "O"}).status,
              0);
    ASSERT_EQ(RunTool(fake, {"video", "--media", "V", "--target", "T", "--token", "K", "--out", "O"}).status,
              0);
    ASSERT_EQ(fake.Recorded().size(), 3u);
    EXPECT_EQ(fake.Recorded()[0].args,
              (std::vector<WString>{Wide(u""), Wide(u"K"), Wide(u"B"), Wide(u""), Wide(u"O")}));
    EXPECT_EQ(fake.Recorded()[1].args[2], Wide(u""));
    EXPECT_EQ(fake.Recorded()[2].args[2], Wide(u""));
}

TEST(Arguments, Utf8TextsArriveAsUtf16IncludingSurrogatePairs) {
    FakeLibrary fake;
    const RunResult r = RunTool(fake, {"status", "--message",
                                       "Gr\xC3\xBC\xC3\x9F"
                                       "e \xE2\x82\xAC \xF0\x9F\x98\x80",
                                       "--token", "K", "--target", "T", "--out", "\xE6\x97\xA5.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].args[0], Wide(u"Gr\u00FC\u00DFe \u20AC \U0001F600"));
    EXPECT_EQ(fake.Recorded()[0].args[4], Wide(u"\u65E5.json"));
    // The report names the output file as the user typed it.
    EXPECT_TRUE(Contains(r.err, "\xE6\x97\xA5.json")) << r.err;
}

TEST(Arguments, EqualsFormCarriesValuesThatLookLikeOptions) {
    FakeLibrary fake;
    ASSERT_EQ(
        RunTool(fake, {"status", "--message=--not-an-option", "--token=a=b", "--target", "-", "--out=o"})
            .status,
        0);
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].args[0], Wide(u"--not-an-option"));
    EXPECT_EQ(fake.Recorded()[0].args[1], Wide(u"a=b"));
    EXPECT_EQ(fake.Recorded()[0].args[2], Wide(u"-"));
}

TEST(Arguments, ExplicitlyEmptyTextIsPassedOn) {
    FakeLibrary fake;
    ASSERT_EQ(
        RunTool(fake, {"status", "--message", "", "--token", "K", "--target", "T", "--out", "O"}).status, 0);
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].args[0], Wide(u""));
}

// ---------------------------------------------------------------------------
// VANTRELFB_TOKEN

TEST(EnvironmentToken, StandsInForAMissingTokenOption) {
    FakeLibrary fake;
    ASSERT_EQ(RunTool(fake, kStatusNoToken, "EAAB\xC3\xA9").status, 0);
    ASSERT_EQ(RunTool(fake, {"note", "view", "--owner", "W", "--note", "N", "--out", "O"}, "ENV").status, 0);
    ASSERT_EQ(fake.Recorded().size(), 2u);
    EXPECT_EQ(fake.Recorded()[0].args[1], Wide(u"EAAB\u00E9"));
    EXPECT_EQ(fake.Recorded()[1].args[0], Wide(u"ENV"));
}

TEST(EnvironmentToken, TheOptionWinsEvenOverAnUnusableVariable) {
    FakeLibrary fake;
    ASSERT_EQ(RunTool(fake, With(kStatusNoToken, {"--token", "OPT"}), "ENV").status, 0);
    ASSERT_EQ(RunTool(fake, With(kStatusNoToken, {"--token", "OPT"}), "\xFF").status, 0);
    ASSERT_EQ(fake.Recorded().size(), 2u);
    EXPECT_EQ(fake.Recorded()[0].args[1], Wide(u"OPT"));
    EXPECT_EQ(fake.Recorded()[1].args[1], Wide(u"OPT"));
}

TEST(EnvironmentToken, IsIgnoredByCallsThatTakeNoToken) {
    FakeLibrary fake;
    fake.location = Wide(u"https://dialog.example/x");
    EXPECT_EQ(RunTool(fake, {"fetch", "--url", "u", "--out", "o"}, "\xFF").status, 0);
    EXPECT_EQ(RunTool(fake, {"signin"}, "\xFF").status, 0);
    ASSERT_EQ(fake.Recorded().size(), 2u);
    EXPECT_EQ(fake.Recorded()[0].args, (std::vector<WString>{Wide(u"u"), Wide(u"o")}));
}

// ---------------------------------------------------------------------------
// Result codes: the exit status and the line on standard error.

// Every code vantrelfb.h defines.
const int kHeaderCodes[] = {
    VFB_DONE,          VFB_ERR_OPEN_ROOT_OR_MEDIA, VFB_ERR_OPEN,       VFB_ERR_SEND,         VFB_ERR_READ,
    VFB_ERR_TOO_LARGE, VFB_ERR_MEDIA_READ,         VFB_ERR_SEND_CHUNK, VFB_ERR_SEND_CLOSING, VFB_ERR_START,
    VFB_ERR_CONNECT};

TEST(ResultCodes, EachMapsToItsOwnExitStatusAndOnlyDoneToZero) {
    std::set<int> seen;
    const std::set<int> reserved = {kExitUsage, kExitEmptyLocation, kExitUnknownResult, kExitOutputFailed};
    for (int code : kHeaderCodes) {
        FakeLibrary fake;
        fake.result = code;
        const RunResult r =
            RunTool(fake, {"photo", "--media", "p.jpg", "--target", "T", "--token", "K", "--out", "o"});
        ASSERT_EQ(fake.Recorded().size(), 1u);
        if (code == VFB_DONE) {
            EXPECT_EQ(r.status, 0);
        } else {
            EXPECT_GE(r.status, 1) << code;
            // Shells give statuses above 125 other meanings.
            EXPECT_LE(r.status, 125) << code;
            EXPECT_EQ(reserved.count(r.status), 0u) << "code " << code << " -> " << r.status;
        }
        EXPECT_TRUE(seen.insert(r.status).second) << "code " << code << " shares exit status " << r.status;
    }
    EXPECT_EQ(seen.size(), std::size(kHeaderCodes));
}

TEST(ResultCodes, OneLineOnStandardErrorSaysWhatHappenedToTheOutputFile) {
    for (int code : kHeaderCodes) {
        FakeLibrary fake;
        fake.result = code;
        const RunResult r = RunTool(
            fake, {"status", "--message", "m", "--token", "K", "--target", "T", "--out", "reply.json"});
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "FaceBookStatus returned " + std::to_string(code) + ":")) << r.err;
        EXPECT_TRUE(Contains(r.err, vfb_result_meaning(code, nullptr))) << r.err;
        EXPECT_TRUE(Contains(r.err, "'reply.json'")) << r.err;
        EXPECT_EQ(Contains(r.err, "left as it was"), code != VFB_DONE) << r.err;
    }
}

TEST(ResultCodes, UnknownCodesGetTheirOwnStatusAndNoClaimAboutTheFile) {
    for (int code : {0, 6, -1, 1000}) {
        FakeLibrary fake;
        fake.result = code;
        const RunResult r = RunTool(fake, {"fetch", "--url", "u", "--out", "o"});
        EXPECT_EQ(r.status, kExitUnknownResult) << code;
        EXPECT_TRUE(Contains(r.err, "returned " + std::to_string(code) + ":")) << r.err;
        EXPECT_FALSE(Contains(r.err, "left as it was")) << r.err;
        EXPECT_FALSE(Contains(r.err, "written if")) << r.err;
    }
    EXPECT_FALSE(std::count(std::begin(kHeaderCodes), std::end(kHeaderCodes), 0));
}

TEST(ResultCodes, ToolHelpDocumentsTheStatusOfEveryCode) {
    FakeLibrary fake;
    const std::string help = RunTool(fake, {"--help"}).out;
    std::istringstream lines(help);
    std::string line;
    std::set<int> documented;
    while (std::getline(lines, line)) {
        for (int code : kHeaderCodes) {
            if (!Contains(line, "result " + std::to_string(code) + ":")) continue;
            fake.result = code;
            const int status = RunTool(fake, {"fetch", "--url", "u", "--out", "o"}).status;
            std::istringstream fields(line);
            int shown = -1;
            fields >> shown;
            EXPECT_EQ(shown, status) << line;
            documented.insert(code);
        }
    }
    EXPECT_EQ(documented.size(), std::size(kHeaderCodes)) << help;
    for (int status : {kExitUsage, kExitEmptyLocation, kExitUnknownResult, kExitOutputFailed})
        EXPECT_TRUE(Contains(help, "\n  " + std::to_string(status) + " ")) << status;
}

// ---------------------------------------------------------------------------
// signin

TEST(SignIn, PrintsTheLocationAsUtf8AndSucceeds) {
    FakeLibrary fake;
    fake.location = Wide(u"https://www.example.com/connect/login_success.html#state=\u00E9\U0001F600");
    const RunResult r = RunTool(fake, {"signin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "https://www.example.com/connect/login_success.html#state=\xC3\xA9\xF0\x9F\x98\x80\n");
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].export_name, "FaceBookTokenGraph");
}

TEST(SignIn, AnEmptyOrNullLocationIsAFailureOfItsOwn) {
    for (bool null : {false, true}) {
        FakeLibrary fake;
        fake.null_location = null;
        const RunResult r = RunTool(fake, {"signin"});
        EXPECT_EQ(r.status, kExitEmptyLocation);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.status, kExitUsage);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_EQ(fake.Recorded().size(), 1u);
    }
}

// ---------------------------------------------------------------------------
// Help and version

TEST(Help, EveryFormIsSuccessOnStandardOutputWithoutACall) {
    FakeLibrary fake;
    const std::string tool = RunTool(fake, {"--help"}).out;
    for (const Args &args : {Args{"-h"}, Args{"help"}}) EXPECT_EQ(RunTool(fake, args).out, tool);
    EXPECT_TRUE(Contains(tool, "VANTRELFB_TOKEN"));
    for (const Args &args : {Args{"note", "--help"}, Args{"note", "-h"}, Args{"help", "note"},
                             Args{"signin", "--help"}, Args{"--version"}}) {
        const RunResult r = RunTool(fake, args);
        EXPECT_EQ(r.status, 0) << args.back();
        EXPECT_FALSE(r.out.empty());
        EXPECT_TRUE(r.err.empty());
    }
    EXPECT_TRUE(Contains(RunTool(fake, {"note", "--help"}).out, "FaceBookNotesEdit"));
    EXPECT_TRUE(Contains(RunTool(fake, {"status", "--help"}).out, "VANTRELFB_TOKEN"));
    EXPECT_FALSE(Contains(RunTool(fake, {"fetch", "--help"}).out, "VANTRELFB_TOKEN"));
    EXPECT_TRUE(fake.Recorded().empty());
}

}  // namespace
}  // namespace vfbtool::fake
